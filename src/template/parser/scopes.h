// Variable scopes: the variables every node and template uses, and the check
// that no binding defines a name twice or shadows a name already in use.
//
// Names are compared by their NFKC form ("ﬁle" and "file" are one name);
// tokens keep the spelling as written.
//
// Used variables are written as the walk files each piece, while they are
// still at hand: a body's list is its pieces' lists in order (an
// expression's own, a node's), and a node's list comes from its body and
// attributes. The binding checks need the whole template's list (its context
// variables), so the walk notes every binding where it meets it, in source
// order, with what the enclosing bindings bind there, and the notes are
// checked when the walk is done.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <unordered_map>
#include <vector>

#include "template/ast/ast.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {

// The used-variable lists of one text's tree, written as the walk files its
// pieces. Each level lists all its descendants' variables, so they are not
// copied from level to level: every list is a run of one store (see
// shared_tokens.h), written in the order the walk finishes pieces. An
// expression's variables go on as it is filed; a body's list is then the run
// of its pieces, and a node's list is its body's run followed by its
// attributes' variables. A node that introduces variables leaves them out of
// its list, but not out of its body's: it records which of its ranges leave
// them out, and its list is the same run read with that record.
class UsedVariables {
 public:
  using Mark = template_ast::TokenStoreWriter::Mark;

  // A body opens: where its list will start.
  Mark open_body() const { return store_.mark(); }
  void expression(const template_ast::Expr& expr);
  // A walked body is complete: its list is the run from `start`.
  void close_body(template_ast::Template& body, Mark start);
  // A node is filed: `body_start` is its walked body's start (nothing
  // written since but the body), absent for a node whose body, if any, was
  // not walked. By reference: an optional passed by value is built with two
  // narrow stores and read back as one wide load, which stalls.
  void node(template_ast::Node& node, const std::optional<Mark>& body_start);
  // The top level's list: every variable of the text in filing order.
  void finish(template_ast::Template& top);

 private:
  template_ast::TokenStoreWriter store_;
};

// The bindings of one text: no tag defines a name twice, and none defines a
// name in use (a context variable of the template) or bound by an enclosing
// binding; nor does a template nested in an attribute value.
class BindingChecks {
 public:
  explicit BindingChecks(const ParserContext& context) : context_(context) {}

  // A tag as the walk meets it (start tags before their bodies), with the
  // variables it introduces; tags that bind nothing leave no note.
  void note(const template_ast::HtmlStartTag& tag, const template_ast::List<template_ast::Token>& introduced);
  // The walk enters / leaves the body of an element that introduces these.
  void enter(const template_ast::List<template_ast::Token>& introduced);
  void leave();

  // The first refused binding, in source order, given the template's used variables.
  Status check(const template_ast::SharedTokens& used) const;

 private:
  struct Name {
    template_ast::Token token;
    std::string key;
    // Bound by an enclosing binding, or (nested) also by the tag's own loop.
    bool bound = false;
  };
  struct Note {
    std::string tag_name;
    std::vector<Name> introduced;
    std::vector<Name> nested;
  };

  bool is_bound(const std::string& key) const;

  const ParserContext& context_;
  std::vector<Note> notes_;
  // Names bound by the bodies being walked, with how many bind each; and
  // how many each entered body pushed.
  std::unordered_map<std::string, std::uint32_t> bound_;
  std::vector<std::string> pushed_;
  std::vector<std::size_t> entered_;
};

}  // namespace lumra::template_parser
