// Text forms of syntax-tree records.
//
// The debug form is how a value prints when it is nested inside a record's
// repr: text in double quotes with backslash escapes, a character in single
// quotes, optional values as `None` / `Some(...)`, lists as `[a, b]`, records as
// `Name { field: value, ... }`. The repr is the top-level text of each Python
// class. Both walk nested bodies with an explicit stack, so any depth prints.
#pragma once

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "template/ast/ast.h"

namespace lumra::template_ast {

// Escaping of text and of one character, shared with other records (TagRules).
void append_debug_str(std::string& out, std::string_view utf8);
void append_debug_char(std::string& out, char32_t c);

// Debug form of each value, appended to `out`.
void append_debug(std::string& out, bool v);      // true / false
void append_debug(std::string& out, char32_t v);  // as append_debug_char
void append_debug(std::string& out, const Token& v);
void append_debug(std::string& out, const Comment& v);
void append_debug(std::string& out, const FillDataField& v);
void append_debug(std::string& out, const FillDataPattern& v);
void append_debug(std::string& out, HtmlAttrKind v);
void append_debug(std::string& out, const HtmlAttr& v);
void append_debug(std::string& out, const HtmlStartTag& v);
void append_debug(std::string& out, const HtmlEndTag& v);
void append_debug(std::string& out, const Text& v);
void append_debug(std::string& out, const Expr& v);
void append_debug(std::string& out, const StaticNamedSlot& v);
void append_debug(std::string& out, const Node& v);             // `WithBody { ... }`
void append_debug(std::string& out, const TemplateElement& v);  // `Node(WithBody { ... })`
void append_debug(std::string& out, const Template& v);         // `Template { ... }`

template <class T>
void append_debug_items(std::string& out, std::span<const T> items) {
  out += '[';
  for (std::size_t i = 0; i < items.size(); ++i) {
    if (i) out += ", ";
    append_debug(out, items[i]);
  }
  out += ']';
}

template <class T>
void append_debug(std::string& out, const List<T>& items) {
  append_debug_items(out, std::span<const T>(items));
}

// Read in place: what a list leaves out is never copied.
template <class T>
void append_debug(std::string& out, const SharedList<T>& items) {
  out += '[';
  bool first = true;
  items.for_each([&](const T& item) {
    if (!first) out += ", ";
    first = false;
    append_debug(out, item);
  });
  out += ']';
}

template <class T>
void append_debug(std::string& out, const HeapOptional<T>& v) {
  if (!v) {
    out += "None";
    return;
  }
  out += "Some(";
  append_debug(out, *v);
  out += ')';
}

template <class T>
void append_debug(std::string& out, const std::optional<T>& v) {
  if (!v) {
    out += "None";
    return;
  }
  out += "Some(";
  append_debug(out, *v);
  out += ')';
}

template <class T>
std::string debug_string(const T& v) {
  std::string out;
  append_debug(out, v);
  return out;
}

// The repr of each Python class.
std::string repr(const Token& v);
std::string repr(const Comment& v);
std::string repr(const FillDataField& v);
std::string repr(const FillDataPattern& v);
std::string repr(HtmlAttrKind v);  // "HtmlAttrKind::Static"
std::string repr(const HtmlAttr& v);
std::string repr(const HtmlStartTag& v);
std::string repr(const HtmlEndTag& v);
std::string repr(const Text& v);
std::string repr(const Expr& v);
std::string repr(const StaticNamedSlot& v);
std::string repr(const Node& v);             // "Node::WithBody(...)"
std::string repr(const TemplateElement& v);  // "TemplateElement::Node(...)"
std::string repr(const Template& v);         // without `comments`

// Name of an attribute kind: "Static", "Expression", "Template" or "Meta".
std::string_view kind_name(HtmlAttrKind v);

}  // namespace lumra::template_ast
