// The Python class TagRules of submodule template_parser.
#pragma once

#include "module/pyclass.h"
#include "template/ast/tag_rules.h"

namespace lumra::py {

PyTypeObject* tag_rules_type();

template <>
struct PyClass<template_ast::TagRules> {
  static constexpr const char* name = "TagRules";
  static PyTypeObject* type() { return tag_rules_type(); }
};

}  // namespace lumra::py
