#include "template/parser/tokens.h"

#include <fmt/format.h>

#include <algorithm>
#include <limits>

#include "template/parser/messages.h"
#include "text/utf8.h"

namespace lumra::template_parser {

namespace {

std::uint64_t count_chars(std::string_view text, std::size_t from, std::size_t to) {
  std::uint64_t n = 0;
  for (std::size_t i = from; i < to; ++i) n += !text::utf8::is_continuation(static_cast<unsigned char>(text[i]));
  return n;
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

template_ast::LineCol LineColCursor::at(std::size_t offset) {
  offset = std::min(offset, text_.size());
  const auto& starts = *line_starts_;
  const std::size_t line_start = starts[line_ - 1];
  const std::size_t next_start = line_ < starts.size() ? starts[line_] : std::numeric_limits<std::size_t>::max();
  if (offset >= line_start && offset < next_start) {
    // Same line: move the cursor by the distance.
    if (offset >= offset_) {
      column_ += count_chars(text_, offset_, offset);
    } else {
      column_ -= count_chars(text_, offset, offset_);
    }
  } else {
    const auto after = std::upper_bound(starts.begin(), starts.end(), offset);
    line_ = static_cast<std::uint64_t>(after - starts.begin());
    column_ = 1 + count_chars(text_, starts[line_ - 1], offset);
  }
  offset_ = offset;
  return {line_, column_};
}

template_ast::Token PairTokens::token_from_pair(grammar::Pair pair) {
  return template_ast::Token{
      .content = std::string(pair.as_str()),
      .start_index = pair.start(),
      .end_index = pair.end(),
      .line_col = cursor_.at(pair.start()),
  };
}

template_ast::Token PairTokens::token_with_offset(grammar::Pair pair) {
  template_ast::Token token = token_from_pair(pair);
  shift_token(token, offsets_);
  return token;
}

template_ast::Token token_slice(template_ast::Token token, std::int64_t from, std::int64_t end_delta) {
  const std::string& content = token.content;
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

  for (std::size_t i = 0; i < ufrom;) {
    std::uint32_t len = 1;
    const char32_t c = text::utf8::decode(content, i, len);
    if (c == U'\n') {
      token.line_col.line += 1;
      token.line_col.column = 1;
    } else {
      token.line_col.column += 1;
    }
    i += len;
  }
  token.end_index = token.start_index + uend;
  token.start_index += ufrom;
  token.content = content.substr(ufrom, uend - ufrom);
  return token;
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
