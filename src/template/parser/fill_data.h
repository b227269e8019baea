// The `data` binding of a <c-fill>: one variable for the whole slot data
// (`data="props"`) or one level of it (`data="{ a, b as c, **rest }"`).
#pragma once

#include <string>
#include <vector>

#include "template/ast/ast.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {

// A positioned error at the span of a whole-input token.
TemplateParseError error_at_token(const ParserContext& context, const template_ast::Token& token,
                                  std::string message);

// Parses the value of `attribute` (a `data` attribute with a value), stores the
// pattern in its `fill_data_pattern` and returns the variables it introduces:
// the whole-record variable, or the field targets in order and then the rest.
Parsed<template_ast::List<template_ast::Token>> parse_fill_data_binding(template_ast::HtmlAttr& attribute,
                                                                        const ParserContext& context);

// Refuses a name that Python does not read as one plain variable (a keyword,
// `None`, `True`), whatever the template's language.
Status check_fill_identifier(const template_ast::Token& token, const ParserContext& context);

}  // namespace lumra::template_parser
