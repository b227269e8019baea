// Checks on single attributes of a finished element: the client props
// directive, node metadata placement, repeated and competing names, and values
// that must be present, static or dynamic.
#include <fmt/format.h>

#include <array>

#include "template/parser/messages.h"
#include "template/parser/validate.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

namespace {

using template_ast::HtmlAttr;
using template_ast::HtmlAttrKind;
using template_ast::Node;

template <class... Args>
TemplateParseError attr_error(std::string_view source, const HtmlAttr& attr, std::string_view format,
                              Args&&... args) {
  return error_at_token(source, attr.token, fmt::format(fmt::runtime(format), std::forward<Args>(args)...));
}

// Messages that name the attribute's place: key, tag, line, column.
TemplateParseError placed_attr_error(std::string_view source, const HtmlAttr& attr, std::string_view tag,
                                     std::string_view format) {
  return attr_error(source, attr, format, attr.key.content, tag, attr.token.line_col.line,
                    attr.token.line_col.column, tag);
}

// The members of each control-flow attribute group, as messages list them.
constexpr std::array<std::string_view, 2> kControlFlowGroupNames = {"c-if, c-elif, c-else", "c-for, c-empty"};

}  // namespace

Status check_client_props(const Node& node, std::string_view source) {
  const auto& tag = node.start_tag();
  for (const HtmlAttr& attr : tag.attrs) {
    const std::string_view key = attr.key.content;
    const bool props = html::ascii_iequal(key, "$c-props");
    if (!props && !html::ascii_iequal(key, "c-$c-props")) continue;
    if (key != "$c-props" && key != "c-$c-props") {
      return attr_error(source, attr, msg::kClientDirectiveCase, "$c-props", "c-$c-props", key);
    }
    if (props && has_blank_value(attr)) return attr_error(source, attr, msg::kClientPropsNeedValue, key, key);
    if (!is_component_tag(tag.name.content)) {
      return placed_attr_error(source, attr, tag.name.content, msg::kClientPropsPlacement);
    }
  }
  return std::nullopt;
}

Status check_meta_attribute_placement(const Node& node, std::string_view source) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  for (const HtmlAttr& attr : tag.attrs) {
    if (attr.kind != HtmlAttrKind::Meta) continue;
    const bool key = attr.key.content == "#c-key";
    if (template_ast::is_reserved_tag_name(name)) {
      return placed_attr_error(source, attr, name, key ? msg::kKeyOnReservedTag : msg::kIgnoreOnReservedTag);
    }
    // A component keeps its own root: ignoring morphs there is the child's call.
    if (!key && starts_with_c_dash(name)) return placed_attr_error(source, attr, name, msg::kIgnoreOnComponent);
  }
  return std::nullopt;
}

Status check_attribute_names(const Node& node, std::string_view source) {
  const auto& tag = node.start_tag();
  const std::string_view tag_name = tag.name.content;
  const bool component = is_component_tag(tag_name);
  const bool html_like = is_html_like_tag(tag_name);
  NameSet seen;
  // Logical name -> the key that first gave it.
  NameMap<std::string_view> logical;
  // The first attribute of each control-flow group.
  std::array<const HtmlAttr*, 2> group_attr{};
  for (const HtmlAttr& attr : tag.attrs) {
    const std::string_view key = attr.key.content;
    if (key == "c-bind") continue;  // spreads may repeat
    if (!seen.insert(key)) return attr_error(source, attr, msg::kDuplicateAttribute, key);
    if (const auto group = template_ast::control_flow_group(key)) {
      if (const HtmlAttr* first = group_attr[*group]) {
        return attr_error(source, attr, msg::kTwoControlFlowAttributes, first->key.content, key,
                          kControlFlowGroupNames[*group]);
      }
      group_attr[*group] = &attr;
      continue;
    }
    if (attr.kind == HtmlAttrKind::Meta) continue;
    const std::string_view logical_name = starts_with_c_dash(key) ? key.substr(2) : key;
    // Markup merges a static and a dynamic class or style.
    if (html_like && (logical_name == "class" || logical_name == "style")) continue;
    const auto [earlier, inserted] = logical.insert(logical_name, key);
    if (inserted || *earlier == key) continue;
    if (component && is_client_directive(*earlier) && is_client_directive(key)) continue;
    return attr_error(source, attr, msg::kSameLogicalAttribute, *earlier, key, logical_name);
  }
  // The if chain wraps before the loop: a c-empty under it would never pair with its c-for.
  const HtmlAttr* condition = group_attr[0];
  const HtmlAttr* loop = group_attr[1];
  if (condition && loop && loop->key.content != "c-for") {
    const std::string_view first = condition->key.content;
    const std::string_view second = loop->key.content;
    return attr_error(source, *loop, msg::kControlFlowAttributeOrder, first, second, first, second);
  }
  return std::nullopt;
}

Status check_attribute_values(const Node& node, std::string_view source) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  const bool dynamic_tag = html::ascii_iequal(name, "c-element") || html::ascii_iequal(name, "c-component");
  const bool slot = name == "c-slot";
  const bool fill = name == "c-fill";
  for (const HtmlAttr& attr : tag.attrs) {
    const std::string_view key = attr.key.content;
    const bool blank = has_blank_value(attr);
    if (dynamic_tag && key == "is" && blank) return attr_error(source, attr, msg::kStaticIsEmpty, name);
    if ((slot || fill) && key == "name" && blank) return attr_error(source, attr, msg::kStaticNameEmpty, name);
    if (attr.kind == HtmlAttrKind::Template) {
      if (key == "c-bind") return attr_error(source, attr, msg::kBindNotTemplate);
      if ((dynamic_tag && key == "c-is") || ((slot || fill) && key == "c-name") || (slot && key == "c-required")) {
        return attr_error(source, attr, msg::kAttributeNotTemplate, key, name);
      }
    }
    if (attr.kind != HtmlAttrKind::Expression && attr.kind != HtmlAttrKind::Template) continue;
    if (key == "c-else" || key == "c-empty" || !blank) continue;
    if (key == "c-bind" || template_ast::is_control_flow_name(key)) {
      return attr_error(source, attr, msg::kAttributeNeedsValue, key);
    }
    const std::string_view bare = starts_with_c_dash(key) ? key.substr(2) : key;
    return attr_error(source, attr, msg::kDynamicAttributeNeedsValue, key, bare, key);
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
