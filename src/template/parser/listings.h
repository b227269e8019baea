// What each level of one text's tree lists of its descendants: used
// variables, comments and static slots, filed as the walk finishes pieces.
//
// Each level lists all its descendants' items, so they are not copied from
// level to level: every list is a run of one store per kind (see
// shared_list.h), written in the order the walk files pieces. A piece's items
// go on as it is filed; a body's list is then the run of its pieces, and a
// node's list is its body's run followed by its own items:
//   - used variables: its attributes' variables. A node that introduces
//     variables leaves them out of its list, but not out of its body's: it
//     records which of its ranges leave them out, or, when its list is
//     short, writes that list out again and has the lists around it skip the
//     body's range;
//   - comments: its end tag's, its attributes', then its start tag's (a node
//     without a body: its start tag's, then its attributes');
//   - slots: a <c-slot>'s own and those of the templates in its attributes go
//     before its body's, so they are written when its start tag opens.
#pragma once

#include <optional>

#include "template/ast/ast.h"

namespace lumra::template_parser {

class Listings {
 public:
  struct Mark {
    template_ast::ListWriter<template_ast::Token>::Mark used;
    template_ast::ListWriter<template_ast::Comment>::Mark comments;
    template_ast::ListWriter<template_ast::StaticNamedSlot>::Mark slots;
  };

  // A start tag opens a body: its own slots are filed, then its body starts.
  Mark open_body(const template_ast::HtmlStartTag& tag, const template_ast::List<template_ast::StaticNamedSlot>& tag_slots);
  void expression(const template_ast::Expr& expr);
  void comment(const template_ast::Comment& comment);
  // A walked body is complete: its lists are the runs from `start`.
  void close_body(template_ast::Template& body, const Mark& start);
  // A node is filed: `body_start` is its walked body's start (nothing filed
  // since but the body), absent for a node whose body, if any, was not
  // walked; such a node's own slots (`tag_slots` too) are filed now.
  void node(template_ast::Node& node, const std::optional<Mark>& body_start,
            const template_ast::List<template_ast::StaticNamedSlot>& tag_slots);
  // The top level's lists, `first` ahead of its comments.
  void finish(template_ast::Template& top, const template_ast::List<template_ast::Comment>& first);

 private:
  Mark mark() const { return {used_.mark(), comments_.mark(), slots_.mark()}; }
  void file_slots(const template_ast::HtmlStartTag& tag,
                  const template_ast::List<template_ast::StaticNamedSlot>& tag_slots);
  void file_used(template_ast::Node& node, const std::optional<Mark>& body_start);
  void file_comments(template_ast::Node& node, const std::optional<Mark>& body_start);

  template_ast::ListWriter<template_ast::Token> used_;
  template_ast::ListWriter<template_ast::Comment> comments_;
  template_ast::ListWriter<template_ast::StaticNamedSlot> slots_;
};

}  // namespace lumra::template_parser
