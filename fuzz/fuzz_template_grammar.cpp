// Template grammar: both start rules over arbitrary UTF-8.
//
// Input layout: the low bit of the first byte picks the start rule (0:
// template, 1: fill_data_pattern); the rest is the text. Every parse either
// succeeds with a record list that nests properly inside the text, or fails
// with a positioned error inside the text that renders in the documented
// layout. Positioned errors made directly (at a position, over a span) are
// checked the same way.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "harness.h"
#include "template/grammar/error.h"
#include "template/grammar/grammar.h"
#include "template/grammar/pairs.h"
#include "template/grammar/rule.h"

namespace {

using namespace lumra::grammar;
using lumra::fuzz::is_char_boundary;

constexpr std::size_t kMaxInput = 8192;
// line_col_at scans from the start, so only this many records are compared
// against it per input.
constexpr std::size_t kLineColChecks = 128;

bool is_silent(Rule rule) {
  return rule_kind(rule) == RuleKind::silent;
}

std::vector<std::string_view> split_lines(std::string_view text) {
  std::vector<std::string_view> lines;
  std::size_t from = 0;
  while (true) {
    const std::size_t lf = text.find('\n', from);
    if (lf == std::string_view::npos) {
      lines.push_back(text.substr(from));
      return lines;
    }
    lines.push_back(text.substr(from, lf - from));
    from = lf + 1;
  }
}

std::size_t digits(std::size_t n) {
  std::size_t d = 1;
  while (n >= 10) {
    n /= 10;
    ++d;
  }
  return d;
}

std::size_t char_count(std::string_view s) {
  std::size_t n = 0;
  for (const char c : s) n += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return n;
}

// The layout shared by position errors and spans: header, gutter lines, the
// message last, and an underline whose caret stands after C-1 characters.
void check_error(const GrammarError& error, std::string_view input) {
  FUZZ_CHECK(error.start() <= error.end());
  FUZZ_CHECK(error.end() <= input.size());
  FUZZ_CHECK(is_char_boundary(input, error.start()));
  FUZZ_CHECK(is_char_boundary(input, error.end()));
  FUZZ_CHECK(error.line_col() == line_col_at(input, error.start()));
  if (!error.is_span()) {
    FUZZ_CHECK(error.start() == error.end());
    FUZZ_CHECK(error.end_line_col() == error.line_col());
    FUZZ_CHECK(!error.continued_line().has_value());
  }
  FUZZ_CHECK(error.line().find('\n') == std::string::npos);
  FUZZ_CHECK(error.line().find('\r') == std::string::npos);
  if (error.variant() == GrammarError::Variant::rule_attempts) {
    FUZZ_CHECK(std::is_sorted(error.expected().begin(), error.expected().end()));
    FUZZ_CHECK(std::adjacent_find(error.expected().begin(), error.expected().end()) ==
               error.expected().end());
    FUZZ_CHECK(std::is_sorted(error.unexpected().begin(), error.unexpected().end()));
    FUZZ_CHECK(std::adjacent_find(error.unexpected().begin(), error.unexpected().end()) ==
               error.unexpected().end());
    for (const Rule r : error.expected()) FUZZ_CHECK(!is_silent(r));
    for (const Rule r : error.unexpected()) FUZZ_CHECK(!is_silent(r));
  }

  const std::string message = error.message();
  FUZZ_CHECK(!message.empty());
  (void)parsing_error_message(error);
  const std::string rendered = error.render();
  FUZZ_CHECK(rendered.empty() || rendered.back() != '\n');
  const std::vector<std::string_view> lines = split_lines(rendered);

  const LineCol lc = error.line_col();
  std::size_t width = digits(lc.line);
  if (error.is_span()) width = std::max(width, digits(error.end_line_col().line));
  const std::string s(width, ' ');
  // Messages may hold line feeds of their own (custom messages); the layout
  // before the message line is fixed.
  const std::size_t message_lines = split_lines(message).size();
  std::size_t source_lines = 1;
  if (error.continued_line()) {
    source_lines = error.end_line_col().line > lc.line + 1 ? 3 : 2;
  }
  FUZZ_CHECK(lines.size() == 5 + source_lines + message_lines - 1);
  FUZZ_CHECK(lines[0] == s + "--> " + std::to_string(lc.line) + ":" + std::to_string(lc.col));
  FUZZ_CHECK(lines[1] == s + " |");
  std::string first_number = std::to_string(lc.line);
  first_number.insert(0, width - first_number.size(), ' ');
  FUZZ_CHECK(lines[2] == first_number + " | " + error.line());
  const std::string_view underline = lines[2 + source_lines];
  FUZZ_CHECK(underline.substr(0, s.size() + 3) == s + " | ");
  FUZZ_CHECK(lines[3 + source_lines] == s + " |");
  FUZZ_CHECK(rendered.substr(rendered.size() - message.size()) == message);
  FUZZ_CHECK(lines[4 + source_lines].substr(0, s.size() + 3) == s + " = ");

  const std::string_view marks = underline.substr(s.size() + 3);
  const std::size_t caret = marks.find('^');
  FUZZ_CHECK(caret != std::string_view::npos);
  for (std::size_t i = 0; i < caret; ++i) FUZZ_CHECK(marks[i] == ' ' || marks[i] == '\t');
  if (!error.is_span()) {
    FUZZ_CHECK(marks.substr(caret) == "^---");
    // A lone carriage return counts as a column but is dropped from the
    // shown line, so the caret can only fall short by what the line lacks.
    FUZZ_CHECK(caret == std::min(lc.col - 1, char_count(error.line())));
  }
}

struct Frame {
  std::uint32_t open;
  std::uint32_t start;
  std::uint32_t end;
  std::uint32_t last_child_end;
  Rule rule;
};

// The flat record list: partners link, spans nest inside parents, siblings
// come in text order, no silent rule leaves a record, and under an atomic
// rule only compound-atomic rules (which re-enable records) leave any.
void check_records(const ParseTree& tree, Rule start, std::string_view input) {
  const auto& entries = tree.entries();
  const std::size_t n = entries.size();
  FUZZ_CHECK(n >= 4 && n % 2 == 0);  // the start rule and its EOI
  FUZZ_CHECK(entries[0].opening && entries[0].rule == start && entries[0].pos == 0);
  FUZZ_CHECK(entries[0].partner == n - 1);
  FUZZ_CHECK(entries[n - 1].pos == input.size());

  std::vector<Frame> stack;
  for (std::uint32_t i = 0; i < n; ++i) {
    const RecordEntry& e = entries[i];
    FUZZ_CHECK(e.partner < n);
    FUZZ_CHECK(entries[e.partner].partner == i);
    FUZZ_CHECK(entries[e.partner].opening != e.opening);
    FUZZ_CHECK(e.pos <= input.size() && is_char_boundary(input, e.pos));
    if (e.opening) {
      FUZZ_CHECK(e.partner > i);
      FUZZ_CHECK(static_cast<int>(e.rule) < kRuleCount);
      FUZZ_CHECK(!is_silent(e.rule));
      const std::uint32_t end = entries[e.partner].pos;
      FUZZ_CHECK(e.pos <= end);
      if (stack.empty()) {
        FUZZ_CHECK(i == 0);
      } else {
        Frame& parent = stack.back();
        FUZZ_CHECK(e.pos >= parent.last_child_end);
        FUZZ_CHECK(end <= parent.end);
        if (rule_kind(parent.rule) == RuleKind::atomic) {
          FUZZ_CHECK(rule_kind(e.rule) == RuleKind::compound_atomic);
        }
        parent.last_child_end = end;
      }
      stack.push_back({i, e.pos, end, e.pos, e.rule});
    } else {
      FUZZ_CHECK(!stack.empty() && stack.back().open == e.partner);
      stack.pop_back();
    }
  }
  FUZZ_CHECK(stack.empty());
}

// The same records through the Pair API, which must agree with the list.
std::size_t walk_pairs(const Pair& pair, std::size_t& checks) {
  if (checks < kLineColChecks) {
    ++checks;
    FUZZ_CHECK(pair.line_col() == line_col_at(pair.input(), pair.start()));
  }
  FUZZ_CHECK(pair.as_str().size() == pair.end() - pair.start());
  std::size_t count = 1;
  std::size_t siblings = 0;
  for (const Pair child : pair.inner()) {
    FUZZ_CHECK(child.start() >= pair.start() && child.end() <= pair.end());
    count += walk_pairs(child, checks);
    ++siblings;
  }
  FUZZ_CHECK(pair.inner().size() == siblings);
  if (siblings > 0) {
    const Rule first = (*pair.inner().first()).rule();
    const std::optional<Pair> found = pair.inner().find(first);
    FUZZ_CHECK(found.has_value() && *found == *pair.inner().first());
  }
  return count;
}

void check_success(const ParseTree& tree, Rule start, std::string_view input) {
  FUZZ_CHECK(tree.input().data() == input.data() && tree.input().size() == input.size());
  check_records(tree, start, input);
  FUZZ_CHECK(tree.pairs().size() == 1);
  const Pair root = tree.root();
  FUZZ_CHECK(root.rule() == start && root.start() == 0 && root.end() == input.size());
  Pair last = root;
  for (const Pair child : root.inner()) last = child;
  FUZZ_CHECK(last.rule() == Rule::EOI && last.start() == input.size() &&
             last.end() == input.size());
  std::size_t checks = 0;
  FUZZ_CHECK(walk_pairs(root, checks) * 2 == tree.entries().size());
  const std::string shown = root.to_string();
  FUZZ_CHECK(shown.rfind(std::string(rule_name(start)) + "(0, ", 0) == 0);
  FUZZ_CHECK(tree.line_col(input.size()) == line_col_at(input, input.size()));
}

// Errors made directly at an offset or over a span, as the template parser
// makes them: refused exactly off the text or inside a character.
void check_made_errors(std::string_view input, std::uint8_t seed) {
  const std::size_t n = input.size();
  const std::size_t a = (static_cast<std::size_t>(seed) * 131) % (n + 2);
  const std::size_t b = (static_cast<std::size_t>(seed) * 37 + n / 2) % (n + 2);
  const std::string message = seed & 2 ? "bad thing" : "first line\nsecond line";

  const auto at = error_from_pos(input, a, message);
  FUZZ_CHECK(at.has_value() == is_char_boundary(input, a));
  if (at) {
    FUZZ_CHECK(at->variant() == GrammarError::Variant::custom_message);
    FUZZ_CHECK(at->message() == message && !at->is_span() && at->start() == a);
    check_error(*at, input);
  }
  const std::size_t lo = std::min(a, b);
  const std::size_t hi = std::max(a, b);
  const auto span = error_from_span(input, lo, hi, message);
  FUZZ_CHECK(span.has_value() == (is_char_boundary(input, lo) && is_char_boundary(input, hi)));
  if (span) {
    FUZZ_CHECK(span->start() == lo && span->end() == hi && span->message() == message);
    check_error(*span, input);
  }
  if (lo < hi) FUZZ_CHECK(!error_from_span(input, hi, lo, message).has_value());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data) + 1, size - 1);
  if (!lumra::fuzz::is_valid_utf8(input)) return 0;
  const Rule start = (data[0] & 1) ? Rule::fill_data_pattern : Rule::template_;

  const GrammarResult result = template_grammar_parse(start, input);
  if (result.ok()) {
    check_success(result.tree(), start, input);
  } else {
    check_error(result.error(), input);
  }
  check_made_errors(input, data[0]);
  return 0;
}
