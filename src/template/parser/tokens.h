// Tokens: pieces of the template text with whole-input positions.
//
// A grammar run covers either the whole input or the text of one attribute
// value (a nested template, a <c-fill> binding). Its pairs have offsets in
// that text; `Offsets` shifts them onto the whole input:
//   start_index, end_index += index;  column += column on the text's first
//   line only;  line += line.
// Lines end at LF only; columns count characters (bytes that are not UTF-8
// continuation bytes), both from 1.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "template/ast/ast.h"
#include "template/grammar/pairs.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"
#include "text/utf8.h"

namespace lumra::template_parser {

struct Offsets {
  std::uint64_t index = 0;
  std::uint64_t line = 0;
  std::uint64_t column = 0;
};

inline Offsets offsets_of(const ParserContext& context) {
  return {context.index_offset, context.line_offset, context.column_offset};
}

// The offsets that put a text parsed on its own at the place of `token`.
inline Offsets offsets_at(const template_ast::Token& token) {
  return {token.start_index, token.line_col.line > 0 ? token.line_col.line - 1 : 0,
          token.line_col.column > 0 ? token.line_col.column - 1 : 0};
}

// Moves a token positioned in a text onto the whole input.
void shift_token(template_ast::Token& token, const Offsets& by);

// Line and column of offsets of one text from a running cursor: a query costs
// the distance from the previous one (plus a bisection when it changes line),
// so a walk that moves forward through a one-line megabyte stays linear.
class LineColCursor {
 public:
  LineColCursor(std::string_view text, const std::vector<std::uint32_t>& line_starts)
      : text_(text), line_starts_(&line_starts) {}

  template_ast::LineCol at(std::size_t offset) {
    // The commonest query: forward on the cursor's line.
    if (offset >= offset_ && offset <= text_.size() &&
        (line_ >= line_starts_->size() || offset < (*line_starts_)[line_])) {
      column_ += text::utf8::count_chars(std::string_view(text_.data() + offset_, offset - offset_));
      offset_ = offset;
      return {line_, column_};
    }
    return moved_to(offset);
  }

 private:
  template_ast::LineCol moved_to(std::size_t offset);

  std::string_view text_;
  const std::vector<std::uint32_t>* line_starts_;
  std::size_t offset_ = 0;
  std::uint64_t line_ = 1;
  std::uint64_t column_ = 1;
};

// Makes the tokens of the pairs of one grammar run. Holds a cursor: keep one
// per run and make tokens roughly in text order. Token texts view into
// `owner`'s buffer when the run's input lies inside it.
class PairTokens {
 public:
  PairTokens(const grammar::ParseTree& tree, Offsets offsets, template_ast::TokenText owner)
      : cursor_(tree.input(), tree.line_starts()), offsets_(offsets), owner_(std::move(owner)) {}

  // The pair's text and its position in the text the grammar ran over.
  template_ast::Token token_from_pair(grammar::Pair pair);
  // The same, shifted onto the whole input.
  template_ast::Token token_with_offset(grammar::Pair pair) {
    template_ast::Token token;
    assign_with_offset(token, pair);
    return token;
  }
  // `out = token_with_offset(pair)`, written in place (see
  // TokenBatch::assign_slice): for tokens that go into a record.
  void assign_with_offset(template_ast::Token& out, grammar::Pair pair);
  const Offsets& offsets() const noexcept { return offsets_; }

 private:
  LineColCursor cursor_;
  Offsets offsets_;
  template_ast::TokenText owner_;
  template_ast::TokenBatch texts_;
};

// The sub-token for bytes `from` .. content length + `end_delta`; a copy of
// the token when that range is impossible or splits a character.
template_ast::Token token_slice(const template_ast::Token& token, std::int64_t from, std::int64_t end_delta);

// A `{# ... #}` pair as a Comment (whole token and the text inside).
Parsed<template_ast::Comment> comment_from_pair(PairTokens& tokens, const ParserContext& context,
                                                grammar::Pair pair);

}  // namespace lumra::template_parser
