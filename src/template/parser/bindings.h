// Bindings of the special tags: the loop clauses of <c-for each> and of
// `c-for` attributes, the `cond` of <c-if>/<c-elif>, the `data` and
// `fallback` of <c-fill>, and the refusal of `c-bind` on control flow.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

#include "template/ast/ast.h"
#include "template/compiler/backend.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {

// Whether a `c-for` attribute of the tag `name` is a loop header: on every tag
// but <c-for> (whose loop is `each`) and <c-fill>.
inline bool reads_loop_attribute(std::string_view name) { return name != "c-for" && name != "c-fill"; }

// Finishes the attributes whose meaning depends on the tag (in place) and
// returns the variables the tag introduces for its body. `tag_start` and
// `tag_end` span the start tag in the whole input.
Parsed<template_ast::List<template_ast::Token>> resolve_tag_bindings(std::string_view name, std::uint64_t tag_start,
                                                                     std::uint64_t tag_end,
                                                                     template_ast::List<template_ast::HtmlAttr>& attrs,
                                                                     const ParserContext& context);

// Runs the context's backend on a loop clause (`token` on the whole input) and
// returns the names it binds and reads on the whole input; a name bound twice
// (compared in NFKC form) is refused.
Parsed<template_compiler::LoopVariables> read_loop_clause(const template_ast::Token& token,
                                                          const ParserContext& context);

}  // namespace lumra::template_parser
