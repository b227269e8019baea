// Shared by the template parser and compiler harnesses: run parse_template's
// core over a text, clear the errors a template may earn, abort on any other
// outcome, and check a finished tree against the text it came from.
//
// A finished tree must hold:
// - every token lies inside the input, on character boundaries, its content
//   is the input's bytes at its span, and its line and column are those of
//   its start (lines end at LF; columns count characters; both from 1). The
//   one token with derived text is the name of an unnamed <c-slot>: it reads
//   "default" and spans the start tag, so only its span is checked;
// - the elements of a body follow one another in text order, each inside
//   the body of its parent (between the parent's start and end tags); a
//   tag's name and attributes lie inside the tag, in order, and an
//   attribute's key and value inside the attribute;
// - every level's lists are its pieces' lists, read as they stand: a body's
//   used variables are its elements' in order; a node's are its body's, less
//   the names it introduces, then its attributes' (less them too where the
//   attribute sees its loop); a node's comments are its body's, its end
//   tag's, its attributes', then its start tag's (without a body: its start
//   tag's, then its attributes').
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "harness.h"
#include "template/ast/ast.h"
#include "template/compiler/backend.h"
#include "template/compiler/messages.h"
#include "template/parser/messages.h"
#include "template/parser/parser.h"
#include "template/parser/scopes.h"

namespace lumra::fuzz {

namespace tast = template_ast;
namespace tparse = template_parser;

// True when `message` is `format` with each "{}" standing for any text.
inline bool matches_format(std::string_view message, std::string_view format) {
  const std::size_t hole = format.find("{}");
  if (hole == std::string_view::npos) return message == format;
  if (message.substr(0, hole) != format.substr(0, hole)) return false;
  const std::string_view rest = format.substr(hole + 2);
  for (std::size_t skip = hole; skip <= message.size(); ++skip) {
    if (matches_format(message.substr(skip), rest)) return true;
  }
  return false;
}

// Messages no template can earn: guards of shapes the grammar guarantees and
// broken internal invariants. (Messages quote the template's own text, so
// "Internal error" may appear in an expected one: only the whole forms count.)
inline bool is_unexpected_parse_message(std::string_view message) {
  namespace msg = tparse::msg;
  static constexpr std::string_view kShapes[] = {
      msg::kExpectedRule,         msg::kExpectedOneOfRules,         msg::kPairShouldContain,
      msg::kTemplateElementWithoutInner, msg::kUnexpectedElementRule, msg::kRawWithoutStartTag,
      msg::kRawWithoutContent,    msg::kRawWithoutEndTag,           msg::kTagWithoutInner,
      msg::kUnexpectedTagRule,    msg::kSelfClosingWithoutName,     msg::kStartTagWithoutName,
      msg::kEndTagWithoutName,    msg::kAttributeWithoutName,       msg::kAttributeValueWithoutInner,
      msg::kUnexpectedAttributeValue, msg::kExpressionWithoutInner, msg::kBodyChecksMissing,
      msg::kFiledWithoutValidation,
  };
  if (message.starts_with("Internal error")) return true;
  // The loop-header backend's own fault, under the parser's prefix.
  if (message.ends_with(template_compiler::msg::kLoopRangeOutsideHeader)) return true;
  for (const std::string_view shape : kShapes) {
    if (matches_format(message, shape)) return true;
  }
  return false;
}

class TreeChecker {
 public:
  explicit TreeChecker(std::string_view input) : input_(input), chars_before_(input.size() + 1, 0) {
    std::uint64_t line = 1;
    std::size_t line_start = 0;
    line_of_.assign(input.size() + 1, 1);
    line_start_of_.assign(input.size() + 1, 0);
    for (std::size_t i = 0; i < input.size(); ++i) {
      chars_before_[i + 1] = chars_before_[i] + ((static_cast<unsigned char>(input[i]) & 0xC0) != 0x80);
      line_of_[i] = line;
      line_start_of_[i] = line_start;
      if (input[i] == '\n') {
        ++line;
        line_start = i + 1;
      }
    }
    line_of_[input.size()] = line;
    line_start_of_[input.size()] = line_start;
  }

  void span(std::uint64_t start, std::uint64_t end) const {
    FUZZ_CHECK(start <= end && end <= input_.size());
    FUZZ_CHECK(is_char_boundary(input_, start) && is_char_boundary(input_, end));
  }

