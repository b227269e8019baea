#include "template/parser/expressions.h"

#include <fmt/format.h>

#include "template/parser/messages.h"
#include "template/parser/tokens.h"

namespace lumra::template_parser {

Parsed<RebasedExpression> parse_expression_rebased(const template_ast::Token& expression_token,
                                                   std::optional<GrammarSpan> error_span,
                                                   const ParserContext& context) {
  auto parsed = context.backend->parse_expression(expression_token.content);
  if (auto* message = std::get_if<std::string>(&parsed)) {
    std::string text = fmt::format(fmt::runtime(msg::kFailedToParseExpression), *message);
    if (error_span) {
      return error_at_offsets(*context.source, context.index_offset, error_span->first, error_span->second,
                              std::move(text));
    }
    return error_at_span(*context.source, expression_token.start_index, expression_token.end_index, std::move(text));
  }
  auto& expression = std::get<template_compiler::ParsedExpression>(parsed);
  const Offsets by = offsets_at(expression_token);
  RebasedExpression out{std::move(expression.used_variables), std::move(expression.comments)};
  for (auto& token : out.used_variables) shift_token(token, by);
  for (auto& comment : out.comments) {
    shift_token(comment.token, by);
    shift_token(comment.value, by);
  }
  return out;
}

}  // namespace lumra::template_parser
