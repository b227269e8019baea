// Template expressions `{{ ... }}` and every other expression text (attribute
// values, `cond`), parsed by the context's backend and moved onto whole-input
// positions.
#pragma once

#include <cstdint>
#include <optional>
#include <utility>
#include <vector>

#include "template/ast/ast.h"
#include "template/parser/errors.h"
#include "template/grammar/pairs.h"
#include "template/parser/parser.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

struct RebasedExpression {
  template_ast::List<template_ast::Token> used_variables;
  template_ast::List<template_ast::Comment> comments;
};

// A span in the text the grammar ran over (shifted by the context's
// index_offset before use).
using GrammarSpan = std::pair<std::uint64_t, std::uint64_t>;

// Parses `expression_token.content` with the backend; the used variables and
// comments come back on the whole input. A failure reads "Failed to parse
// expression: {}" at `error_span`, or at the token's span when absent.
// `loop_header`: the text is an element's `c-for` value, which may take the
// levels that its reading as a loop adds (see the backend).
Parsed<RebasedExpression> parse_expression_rebased(const template_ast::Token& expression_token,
                                                   std::optional<GrammarSpan> error_span,
                                                   const ParserContext& context, bool loop_header = false);

// A `template_expression` pair `{{ ... }}`: its comments are the template
// comments between the braces and the expression, then the expression's own.
Parsed<template_ast::Expr> build_python_expr(TextParse& parse, grammar::Pair pair);

}  // namespace lumra::template_parser
