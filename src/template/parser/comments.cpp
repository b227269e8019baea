#include "template/parser/comments.h"

#include <utility>

namespace lumra::template_parser {

Status append_template_comment(TextParse& parse, grammar::Pair pair,
                               template_ast::List<template_ast::Comment>& comments) {
  auto comment = comment_from_pair(parse.tokens, parse.context, pair);
  if (!comment) return std::move(comment).error();
  comments.push_back(std::move(comment).value());
  return std::nullopt;
}

Status collect_template_comments(TextParse& parse, grammar::Pair spacing,
                                 template_ast::List<template_ast::Comment>& comments) {
  for (const grammar::Pair pair : spacing.inner()) {
    switch (pair.rule()) {
      case grammar::Rule::template_comment:
        if (Status error = append_template_comment(parse, pair, comments)) return error;
        break;
      case grammar::Rule::spacing:
        // The grammar puts no spacing inside spacing; this guard of the shape
        // recurses at most as deep as the grammar nests.
        if (Status error = collect_template_comments(parse, pair, comments)) return error;
        break;
      default:
        // Nothing else inside spacing carries a comment.
        break;
    }
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