  void token(const tast::Token& t) const {
    span(t.start_index, t.end_index);
    FUZZ_CHECK(t.content == input_.substr(t.start_index, t.end_index - t.start_index));
    FUZZ_CHECK(t.line_col.line == line_of_[t.start_index]);
    FUZZ_CHECK(t.line_col.column == chars_before_[t.start_index] - chars_before_[line_start_of_[t.start_index]] + 1);
  }

  void tokens(const tast::List<tast::Token>& ts) const {
    for (const auto& t : ts) token(t);
  }
  void tokens(const tast::SharedTokens& ts) const {
    ts.for_each([&](const tast::Token& t) { token(t); });
  }

  template <class T>
  static std::vector<T> read(const tast::SharedList<T>& list) {
    std::vector<T> out;
    list.for_each([&](const T& item) { out.push_back(item); });
    return out;
  }

  static void body_lists(const tast::Template& body) {
    std::vector<tast::Token> used;
    for (const auto& element : body.elements) {
      if (const auto* expr = element.expr()) used.insert(used.end(), expr->used_variables.begin(), expr->used_variables.end());
      if (const auto* node = element.node()) {
        const auto from_node = read(node->used_variables());
        used.insert(used.end(), from_node.begin(), from_node.end());
      }
    }
    FUZZ_CHECK(read(body.used_variables) == used);
  }

  static void node_lists(const tast::Node& node) {
    const auto& tag = node.start_tag();
    std::vector<std::string> left_out;
    for (const auto& token : node.introduced_variables()) left_out.emplace_back(tast::VariableKey(token.content).view());
    const auto kept = [&](const tast::Token& token) {
      const tast::VariableKey key(token.content);
      for (const auto& name : left_out) {
        if (name == key.view()) return false;
      }
      return true;
    };
    std::vector<tast::Token> used;
    std::vector<tast::Comment> comments;
    const auto* with_body = node.with_body();
    if (with_body) {
      for (const auto& token : read(with_body->body->used_variables)) {
        if (kept(token)) used.push_back(token);
      }
      comments = read(with_body->body->comments);
      comments.insert(comments.end(), with_body->end_tag.comments.begin(), with_body->end_tag.comments.end());
    } else {
      comments.assign(tag.comments.begin(), tag.comments.end());
    }
    const bool loop_on_element = tparse::loops_on_element(tag, node.introduced_variables());
    for (const auto& attr : tag.attrs) {
      const bool sees_loop = tparse::reads_loop_variables(loop_on_element, attr);
      for (const auto& token : attr.used_variables) {
        if (!sees_loop || kept(token)) used.push_back(token);
      }
      comments.insert(comments.end(), attr.comments.begin(), attr.comments.end());
    }
    if (with_body) comments.insert(comments.end(), tag.comments.begin(), tag.comments.end());
    FUZZ_CHECK(read(node.used_variables()) == used);
    FUZZ_CHECK(read(node.comments()) == comments);
  }

  void comment(const tast::Comment& c) const {
    token(c.token);
    token(c.value);
    FUZZ_CHECK(inside(c.value, c.token));
  }
  void comments(const tast::List<tast::Comment>& cs) const {
    for (const auto& c : cs) comment(c);
  }
  void comments(const tast::SharedComments& cs) const {
    cs.for_each([&](const tast::Comment& c) { comment(c); });
  }

  static bool inside(const tast::Token& inner, const tast::Token& outer) {
    return outer.start_index <= inner.start_index && inner.end_index <= outer.end_index;
  }

  void start_tag(const tast::HtmlStartTag& tag) const {
    token(tag.token);
    token(tag.name);
    FUZZ_CHECK(inside(tag.name, tag.token));
    std::uint64_t after = tag.name.end_index;
    for (const auto& attr : tag.attrs) {
      token(attr.token);
      FUZZ_CHECK(inside(attr.token, tag.token) && attr.token.start_index >= after);
      after = attr.token.end_index;
      token(attr.key);
      FUZZ_CHECK(inside(attr.key, attr.token));
      FUZZ_CHECK(attr.value.has_value() == attr.inner_value.has_value());
      if (attr.value) {
        token(*attr.value);
        token(*attr.inner_value);
        FUZZ_CHECK(inside(*attr.value, attr.token) && inside(*attr.inner_value, *attr.value));
        FUZZ_CHECK(attr.value->start_index >= attr.key.end_index);
      }
      comments(attr.comments);
      tokens(attr.used_variables);
      if (const auto& p = attr.fill_data_pattern) {
        token(p->token);
        if (p->whole) token(*p->whole);
        if (p->rest) token(*p->rest);
        for (const auto& f : p->fields) {
          token(f.source);
          token(f.target);
        }
      }
    }
    comments(tag.comments);
  }

