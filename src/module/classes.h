// The syntax-tree classes of submodule template_parser: one class object per
// record, created on first request. The module body registers them in this
// order (TagRules, the fifteenth, is in tag_rules_class.h).
#pragma once

#include "module/pyclass.h"
#include "template/ast/ast.h"

namespace lumra::py {

PyTypeObject* token_type();
PyTypeObject* comment_type();
PyTypeObject* html_attr_kind_type();
PyTypeObject* fill_data_field_type();
PyTypeObject* fill_data_pattern_type();
PyTypeObject* html_attr_type();
PyTypeObject* html_start_tag_type();
PyTypeObject* html_end_tag_type();
PyTypeObject* expr_type();
PyTypeObject* text_type();
PyTypeObject* node_type();
PyTypeObject* template_element_type();
PyTypeObject* static_named_slot_type();
PyTypeObject* template_type();

// Class of a sum-type value: the class of its variant (Node_WithBody, ...).
PyTypeObject* node_variant_type(const template_ast::Node& node);
PyTypeObject* template_element_variant_type(const template_ast::TemplateElement& element);

template <>
struct PyClass<template_ast::Token> {
  static constexpr const char* name = "Token";
  static PyTypeObject* type() { return token_type(); }
};
template <>
struct PyClass<template_ast::Comment> {
  static constexpr const char* name = "Comment";
  static PyTypeObject* type() { return comment_type(); }
};
template <>
struct PyClass<template_ast::FillDataField> {
  static constexpr const char* name = "FillDataField";
  static PyTypeObject* type() { return fill_data_field_type(); }
};
template <>
struct PyClass<template_ast::FillDataPattern> {
  static constexpr const char* name = "FillDataPattern";
  static PyTypeObject* type() { return fill_data_pattern_type(); }
};
template <>
struct PyClass<template_ast::HtmlAttr> {
  static constexpr const char* name = "HtmlAttr";
  static PyTypeObject* type() { return html_attr_type(); }
};
template <>
struct PyClass<template_ast::HtmlStartTag> {
  static constexpr const char* name = "HtmlStartTag";
  static PyTypeObject* type() { return html_start_tag_type(); }
};
template <>
struct PyClass<template_ast::HtmlEndTag> {
  static constexpr const char* name = "HtmlEndTag";
  static PyTypeObject* type() { return html_end_tag_type(); }
};
template <>
struct PyClass<template_ast::Expr> {
  static constexpr const char* name = "Expr";
  static PyTypeObject* type() { return expr_type(); }
};
template <>
struct PyClass<template_ast::Text> {
  static constexpr const char* name = "Text";
  static PyTypeObject* type() { return text_type(); }
};
template <>
struct PyClass<template_ast::Node> {
  static constexpr const char* name = "Node";
  static PyTypeObject* type() { return node_type(); }
  static PyTypeObject* type_for(const template_ast::Node& v) { return node_variant_type(v); }
};
template <>
struct PyClass<template_ast::TemplateElement> {
  static constexpr const char* name = "TemplateElement";
  static PyTypeObject* type() { return template_element_type(); }
  static PyTypeObject* type_for(const template_ast::TemplateElement& v) { return template_element_variant_type(v); }
};
template <>
struct PyClass<template_ast::StaticNamedSlot> {
  static constexpr const char* name = "StaticNamedSlot";
  static PyTypeObject* type() { return static_named_slot_type(); }
};
template <>
struct PyClass<template_ast::Template> {
  static constexpr const char* name = "Template";
  static PyTypeObject* type() { return template_type(); }
};

}  // namespace lumra::py
