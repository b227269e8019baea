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
// input, with a context that shares the caller's rules, backend, source and
// registry.
Parsed<template_ast::Template> parse_nested_template(const template_ast::Token& value, const ParserContext& context);

// What a nested template's elements introduce: each node's introduced
// variables, then what its attributes recorded in the registry (bodies are not
// entered: templates nested deeper recorded their entries first, so entries
// accumulate outwards).
template_ast::List<template_ast::Token> collect_nested_variables(
    const template_ast::List<template_ast::TemplateElement>& elements, const ParserContext& context);

// Stores `tokens` under the attribute span, replacing what was there.
void record_attribute_variables(AttributeVariables& registry, std::uint64_t start_index, std::uint64_t end_index,
                                template_ast::List<template_ast::Token> tokens);

}  // namespace lumra::template_parser
