// The families of node checks that validate_template runs in order, and the
// small pieces they share: tag-name classes, the rule lookup, and name sets
// that allocate nothing for ordinary tags.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "html/chars.h"
#include "template/ast/ast.h"
#include "template/ast/names.h"
#include "template/ast/tag_rules.h"
#include "template/parser/collector.h"
#include "template/parser/errors.h"
#include "template/parser/name_sets.h"
#include "template/parser/parser.h"
#include "template/parser/walk.h"
#include "text/unicode.h"

namespace lumra::template_parser {

// --- Tag-name classes ----------------------------------------------------------
// Names are compared as exact bytes except where a class says otherwise.

inline bool starts_with_c_dash(std::string_view name) noexcept { return name.starts_with("c-"); }

// "c-" prefix under ASCII case folding.
inline bool starts_with_c_dash_folded(std::string_view name) noexcept {
  return name.size() >= 2 && html::ascii_lower(name[0]) == 'c' && name[1] == '-';
}

// A component: the ASCII-lowered name begins with "c-" and is neither a
// reserved name nor "c-element" (<c-MyComp>, <c-component>).
inline bool is_component_tag(std::string_view name) noexcept {
  if (!starts_with_c_dash_folded(name)) return false;
  if (html::ascii_iequal(name, "c-element")) return false;
  for (std::string_view reserved : template_ast::kReservedTagNames) {
    if (html::ascii_iequal(name, reserved)) return false;
  }
  return true;
}

// Plain markup for the logical-attribute rule: <c-element> or a name without
// the "c-" prefix (ASCII-lowered).
inline bool is_html_like_tag(std::string_view name) noexcept {
  return !starts_with_c_dash_folded(name) || html::ascii_iequal(name, "c-element");
}

// A tag whose slots and fills are checked: "c-component", or any other name
// beginning with "c-" that is not reserved (<c-element> included).
inline bool is_slot_checked_tag(std::string_view name) noexcept {
  return starts_with_c_dash(name) && !template_ast::is_reserved_tag_name(name);
}

inline bool is_fill_or_control_flow(std::string_view name) noexcept {
  return name == "c-fill" || template_ast::is_control_flow_name(name);
}

// Client directives: the props directive, and event names ("@click",
// "x-on:input"), each also with one leading "c-".
inline bool is_client_directive(std::string_view key) noexcept {
  if (key == "$c-props" || key == "c-$c-props") return true;
  if (key.starts_with("c-")) key.remove_prefix(2);
  return key.starts_with('@') || key.starts_with("x-on:");
}

// No value, or only White_Space.
inline bool has_blank_value(const template_ast::HtmlAttr& attr) noexcept {
  return !attr.inner_value || text::is_blank(attr.inner_value->content);
}

// The last of `name`, `c-name`, `c-bind` on a <c-slot> or <c-fill>: it
// decides whether the slot name is static, or null when none is present.
const template_ast::HtmlAttr* last_slot_name_attr(const template_ast::HtmlStartTag& tag);

// The rule of a tag: the built-in one by the name as written, else the
// caller's by the Unicode-lowercased name; null when neither has one.
const template_ast::TagRules* find_tag_rules(std::string_view tag, const ParserContext& context);

// An error at a token of the whole input.
inline TemplateParseError error_at_token(std::string_view source, const template_ast::Token& token,
                                         std::string message) {
  return error_at_span(source, token.start_index, token.end_index, std::move(message));
}

// --- Attribute checks ---------------------------------------------------------

Status check_attribute_names(const template_ast::Node& node, std::string_view source);
Status check_attribute_values(const template_ast::Node& node, std::string_view source);

// --- Slots and fills ------------------------------------------------------------

// A <c-fill> of a component body, found directly or through control-flow tags.
struct FillRef {
  const template_ast::Node* node;
  // Some control-flow tag between the fill and the component is <c-for>.
  bool in_loop;
  // The fill lies inside a control-flow tag.
  bool in_control_flow;
};

// The fills of a body in source order, and the first element that may not
// stand beside fills (other markup, an expression, non-blank text), searched
// in the same walk.
struct BodyFills {
  std::vector<FillRef> fills;
  const template_ast::TemplateElement* stray = nullptr;
};
BodyFills collect_fills(const template_ast::Template& body);

// A <c-fill> must sit in a component, with only control-flow tags between.
// Remembers a pass in `checks` (the fill's collector) and in the control-flow
// bodies between: later fills there have the same component above them.
Status check_fill_placement(const template_ast::Node& fill, std::vector<OpenElement>& stack,
                            CollectorChecks& checks, std::string_view source);

Status check_slots_and_fills(const template_ast::Node& node, const BodyFills& body_fills,
                             const ParserContext& context);

// A control-flow body holds more than fills: an expression, non-blank text,
// markup, or a control-flow child that does.
bool holds_more_than_fills(const template_ast::Template& body, const CollectorChecks& checks);

// Fills and control-flow tags are not mixed with other nodes among siblings.
// `node_mixed` is holds_more_than_fills of the node's own body (control-flow
// tags with a body only).
Status check_fill_grouping(const template_ast::Node& node, bool node_mixed, const Collector& collector,
                           std::string_view source);

// --- Control-flow chains --------------------------------------------------------

// The tag name for a control-flow tag, else the first control-flow attribute
// by priority (c-if, c-elif, c-else, c-for, c-empty), else the tag name.
std::string_view control_flow_kind(const template_ast::Node& node);

// c-elif / c-else / c-empty (as tags or attributes) directly follow a suitable
// sibling among the elements filed before them.
Status check_chain(const template_ast::Node& node, const template_ast::Template& siblings, std::string_view source);

}  // namespace lumra::template_parser
