// The walk over the grammar's records of one text, with the stack of elements
// whose end tag has not been met yet.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "template/ast/ast.h"
#include "template/grammar/pairs.h"
#include "template/parser/collector.h"
#include "template/parser/errors.h"
#include "template/parser/listings.h"
#include "template/parser/parser.h"
#include "template/parser/tokens.h"

namespace lumra::template_parser {

// Open elements allowed at once; the next start tag is refused with a
// positioned error, so no later walk over the tree can exhaust the stack.
inline constexpr std::size_t kMaxOpenElements = 512;

// What the template nested in one attribute value introduces (see
// parse_template_text), by the attribute's place among its tag's attributes.
struct AttributeVariables {
  std::uint32_t attribute;
  template_ast::List<template_ast::Token> tokens;
};

// One grammar run over one text (the whole input or a nested template): the
// context and the tokens of its pairs.
struct TextParse {
  ParserContext& context;
  PairTokens tokens;
  // For the tag being built, in attribute order; the walk takes them when it
  // notes the tag.
  std::vector<AttributeVariables> attribute_variables;
  // Where the walk appends what the top-level elements introduce, if asked.
  template_ast::List<template_ast::Token>* top_level_variables = nullptr;
};

// A start tag whose end tag has not been met.
struct OpenElement {
  // Provided, so that making one runs the member initialisers only and does
  // not first clear all of its bytes.
  OpenElement() noexcept {}

  template_ast::HtmlStartTag start_tag;
  // What lies between the start tag and its end tag.
  Collector body;
  // Variables the start tag introduces for its body.
  template_ast::List<template_ast::Token> introduced_variables;
  // Where the body's lists start (see Listings).
  Listings::Mark listed_from;
};

// Where finished pieces go: the innermost open element's body, or the top level.
inline Collector& current_collector(std::vector<OpenElement>& stack, Collector& top) {
  return stack.empty() ? top : stack.back().body;
}

}  // namespace lumra::template_parser
