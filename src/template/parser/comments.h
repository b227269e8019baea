// Template comments `{# ... #}`: taken out of the runs of pairs they stand in
// (between elements, in the spacing of tags) and filed on their owner.
//
// Where each comment ends up:
//   between elements, at any depth  -> the top-level template (the walk files them);
//   `<!-- -->` between elements     -> the current body, also kept as text;
//   in the spacing of a tag         -> that tag's `comments`;
//   `#` inside an expression        -> the Expr's `comments` (from the backend).
#pragma once

#include <vector>

#include "template/ast/ast.h"
#include "template/grammar/pairs.h"
#include "template/grammar/rule.h"
#include "template/parser/errors.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

// Appends the Comment of a `template_comment` pair.
Status append_template_comment(TextParse& parse, grammar::Pair pair,
                               template_ast::List<template_ast::Comment>& comments);

// Appends the template comments inside a `spacing` or
// `spacing_with_whitespace` pair to `comments`.
Status collect_template_comments(TextParse& parse, grammar::Pair spacing,
                                 template_ast::List<template_ast::Comment>& comments);

// Walks a run of sibling pairs in order: template comments (a template_element
// holding one, or those inside spacing) go to `comments`; every other pair is
// handed to `keep` (a callable Pair -> Status), whose first error ends the walk.
// Comments and kept pairs are met in text order, as the token cursor wants.
template <class Keep>
Status split_comment_pairs(TextParse& parse, grammar::Pairs pairs, template_ast::List<template_ast::Comment>& comments,
                           Keep&& keep) {
  for (const grammar::Pair pair : pairs) {
    const grammar::Rule rule = pair.rule();
    if (rule == grammar::Rule::spacing || rule == grammar::Rule::spacing_with_whitespace) {
      if (Status error = collect_template_comments(parse, pair, comments)) return error;
      continue;
    }
    if (rule == grammar::Rule::template_element) {
      const auto inner = pair.inner().first();
      if (inner && inner->rule() == grammar::Rule::template_comment) {
        if (Status error = append_template_comment(parse, *inner, comments)) return error;
        continue;
      }
    }
    if (Status error = keep(pair)) return error;
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
