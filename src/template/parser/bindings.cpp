#include "template/parser/bindings.h"

namespace lumra::template_parser {

// Stand-in until the bindings land: no tag introduces anything.
Parsed<std::vector<template_ast::Token>> resolve_tag_bindings(std::string_view, std::uint64_t, std::uint64_t,
                                                              std::vector<template_ast::HtmlAttr>&,
                                                              const ParserContext&) {
  return std::vector<template_ast::Token>{};
}

}  // namespace lumra::template_parser
