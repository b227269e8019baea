#include "template/parser/tokens.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "template/parser/messages.h"
#include "text/utf8.h"

namespace lumra::template_parser {

namespace {

std::uint64_t count_chars(std::string_view text, std::size_t from, std::size_t to) {
  return text::utf8::count_chars(text.substr(from, to - from));
}

bool on_char_boundary(std::string_view text, std::size_t i) {
  return i == 0 || i >= text.size() || !text::utf8::is_continuation(static_cast<unsigned char>(text[i]));
}

}  // namespace

void shift_token(template_ast::Token& token, const Offsets& by) {
  token.start_index += by.index;
  token.end_index += by.index;
  if (token.line_col.line == 1) token.line_col.column += by.column;
  token.line_col.line += by.line;
}

template_ast::LineCol LineColCursor::moved_to(std::size_t offset) {
  offset = std::min(offset, text_.size());
  const auto& starts = *line_starts_;
  const std::size_t line_start = starts[line_ - 1];
  if (offset < line_start) {
    // An earlier line (rare: the walk moves forward): bisect the lines before.
    const auto after = std::upper_bound(starts.begin(), starts.begin() + static_cast<std::ptrdiff_t>(line_ - 1), offset);
    line_ = static_cast<std::uint64_t>(after - starts.begin());
    column_ = 1 + count_chars(text_, starts[line_ - 1], offset);
  } else if (line_ < starts.size() && offset >= starts[line_]) {
    // A later line: usually the next few, so step. A long jump gallops from
    // here and bisects what it overshot: its cost follows the lines jumped,
    // not the lines left, so the jumps of a walk add up to the text.
    std::size_t line = line_;
    for (int steps = 0; line < starts.size() && starts[line] <= offset && steps < 8; ++steps) ++line;
    if (line < starts.size() && starts[line] <= offset) {
      std::size_t step = 8;
      while (line + step < starts.size() && starts[line + step] <= offset) {
        line += step;
        step *= 2;
      }
      const auto first = starts.begin() + static_cast<std::ptrdiff_t>(line);
      const auto last = starts.begin() + static_cast<std::ptrdiff_t>(std::min(starts.size(), line + step));
      line = static_cast<std::size_t>(std::upper_bound(first, last, offset) - starts.begin());
    }
    line_ = line;
    column_ = 1 + count_chars(text_, starts[line_ - 1], offset);
  } else if (offset >= offset_) {
    // Same line: move the cursor by the distance.
    column_ += count_chars(text_, offset_, offset);
  } else {
    column_ -= count_chars(text_, offset, offset_);
  }
  offset_ = offset;
  return {line_, column_};
}

template_ast::Token PairTokens::token_from_pair(grammar::Pair pair) {
  return template_ast::Token{
      .content = texts_.slice(owner_, pair.as_str()),
      .start_index = pair.start(),
      .end_index = pair.end(),
      .line_col = cursor_.at(pair.start()),
  };
}

void PairTokens::assign_with_offset(template_ast::Token& out, grammar::Pair pair) {
  const std::size_t start = pair.start();
  const std::size_t end = pair.end();
  template_ast::LineCol line_col = cursor_.at(start);
  if (line_col.line == 1) line_col.column += offsets_.column;
  line_col.line += offsets_.line;
  texts_.assign_slice(out.content, owner_, pair.input().substr(start, end - start));
  out.start_index = start + offsets_.index;
  out.end_index = end + offsets_.index;
  out.line_col = line_col;
}

template_ast::Token token_slice(const template_ast::Token& token, std::int64_t from, std::int64_t end_delta) {
  const std::string_view content = token.content;
  const auto size = static_cast<std::int64_t>(std::min<std::size_t>(content.size(), std::numeric_limits<std::int64_t>::max()));
  if (from < 0) return token;
  if (end_delta > 0 && size > std::numeric_limits<std::int64_t>::max() - end_delta) return token;
  const std::int64_t end = size + end_delta;
  if (end < from || end > size) return token;
  const auto ufrom = static_cast<std::size_t>(from);
  const auto uend = static_cast<std::size_t>(end);
  if (!on_char_boundary(content, ufrom) || !on_char_boundary(content, uend)) return token;
  const std::uint64_t max = std::numeric_limits<std::uint64_t>::max();
  if (token.start_index > max - uend) return token;

  template_ast::Token out;
  out.line_col = token.line_col;
  // The skipped prefix moves the position: a line feed starts a new line at
  // column 1, every other character advances the column.
  const std::string_view prefix(content.data(), ufrom);
  const std::size_t last_lf = prefix.rfind('\n');
  if (last_lf == std::string_view::npos) {
    out.line_col.column += text::utf8::count_chars(prefix);
  } else {
    out.line_col.line += static_cast<std::uint64_t>(std::count(prefix.begin(), prefix.end(), '\n'));
    out.line_col.column = 1 + text::utf8::count_chars(prefix.substr(last_lf + 1));
  }
  out.start_index = token.start_index + ufrom;
  out.end_index = token.start_index + uend;
  out.content = template_ast::TokenText::slice_of(token.content, content.substr(ufrom, uend - ufrom));
  return out;
}

Parsed<template_ast::Comment> comment_from_pair(PairTokens& tokens, const ParserContext& context,
                                                grammar::Pair pair) {
  template_ast::Token whole = tokens.token_with_offset(pair);
  if (whole.content.size() < 4) {
    return error_at_pair(context, pair, fmt::format(fmt::runtime(msg::kCommentTooShort), whole.content));
  }
  template_ast::Token value = token_slice(tokens.token_from_pair(pair), 2, -2);
  shift_token(value, tokens.offsets());
  return template_ast::Comment{std::move(whole), std::move(value)};
}

}  // namespace lumra::template_parser
