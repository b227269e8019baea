// Variable scopes: the variables every node and template uses, and the check
// that no binding defines a name twice or shadows a name already in use.
//
// Names are compared by their NFKC form ("ﬁle" and "file" are one name);
// tokens keep the spelling as written.
//
// Used variables are filed as the walk meets each piece (see listings.h).
// The binding checks need the whole template's list (its context
// variables), so the walk notes every binding where it meets it, in source
// order, with what the enclosing bindings bind there, and the notes are
// checked when the walk is done.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "hashing/keyed_hash.h"
#include "template/ast/ast.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

// A node that loops on an ordinary element: its `c-for` attribute introduces
// variables that its other non-control-flow attributes may read.
bool loops_on_element(const template_ast::HtmlStartTag& tag, const template_ast::List<template_ast::Token>& introduced);

// Whether an attribute's variables leave out the node's loop variables.
bool reads_loop_variables(bool loop_on_element, const template_ast::HtmlAttr& attr);

// The bindings of one text: no tag defines a name twice, and none defines a
// name in use (a context variable of the template) or bound by an enclosing
// binding; nor does a template nested in an attribute value.
class BindingChecks {
 public:
  explicit BindingChecks(const ParserContext& context) : context_(context) {}

  // A tag as the walk meets it (start tags before their bodies), with the
  // variables it introduces and those its template-valued attributes
  // introduce; tags that bind nothing leave no note.
  void note(const template_ast::HtmlStartTag& tag, const template_ast::List<template_ast::Token>& introduced,
            std::span<const AttributeVariables> nested);
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
  hashing::TextMap<std::string, std::uint32_t> bound_;
  std::vector<std::string> pushed_;
  std::vector<std::size_t> entered_;
};

}  // namespace lumra::template_parser
