#include "template/parser/validate.h"

#include <utility>

namespace lumra::template_parser {

namespace {

// A <c-slot>'s static name: the last of name / c-name / c-bind decides.
std::optional<template_ast::StaticNamedSlot> static_slot(const template_ast::Node& node) {
  const auto& tag = node.start_tag();
  std::optional<template_ast::Token> name;
  bool found = false;
  for (auto it = tag.attrs.rbegin(); it != tag.attrs.rend() && !found; ++it) {
    const std::string& key = it->key.content;
    if (key == "c-name" || key == "c-bind") return std::nullopt;
    if (key == "name") {
      if (!it->inner_value) return std::nullopt;
      name = *it->inner_value;
      found = true;
    }
  }
  if (!name) name = template_ast::Token{"default", tag.token.start_index, tag.token.end_index, tag.token.line_col};
  std::optional<bool> required = false;
  for (auto it = tag.attrs.rbegin(); it != tag.attrs.rend(); ++it) {
    const std::string& key = it->key.content;
    if (key == "c-bind" || key == "c-required") {
      required.reset();
      break;
    }
    if (key == "required") {
      required = true;
      break;
    }
  }
  return template_ast::StaticNamedSlot{std::move(*name), required};
}

}  // namespace

// Stand-in until the checks land: files the node without checking it.
Status validate_template(template_ast::Node node, std::vector<template_ast::StaticNamedSlot> extra_slots,
                         const std::vector<OpenElement>&, Collector& collector, const CollectorChecks*,
                         const ParserContext&) {
  template_ast::Template& out = collector.tmpl;
  if (node.start_tag().name.content == "c-slot") {
    if (auto slot = static_slot(node)) out.slots.push_back(std::move(*slot));
  }
  for (auto& slot : extra_slots) out.slots.push_back(std::move(slot));
  if (const auto* with_body = node.with_body()) {
    const auto& body_slots = with_body->body->slots;
    out.slots.insert(out.slots.end(), body_slots.begin(), body_slots.end());
  }
  out.comments.insert(out.comments.end(), node.comments().begin(), node.comments().end());
  out.used_variables.insert(out.used_variables.end(), node.used_variables().begin(), node.used_variables().end());
  if (node.start_tag().name.content == "c-fill") collector.checks.has_fill = true;
  out.elements.emplace_back(std::move(node));
  return std::nullopt;
}

Status check_client_props(const template_ast::Node&, std::string_view) { return std::nullopt; }
Status check_tag_rules(const template_ast::Node&, const UserRules&, std::string_view) { return std::nullopt; }
Status check_meta_attribute_placement(const template_ast::Node&, std::string_view) { return std::nullopt; }

}  // namespace lumra::template_parser
