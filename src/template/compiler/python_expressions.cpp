// The Python backend's reading of template expressions and <c-for> loop
// headers. Both run the sandboxing rewriter's check-only walk: the parser needs
// the names and comments, never the rewritten tree.
#include <fmt/format.h>

#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "hashing/keyed_hash.h"
#include "pyexpr/ast.h"
#include "pyexpr/lexer.h"
#include "pyexpr/parser.h"
#include "safe_eval/messages.h"
#include "safe_eval/transform.h"
#include "template/compiler/messages.h"
#include "template/compiler/python_backend.h"
#include "text/line_cursor.h"
#include "text/unicode.h"

namespace lumra::template_compiler {
namespace {

using template_ast::LineCol;
using template_ast::Token;

// A loop header is read as the clauses of a generator expression. The line
// feed keeps a `#` comment at the end of `each` off the closing parenthesis.
constexpr std::string_view kLoopOpen = "(None for ";
constexpr std::string_view kLoopClose = "\n)";
constexpr std::uint64_t kLoopPrefixLen = kLoopOpen.size();
static_assert(kLoopPrefixLen == 10);

// The kind index shown in the loop-target message is the kind's place in this
// order; the expression tree declares its kinds in the same order.
static_assert(static_cast<int>(pyexpr::ExprKind::BoolOp) == 0);
static_assert(static_cast<int>(pyexpr::ExprKind::Generator) == 11);
static_assert(static_cast<int>(pyexpr::ExprKind::Attribute) == 25);
static_assert(static_cast<int>(pyexpr::ExprKind::Subscript) == 26);
static_assert(static_cast<int>(pyexpr::ExprKind::Name) == 28);
static_assert(static_cast<int>(pyexpr::ExprKind::List) == 29);
static_assert(static_cast<int>(pyexpr::ExprKind::IpyEscapeCommand) == 32);

std::uint64_t below_loop_prefix(std::uint64_t offset) { return offset > kLoopPrefixLen ? offset - kLoopPrefixLen : 0; }

// The header's iterables and conditions take the chains that `{{ }}` takes.
// Read as a generator, the header stands two levels (the generator, its
// clause) below the tree's top; read as an expression, up to three (a tuple of
// targets over the `in` comparison, under the generator of later clauses).
// Those levels may pass the parser's limit: every iterable and condition is
// read again alone, under the limit, before a header is taken.
constexpr std::uint32_t kLoopClauseLevels = 2;
constexpr std::uint32_t kLoopExpressionLevels = 3;

// The parser's refusal of a tree past its height or nesting limit, as the
// parse step words it.
bool refused_as_too_deep(std::string_view message) {
  constexpr std::string_view kPrefix = safe_eval::msg::kParseErrorPrefix;
  if (!message.starts_with(kPrefix)) return false;
  message.remove_prefix(kPrefix.size());
  return message.starts_with(pyexpr::kTooDeepMessage) &&
         message.substr(pyexpr::kTooDeepMessage.size()).starts_with(" at byte range ");
}

// Lines and columns in one text as the template counts them: lines end at LF
// only, columns count characters, both from 1. An offset beyond the text
// counts as its end; an offset (or a line start) inside a character gets
// column 1. Offsets asked in increasing order cost their distance.
class LineColumnCursor {
 public:
  explicit LineColumnCursor(std::string_view text) : cursor_(text, text::LineCursor::Breaks::Lf) {}

  LineCol offset_line_column(std::uint64_t offset) {
    const auto at = cursor_.at(static_cast<std::size_t>(std::min<std::uint64_t>(offset, SIZE_MAX)));
    return {at.line, at.on_boundary ? at.column : 1};
  }

