// The syntax error of the template grammar, and the positioned errors that
// the template parser raises in the same layout.
//
// An error sits at one byte offset (a position) or between two (a span) of the
// text that was parsed. Its rendered text is what users see inside Python's
// SyntaxError, so render() reproduces the layout byte for byte:
//
//    --> 1:2
//     |
//   1 | <!
//     |  ^---
//     |
//     = expected html_raw_tag_name or html_tag_name
#pragma once

#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "template/grammar/rule.h"

namespace lumra::grammar {

// Line and column, both from 1; the column counts characters, not bytes.
struct LineCol {
  std::size_t line = 1;
  std::size_t col = 1;
  friend bool operator==(const LineCol&, const LineCol&) = default;
};

// Only a line feed ends a line (so a CRLF pair ends one line and a lone CR is
// an ordinary character). `offset` is clamped to the text.
LineCol line_col_at(std::string_view text, std::size_t offset) noexcept;

class GrammarError {
 public:
  enum class Variant { rule_attempts, custom_message };

  // A failed parse: the rules expected and not expected at `pos`. Both lists
  // are sorted by id and rid of duplicates here. Precondition: `pos` is a
  // character boundary within `text`.
  static GrammarError from_attempts(std::string_view text, std::size_t pos,
                                    std::vector<Rule> expected,
                                    std::vector<Rule> unexpected);
  // A message at one position / at a span. Preconditions as error_from_pos
  // and error_from_span check them.
  static GrammarError at_pos(std::string_view text, std::size_t pos, std::string message);
  static GrammarError at_span(std::string_view text, std::size_t start, std::size_t end,
                              std::string message);

  Variant variant() const noexcept { return variant_; }
  bool is_span() const noexcept { return is_span_; }
  // For a position, start() == end().
  std::size_t start() const noexcept { return start_; }
  std::size_t end() const noexcept { return end_; }
  // Of the position, or of the span's start.
  LineCol line_col() const noexcept { return line_col_; }
  // Of the span's end as shown (a span that ends just after a line break is
  // shown ending on the line before); equal to line_col() for a position.
  LineCol end_line_col() const noexcept { return end_line_col_; }
  const std::string& line() const noexcept { return line_; }
  const std::optional<std::string>& continued_line() const noexcept { return continued_line_; }

  const std::vector<Rule>& expected() const noexcept { return expected_; }
  const std::vector<Rule>& unexpected() const noexcept { return unexpected_; }
  // Empty unless variant() is custom_message.
  const std::string& custom_message() const noexcept { return custom_; }

  // "unexpected {}; expected {}" and its other forms, or the custom message.
  std::string message() const;
  // The multi-line layout shown above, without a final line feed.
  std::string render() const;

 private:
  GrammarError() = default;
  void locate_pos(std::string_view text, std::size_t pos);
  void locate_span(std::string_view text, std::size_t start, std::size_t end);

  Variant variant_ = Variant::custom_message;
  bool is_span_ = false;
  std::size_t start_ = 0;
  std::size_t end_ = 0;
  LineCol line_col_;
  LineCol end_line_col_;
  std::string line_;
  std::optional<std::string> continued_line_;
  std::vector<Rule> expected_;
  std::vector<Rule> unexpected_;
  std::string custom_;
};

// A custom-message error at `position` of `text`; nullopt when the position
// lies outside the text or inside a multi-byte character.
std::optional<GrammarError> error_from_pos(std::string_view text, std::size_t position,
                                           std::string message);
// A custom-message error over start..end of `text`; nullopt unless both ends
// lie within the text on character boundaries and start <= end.
std::optional<GrammarError> error_from_span(std::string_view text, std::size_t start,
                                            std::size_t end, std::string message);
std::string parsing_error_message(const GrammarError& error);

// "a", "a or b", "a, b, or c".
std::string join_rule_names(const std::vector<Rule>& rules);

}  // namespace lumra::grammar
