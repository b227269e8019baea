// Attributes of start and self-closing tags: each one's name, value and kind.
//
// The kind tells the compiler how to treat the value: literal text (Static),
// an expression of the template's language (Expression), a nested template
// (Template) or node metadata (Meta). Expression values are parsed by the
// backend; template values are parsed by this parser over the value's own text,
// with positions shifted onto the whole input.
#pragma once

#include <cstdint>
#include <vector>

#include "template/ast/ast.h"
#include "template/grammar/pairs.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

// Templates nested in attribute values inside one another. The grammar cannot
// nest them deeper than quoting allows; the bound keeps that an explicit limit.
inline constexpr std::uint32_t kMaxNestedTemplates = 8;

// A start tag with what its builder finds beside it.
struct BuiltStartTag {
  template_ast::HtmlStartTag start_tag;
  // Variables the tag introduces for its body (loops, fill data).
  template_ast::List<template_ast::Token> introduced_variables;
  // Slots of the templates nested in its attribute values, in attribute order.
  template_ast::List<template_ast::StaticNamedSlot> slots;
};

// Builds the `html_attribute` pair into `attrs` (and the slots of a nested
// template into `slots`). `loop_attribute`: the tag reads `c-for` as a loop.
Status build_tag_attribute(TextParse& parse, grammar::Pair pair, template_ast::List<template_ast::HtmlAttr>& attrs,
                           template_ast::List<template_ast::StaticNamedSlot>& slots, bool loop_attribute);

// --- Templates nested in attribute values ---------------------------------------

// Parses the text of `value` as a template whose positions lie on the whole
// input, with a context that shares the caller's rules, backend and source.
// Appends to `introduced` what the template introduces: each top-level node's
// introduced variables, then what its own template-valued attributes introduce
// (bodies are not entered; templates nested deeper are taken in first, so the
// variables accumulate outwards).
Parsed<template_ast::Template> parse_nested_template(const template_ast::Token& value, const ParserContext& context,
                                                     template_ast::List<template_ast::Token>& introduced);

}  // namespace lumra::template_parser
