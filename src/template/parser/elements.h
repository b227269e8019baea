// Builders of the elements the walk meets: HTML comments, raw blocks, start,
// end and self-closing tags, and the assembly of a node at its end tag.
//
// Every token carries whole-input positions; every error lies at the span of
// the pair it is about (or the structural guard's own span).
#pragma once

#include <utility>
#include <variant>
#include <vector>

#include "template/ast/ast.h"
#include "template/grammar/pairs.h"
#include "template/parser/attributes.h"
#include "template/parser/errors.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

// A `<!-- -->`: the token (kept as text) and its Comment.
struct HtmlComment {
  template_ast::Token token;
  template_ast::Comment comment;
};
Parsed<HtmlComment> build_html_comment(TextParse& parse, grammar::Pair pair);

// A `<c-raw>` block: its content is one text element, never parsed. Runs the
// checks of its tag and attributes (raw blocks skip the rest of validation).
Parsed<template_ast::Node> build_raw_element(TextParse& parse, grammar::Pair pair);

// A self-closing tag, finished at once.
struct CompleteElement {
  template_ast::Node node;
  template_ast::List<template_ast::StaticNamedSlot> slots;
};
using BuiltTag = std::variant<BuiltStartTag, template_ast::HtmlEndTag, CompleteElement>;
// An `html_tag` pair: a start tag, an end tag, or a complete element.
// Builders write into `out` (tags are large: they are built in place, not
// moved through layers of results).
Status build_html_tag(TextParse& parse, grammar::Pair pair, BuiltTag& out);

// `pair` is an `html_start_tag` or the start tag of a raw block.
Status build_start_tag(TextParse& parse, grammar::Pair pair, BuiltStartTag& out);
// `pair` is an `html_end_tag` or the end tag of a raw block; refuses attributes.
Status build_end_tag(TextParse& parse, grammar::Pair pair, template_ast::HtmlEndTag& out);

// The node of a start tag finished without a body (void or self-closing).
// Its lists are filed by the walk's listings.
template_ast::Node finish_without_body(template_ast::HtmlStartTag&& start_tag,
                                       template_ast::List<template_ast::Token>&& introduced_variables);

// The node of an element whose end tag was met. Its lists are filed by the
// walk's listings.
template_ast::Node assemble_node(template_ast::HtmlStartTag&& start_tag, template_ast::HtmlEndTag&& end_tag,
                                 template_ast::Template&& body,
                                 template_ast::List<template_ast::Token>&& introduced_variables);

}  // namespace lumra::template_parser