 private:
  text::LineCursor cursor_;
};

// The token's text views into `whole` (one buffer for the expression) when it
// is the text at its span, as names and comments are.
Token to_token(safe_eval::ExprToken&& t, const template_ast::TokenText& whole) {
  std::string_view at;
  if (t.start_index <= t.end_index && t.end_index <= whole.size()) {
    at = whole.view().substr(t.start_index, t.end_index - t.start_index);
  }
  return Token{at == t.content ? template_ast::TokenText::slice_of(whole, at) : template_ast::TokenText(t.content),
               t.start_index, t.end_index, LineCol{t.line, t.column}};
}

// The rewriter's line index also ends lines at a lone CR; the template does
// not, so in a text that holds one the lines and columns are counted again.
void recount_lines(std::string_view text, ParsedExpression& parsed) {
  if (text.find('\r') == std::string_view::npos) return;
  LineColumnCursor names(text);
  for (auto& token : parsed.used_variables) token.line_col = names.offset_line_column(token.start_index);
  LineColumnCursor assigned(text);
  for (auto& token : parsed.assigned_variables) token.line_col = assigned.offset_line_column(token.start_index);
  LineColumnCursor comments(text);
  for (auto& comment : parsed.comments) {
    comment.token.line_col = comments.offset_line_column(comment.token.start_index);
    comment.value.line_col = comments.offset_line_column(comment.value.start_index);
  }
}

// Appends the names one comprehension target binds: names, starred names and
// tuples of them, in source order, each spelled as written in `each` (a token
// is a piece of the template text), and their NFKC forms to `normalised`.
// Walks with its own stack: a target's depth is the caller's input.
std::optional<std::string> collect_loop_targets(const pyexpr::Expr& target, std::string_view each,
                                                LineColumnCursor& positions, template_ast::List<Token>& out,
                                                std::vector<std::string_view>& normalised) {
  std::vector<const pyexpr::Expr*> pending{&target};
  while (!pending.empty()) {
    const pyexpr::Expr* expr = pending.back();
    pending.pop_back();
    while (const auto* starred = expr->as_if<pyexpr::ExprStarred>()) {
      if (!starred->value) break;
      expr = starred->value.get();
    }
    if (const auto* name = expr->as_if<pyexpr::ExprName>()) {
      const std::uint64_t start = below_loop_prefix(name->range.start().raw);
      const std::uint64_t end = below_loop_prefix(name->range.end().raw);
      const std::string_view written = start <= end && end <= each.size() ? each.substr(start, end - start) : name->id.view();
      out.push_back(Token{std::string(written), start, end, positions.offset_line_column(start)});
      // The lexer stores names in their NFKC form.
      normalised.push_back(name->id.view());
    } else if (const auto* tuple = expr->as_if<pyexpr::ExprTuple>()) {
      for (auto it = tuple->elts.rbegin(); it != tuple->elts.rend(); ++it) pending.push_back(&*it);
    } else {
      return fmt::format(fmt::runtime(msg::kInvalidLoopTarget),
                         fmt::format("Discriminant({})", static_cast<int>(expr->kind())));
    }
  }
  return std::nullopt;
}

// Appends the names one iterable or condition of the header reads, except those
// bound so far (`seen`, NFKC forms), positioned in `each`.
std::optional<std::string> map_clause_variables(const pyexpr::Expr& expression, std::string_view wrapped,
                                                const hashing::TextSet<std::string_view>& seen,
                                                LineColumnCursor& positions, template_ast::List<Token>& out) {
  const std::uint64_t start = expression.range().start().raw;
  const std::uint64_t end = expression.range().end().raw;
  if (start < kLoopPrefixLen || end > wrapped.size()) return std::string(msg::kLoopRangeOutsideHeader);
  auto parsed = python_parse_expression(wrapped.substr(start, end - start));
  if (auto* message = std::get_if<std::string>(&parsed)) return std::move(*message);
  const std::uint64_t shift = start - kLoopPrefixLen;
  for (auto& token : std::get<ParsedExpression>(parsed).used_variables) {
    // Targets are stored normalised by the lexer; names read are kept as written.
    const bool bound = text::is_ascii(token.content) ? seen.contains(token.content)
                                                     : seen.contains(text::nfkc(token.content));
    if (bound) continue;
    token.start_index += shift;
    token.end_index += shift;
    token.line_col = positions.offset_line_column(token.start_index);
    out.push_back(std::move(token));
  }
  return std::nullopt;
}

}  // namespace

ParseExpressionResult python_parse_expression(std::string_view text) {
  if (auto simple = parse_simple_expression(text)) return std::move(*simple);
  return python_parse_expression_in_full(text);
}

ParseExpressionResult python_parse_expression_in_full(std::string_view text, std::uint32_t max_tree_height) {
  auto scanned = safe_eval::scan_expression(text, max_tree_height);
  if (!scanned) return std::move(scanned).error();
  auto& scan = scanned.value();
  ParsedExpression parsed;
  const bool any = !scan.used_variables.empty() || !scan.assigned_variables.empty() || !scan.comments.empty();
  const template_ast::TokenText whole = any ? template_ast::TokenText(text) : template_ast::TokenText();
  parsed.used_variables.reserve(scan.used_variables.size());
  for (auto& t : scan.used_variables) parsed.used_variables.push_back(to_token(std::move(t), whole));
  parsed.assigned_variables.reserve(scan.assigned_variables.size());
  for (auto& t : scan.assigned_variables) parsed.assigned_variables.push_back(to_token(std::move(t), whole));
  parsed.comments.reserve(scan.comments.size());
  for (auto& c : scan.comments) {
    parsed.comments.push_back(
        template_ast::Comment{to_token(std::move(c.token), whole), to_token(std::move(c.value), whole)});
  }
  recount_lines(text, parsed);
  return parsed;
}

namespace {

LoopVariablesResult extract_loop_variables(std::string_view each, std::uint32_t max_tree_height) {
  std::string wrapped;
  wrapped.reserve(kLoopOpen.size() + each.size() + kLoopClose.size());
  wrapped.append(kLoopOpen).append(each).append(kLoopClose);
  // An `each` that closes the parenthesis itself ("x in a) + (b") parses, if
  // at all, as something other than one generator, which is refused below.
  auto parsed =
      safe_eval::parse_expression(wrapped, each, kLoopPrefixLen, safe_eval::Wrapping::AsParsed, max_tree_height);
  if (!parsed) return std::move(parsed).error();
  const auto* generator = parsed.value().as_if<pyexpr::ExprGenerator>();
  if (generator == nullptr) return std::string(msg::kEachNotComprehension);
  const auto& clauses = generator->generators;
  if (clauses.empty()) return std::string(msg::kEachWithoutClause);

  LoopVariables out;
  // The NFKC forms of loop_variables, viewing the parsed tree.
  std::vector<std::string_view> normalised;
  // Where each clause's names end in loop_variables.
  std::vector<std::size_t> clause_ends;
  clause_ends.reserve(clauses.size());
  LineColumnCursor target_positions(each);
  for (const auto& clause : clauses) {
    const std::size_t before = out.loop_variables.size();
    if (auto error = collect_loop_targets(clause.target, each, target_positions, out.loop_variables, normalised)) return std::move(*error);
    if (out.loop_variables.size() == before) return std::string(msg::kClauseWithoutVariable);
    clause_ends.push_back(out.loop_variables.size());
  }

  // An iterable sees the names of the clauses before it; a condition sees its
  // own clause's names too.
  hashing::TextSet<std::string_view> seen;
  std::size_t bound = 0;
  LineColumnCursor used_positions(each);
  for (std::size_t i = 0; i < clauses.size(); ++i) {
    if (auto error = map_clause_variables(clauses[i].iter, wrapped, seen, used_positions, out.used_variables)) {
      return std::move(*error);
    }
    for (; bound < clause_ends[i]; ++bound) seen.insert(normalised[bound]);
    for (const auto& condition : clauses[i].ifs) {
      if (auto error = map_clause_variables(condition, wrapped, seen, used_positions, out.used_variables)) {
        return std::move(*error);
      }
    }
  }
  return out;
}

}  // namespace

LoopVariablesResult python_extract_loop_variables(std::string_view each) {
  auto read = extract_loop_variables(each, pyexpr::kMaxTreeHeight);
  if (const auto* message = std::get_if<std::string>(&read); message && refused_as_too_deep(*message)) {
    // Targets are names and tuples of them, which the bracket limit keeps low;
    // the iterables and conditions were read again under the limit. A header
    // refused either way keeps its first answer.
    auto past_limit = extract_loop_variables(each, pyexpr::kMaxTreeHeight + kLoopClauseLevels);
    if (std::holds_alternative<LoopVariables>(past_limit)) return past_limit;
  }
  return read;
}

std::optional<ParsedExpression> python_parse_loop_header_past_limit(std::string_view each,
                                                                    const std::string& refusal) {
  if (!refused_as_too_deep(refusal)) return std::nullopt;
  auto parsed = python_parse_expression_in_full(each, pyexpr::kMaxTreeHeight + kLoopExpressionLevels);
  if (auto* expression = std::get_if<ParsedExpression>(&parsed);
      expression != nullptr && std::holds_alternative<LoopVariables>(python_extract_loop_variables(each))) {
    return std::move(*expression);
  }
  return std::nullopt;
}

}  // namespace lumra::template_compiler
