#include "template/parser/expressions.h"

#include <fmt/format.h>

#include <iterator>
#include <string>
#include <utility>

#include "template/parser/comments.h"
#include "template/parser/messages.h"
#include "template/parser/tokens.h"

namespace lumra::template_parser {

Parsed<RebasedExpression> parse_expression_rebased(const template_ast::Token& expression_token,
                                                   std::optional<GrammarSpan> error_span,
                                                   const ParserContext& context, bool loop_header) {
  const Offsets by = offsets_at(expression_token);
  auto rebase = [&](RebasedExpression out) {
    for (auto& token : out.used_variables) shift_token(token, by);
    for (auto& comment : out.comments) {
      shift_token(comment.token, by);
      shift_token(comment.value, by);
    }
    return out;
  };
  if (auto quick = context.backend->parse_expression_quickly(expression_token.content)) {
    return rebase(RebasedExpression{std::move(quick->used_variables), std::move(quick->comments)});
  }
  const std::string_view source_text = expression_token.content;
  auto& memo = context.memo->expressions;
  auto found = memo.find(std::string_view(source_text));
  if (found == memo.end()) {
    auto parsed = context.backend->parse_expression(source_text);
    if (auto* message = std::get_if<std::string>(&parsed)) {
      // Not kept for repeats: the same text elsewhere is no loop header.
      if (auto header = loop_header ? context.backend->parse_loop_header_past_limit(source_text, *message)
                                    : std::nullopt) {
        return rebase(RebasedExpression{std::move(header->used_variables), std::move(header->comments)});
      }
      std::string text = fmt::format(fmt::runtime(msg::kFailedToParseExpression), *message);
      if (error_span) {
        return error_at_offsets(context.source.view(), context.index_offset, error_span->first, error_span->second,
                                std::move(text));
      }
      return error_at_span(context.source.view(), expression_token.start_index, expression_token.end_index,
                           std::move(text));
    }
    found = memo.emplace(expression_token.content, std::get<template_compiler::ParsedExpression>(std::move(parsed))).first;
  }
  const template_compiler::ParsedExpression& expression = found->second;
  return rebase(RebasedExpression{expression.used_variables, expression.comments});
}

Parsed<template_ast::Expr> build_python_expr(TextParse& parse, grammar::Pair pair) {
  template_ast::Expr expr;
  parse.tokens.assign_with_offset(expr.token, pair);
  std::optional<grammar::Pair> value;
  Status error = split_comment_pairs(parse, pair.inner(), expr.comments, [&](grammar::Pair inner) -> Status {
    if (!value) value = inner;
    return std::nullopt;
  });
  if (error) return std::move(*error);
  if (!value) return error_at_pair(parse.context, pair, std::string(msg::kExpressionWithoutInner));
  parse.tokens.assign_with_offset(expr.value, *value);
  auto parsed = parse_expression_rebased(expr.value, GrammarSpan{value->start(), value->end()}, parse.context);
  if (!parsed) return std::move(parsed).error();
  expr.used_variables = std::move(parsed.value().used_variables);
  auto& own = parsed.value().comments;
  expr.comments.insert(expr.comments.end(), std::make_move_iterator(own.begin()), std::make_move_iterator(own.end()));
  return expr;
}

}  // namespace lumra::template_parser