  // Walks the whole tree with its own stack: parsed trees are bounded in
  // depth, but the check should not rely on it.
  void tree(const tast::Template& root) const {
    struct Pending {
      const tast::Template* body;
      std::uint64_t lo, hi;  // the span the body's elements must keep to
    };
    std::vector<Pending> pending{{&root, 0, input_.size()}};
    root.slots.for_each([&](const tast::StaticNamedSlot& slot) { span(slot.token.start_index, slot.token.end_index); });
    while (!pending.empty()) {
      const Pending p = pending.back();
      pending.pop_back();
      comments(p.body->comments);
      tokens(p.body->used_variables);
      body_lists(*p.body);
      std::uint64_t after = p.lo;
      for (const auto& element : p.body->elements) {
        if (const auto* text = element.text()) {
          token(text->token);
          FUZZ_CHECK(text->token.start_index >= after && text->token.end_index <= p.hi);
          after = text->token.end_index;
        } else if (const auto* expr = element.expr()) {
          token(expr->token);
          token(expr->value);
          FUZZ_CHECK(inside(expr->value, expr->token));
          FUZZ_CHECK(expr->token.start_index >= after && expr->token.end_index <= p.hi);
          after = expr->token.end_index;
          tokens(expr->used_variables);
          comments(expr->comments);
        } else {
          const tast::Node& node = *element.node();
          const auto& tag = node.start_tag();
          start_tag(tag);
          FUZZ_CHECK(tag.token.start_index >= after);
          tokens(node.used_variables());
          tokens(node.introduced_variables());
          comments(node.comments());
          node_lists(node);
          if (const auto* with_body = node.with_body()) {
            const auto& end = with_body->end_tag;
            token(end.token);
            token(end.name);
            comments(end.comments);
            FUZZ_CHECK(inside(end.name, end.token));
            FUZZ_CHECK(end.token.start_index >= tag.token.end_index && end.token.end_index <= p.hi);
            pending.push_back({&*with_body->body, tag.token.end_index, end.token.start_index});
            after = end.token.end_index;
          } else {
            FUZZ_CHECK(tag.token.end_index <= p.hi);
            after = tag.token.end_index;
          }
        }
      }
    }
  }

 private:
  std::string_view input_;
  std::vector<std::uint64_t> chars_before_;
  std::vector<std::uint64_t> line_of_;
  std::vector<std::size_t> line_start_of_;
};

// A parse error a template may earn: positioned inside the input, or a
// message that is none of the unexpected ones.
inline void check_parse_error(const tparse::TemplateParseError& error, std::string_view input) {
  const std::string message = error.message();
  FUZZ_CHECK(!message.empty());
  if (is_unexpected_parse_message(message)) {
    std::fprintf(stderr, "unexpected parse error: %s\n", message.c_str());
    std::abort();
  }
  if (const auto* g = error.grammar_error()) {
    FUZZ_CHECK(g->start() <= g->end() && g->end() <= input.size());
    FUZZ_CHECK(is_char_boundary(input, g->start()) && is_char_boundary(input, g->end()));
    FUZZ_CHECK(!g->render().empty());
  }
}

using UserRules = tparse::UserRules;

// parse_template as the module runs it, on the Python backend.
inline tparse::ParseResult parse_template(std::string_view input, std::shared_ptr<const UserRules> rules = nullptr) {
  tparse::ParserContext context;
  context.user_rules = rules ? std::move(rules) : std::make_shared<const UserRules>();
  context.backend = template_compiler::language_backend_for(template_compiler::Language::Python);
  context.source = tast::TokenText(input);
  return tparse::parse_template_text(context.source, context);
}

// Parses and checks the outcome; the tree when the parse succeeded.
inline const tast::Template* parse_and_check(tparse::ParseResult& result, std::string_view input) {
  if (auto* error = std::get_if<tparse::TemplateParseError>(&result)) {
    check_parse_error(*error, input);
    return nullptr;
  }
  const auto& tree = std::get<tast::Template>(result);
  TreeChecker(input).tree(tree);
  return &tree;
}

}  // namespace lumra::fuzz
