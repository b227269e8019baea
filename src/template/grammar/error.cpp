#include "template/grammar/error.h"

#include <algorithm>
#include <utility>

#include <fmt/format.h>

namespace lumra::grammar {
namespace {

bool is_continuation(unsigned char byte) noexcept { return (byte & 0xC0) == 0x80; }

bool is_char_boundary(std::string_view text, std::size_t offset) noexcept {
  return offset <= text.size() &&
         (offset == text.size() || !is_continuation(static_cast<unsigned char>(text[offset])));
}

std::size_t count_chars(std::string_view piece) noexcept {
  std::size_t n = 0;
  for (const char c : piece) n += is_continuation(static_cast<unsigned char>(c)) ? 0 : 1;
  return n;
}

std::size_t line_start_before(std::string_view text, std::size_t offset) noexcept {
  if (offset == 0) return 0;
  const std::size_t lf = text.rfind('\n', offset - 1);
  return lf == std::string_view::npos ? 0 : lf + 1;
}

// From `from` to just after the next line feed, or to the end of the text.
std::size_t line_end_from(std::string_view text, std::size_t from) noexcept {
  const std::size_t lf = text.find('\n', from);
  return lf == std::string_view::npos ? text.size() : lf + 1;
}

bool is_line_break(std::string_view text, std::size_t offset) noexcept {
  return offset < text.size() && (text[offset] == '\n' || text[offset] == '\r');
}

// A source line as shown: line breaks made visible (when the error points at
// one) or dropped, so that the line never spills into the next row.
std::string show_line(std::string_view line, bool visible_breaks) {
  std::string out;
  out.reserve(line.size() + (visible_breaks ? 4 : 0));
  for (const char c : line) {
    if (c == '\r') {
      if (visible_breaks) out += "\u240D";
    } else if (c == '\n') {
      if (visible_breaks) out += "\u240A";
    } else {
      out += c;
    }
  }
  return out;
}

std::size_t decimal_width(std::size_t n) noexcept {
  std::size_t width = 1;
  while (n >= 10) {
    n /= 10;
    ++width;
  }
  return width;
}

void sort_unique(std::vector<Rule>& rules) {
  std::sort(rules.begin(), rules.end());
  rules.erase(std::unique(rules.begin(), rules.end()), rules.end());
}

}  // namespace

LineCol line_col_at(std::string_view text, std::size_t offset) noexcept {
  offset = std::min(offset, text.size());
  const std::string_view before = text.substr(0, offset);
  const auto lines = static_cast<std::size_t>(std::count(before.begin(), before.end(), '\n'));
  const std::size_t start = line_start_before(text, offset);
  return {lines + 1, count_chars(text.substr(start, offset - start)) + 1};
}

std::string join_rule_names(const std::vector<Rule>& rules) {
  switch (rules.size()) {
    case 0:
      return {};
    case 1:
      return std::string(rule_name(rules[0]));
    case 2:
      return fmt::format("{} or {}", rule_name(rules[0]), rule_name(rules[1]));
    default: {
      std::string head;
      for (std::size_t i = 0; i + 1 < rules.size(); ++i) {
        if (i > 0) head += ", ";
        head += rule_name(rules[i]);
      }
      return fmt::format("{}, or {}", head, rule_name(rules.back()));
    }
  }
}

void GrammarError::locate_pos(std::string_view text, std::size_t pos) {
  is_span_ = false;
  start_ = end_ = pos;
  line_col_ = end_line_col_ = line_col_at(text, pos);
  const std::size_t from = line_start_before(text, pos);
  const std::size_t to = line_end_from(text, pos);
  line_ = show_line(text.substr(from, to - from), is_line_break(text, pos));
}

void GrammarError::locate_span(std::string_view text, std::size_t start, std::size_t end) {
  is_span_ = true;
  start_ = start;
  end_ = end;
  line_col_ = line_col_at(text, start);
  if (end == start) {
    // An empty span is drawn as one caret at its start, wherever it is.
    end_line_col_ = line_col_;
  } else {
    end_line_col_ = line_col_at(text, end);
    if (end_line_col_.col == 1) {
      // The span ends just after a line feed: show its end on that line.
      end_line_col_ = line_col_at(text, end - 1);
      end_line_col_.col += 1;
    }
  }

  // The span's lines are the line of its start and every later line that
  // begins inside the span. A line that begins exactly at the end offset is
  // not part of it.
  const std::size_t first_from = line_start_before(text, start);
  const std::size_t first_to = line_end_from(text, first_from);
  std::size_t last_from = first_from;
  std::size_t last_to = first_to;
  while (last_to < end) {
    last_from = last_to;
    last_to = line_end_from(text, last_from);
  }

  const bool visible = is_line_break(text, start) || (end > start && is_line_break(text, end - 1));
  line_ = show_line(text.substr(first_from, first_to - first_from), visible);
  continued_line_.reset();
  if (last_from != first_from) {
    continued_line_ = show_line(text.substr(last_from, last_to - last_from), visible);
  }
}

GrammarError GrammarError::from_attempts(std::string_view text, std::size_t pos,
                                         std::vector<Rule> expected,
                                         std::vector<Rule> unexpected) {
  GrammarError error;
  error.variant_ = Variant::rule_attempts;
  sort_unique(expected);
  sort_unique(unexpected);
  error.expected_ = std::move(expected);
  error.unexpected_ = std::move(unexpected);
  error.locate_pos(text, pos);
  return error;
}

GrammarError GrammarError::at_pos(std::string_view text, std::size_t pos, std::string message) {
  GrammarError error;
  error.variant_ = Variant::custom_message;
  error.custom_ = std::move(message);
  error.locate_pos(text, pos);
  return error;
}

GrammarError GrammarError::at_span(std::string_view text, std::size_t start, std::size_t end,
                                   std::string message) {
  GrammarError error;
  error.variant_ = Variant::custom_message;
  error.custom_ = std::move(message);
  error.locate_span(text, start, end);
  return error;
}

std::string GrammarError::message() const {
  if (variant_ == Variant::custom_message) return custom_;
  if (!unexpected_.empty() && !expected_.empty()) {
    return fmt::format("unexpected {}; expected {}", join_rule_names(unexpected_),
                       join_rule_names(expected_));
  }
  if (!unexpected_.empty()) return fmt::format("unexpected {}", join_rule_names(unexpected_));
  if (!expected_.empty()) return fmt::format("expected {}", join_rule_names(expected_));
  return "unknown parsing error";
}

std::string GrammarError::render() const {
  const std::size_t width = decimal_width(std::max(line_col_.line, end_line_col_.line));
  const std::string pad(width, ' ');

  std::string underline;
  std::size_t first = line_col_.col;
  std::size_t last = end_line_col_.col;
  if (is_span_ && first > last) {
    // The end lies on a later line, further left: mark the columns between.
    std::swap(first, last);
    first = first > 0 ? first - 1 : 0;
    last += 1;
  }
  const std::size_t lead = first > 0 ? first - 1 : 0;
  std::size_t taken = 0;
  for (std::size_t i = 0; i < line_.size() && taken < lead; ++i) {
    const unsigned char byte = static_cast<unsigned char>(line_[i]);
    if (is_continuation(byte)) continue;
    underline += byte == '\t' ? '\t' : ' ';
    ++taken;
  }
  if (!is_span_) {
    underline += "^---";
  } else {
    underline += '^';
    if (last > first + 1) {
      underline.append(last - first - 2, '-');
      underline += '^';
    }
  }

  std::string out = fmt::format("{}--> {}:{}\n{} |\n{:>{}} | {}\n", pad, line_col_.line,
                                line_col_.col, pad, line_col_.line, width, line_);
  if (is_span_ && continued_line_) {
    if (end_line_col_.line > line_col_.line + 1) out += fmt::format("{} | ...\n", pad);
    out += fmt::format("{:>{}} | {}\n", end_line_col_.line, width, *continued_line_);
  }
  out += fmt::format("{} | {}\n{} |\n{} = {}", pad, underline, pad, pad, message());
  return out;
}

std::optional<GrammarError> error_from_pos(std::string_view text, std::size_t position,
                                           std::string message) {
  if (!is_char_boundary(text, position)) return std::nullopt;
  return GrammarError::at_pos(text, position, std::move(message));
}

std::optional<GrammarError> error_from_span(std::string_view text, std::size_t start,
                                            std::size_t end, std::string message) {
  if (start > end || !is_char_boundary(text, start) || !is_char_boundary(text, end)) {
    return std::nullopt;
  }
  return GrammarError::at_span(text, start, end, std::move(message));
}

std::string parsing_error_message(const GrammarError& error) { return error.message(); }

}  // namespace lumra::grammar
