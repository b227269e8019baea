// Components, slots and fills are calls of runtime nodes (ComponentNode,
// SlotNode, FillNode) that receive their attributes, their lowered body and
// their variable names; the runtime decides what they render. Also the tests
// that decide whether a <c-element> or <c-component> names its tag statically.
#include <fmt/format.h>

#include <algorithm>

#include "template/compiler/lowering.h"
#include "template/compiler/messages.h"
#include "text/debug_escape.h"
#include "text/unicode.h"

namespace lumra::template_compiler {
namespace {

constexpr std::string_view kComponentPrefix = "c-";

bool has_key(const tast::HtmlStartTag& tag, std::string_view key) {
  return std::any_of(tag.attrs.begin(), tag.attrs.end(), [&](const tast::HtmlAttr& a) { return a.key.content == key; });
}

constexpr bool is_ascii_letter(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }
constexpr bool is_ascii_digit(char c) { return c >= '0' && c <= '9'; }

}  // namespace

Status check_is_attributes(const tast::Node& node) {
  const tast::HtmlStartTag& tag = node.start_tag();
  if (has_key(tag, "is") && has_key(tag, "c-is")) return syntax_error(fmt::format(msg::kIsAndCIs, tag.name.content));
  return std::nullopt;
}

std::optional<std::string_view> static_is_value(const tast::Node& node) {
  const tast::HtmlStartTag& tag = node.start_tag();
  // A bound record may carry its own `is`: the name is only known at run time.
  if (has_key(tag, "c-bind")) return std::nullopt;
  for (const tast::HtmlAttr& attr : tag.attrs) {
    if (attr.key.content == "is" && attr.inner_value && !attr.inner_value->content.empty()) {
      return std::string_view(attr.inner_value->content);
    }
  }
  return std::nullopt;
}

void remove_is_attributes(tast::List<tast::HtmlAttr>& attrs) {
  std::erase_if(attrs, [](const tast::HtmlAttr& a) { return a.key.content == "is"; });
}

bool has_significant_content(std::span<const tast::TemplateElement> elements) {
  return std::any_of(elements.begin(), elements.end(), [](const tast::TemplateElement& e) {
    const tast::Text* t = e.text();
    return t == nullptr || !text::is_blank(t->token.content);
  });
}

Status check_element_name(std::string_view name) {
  bool valid = !name.empty() && is_ascii_letter(name.front());
  for (std::size_t i = 1; valid && i < name.size(); ++i) {
    const char c = name[i];
    valid = is_ascii_letter(c) || is_ascii_digit(c) || c == '-' || c == '.' || c == '_';
  }
  if (valid) return std::nullopt;
  std::string quoted;
  text::append_debug_str(quoted, name);
  return syntax_error(fmt::format(msg::kInvalidElementName, quoted));
}

Lowered<IrNode> compile_component(const tast::Node& node, IrNode body, IrNode used_names) {
  const tast::HtmlStartTag& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  // The walk sends only names that begin with "c-" here.
  const std::string_view component = name.starts_with(kComponentPrefix) ? name.substr(kComponentPrefix.size()) : name;

  std::vector<IrNode> attrs;
  attrs.reserve(tag.attrs.size());
  for (const tast::HtmlAttr& attr : tag.attrs) {
    if (auto class_name = attribute_class(attr.kind)) attrs.push_back(compile_attribute(*class_name, attr));
  }
  std::vector<IrNode> args;
  args.reserve(8);
  args.push_back(IrNode::raw(rt::kSource));
  const auto [start, end] = element_span(node);
  args.push_back(span_tuple(start, end));
  args.push_back(IrNode::tuple(std::move(attrs)));
  args.push_back(body);
  args.push_back(used_names);
  args.push_back(IrNode::str(text::unicode_lower(component)));
  args.push_back(IrNode::boolean(node.contains_fills()));
  for (const tast::HtmlAttr& attr : tag.attrs) {
    if (attr.kind != tast::HtmlAttrKind::Meta) continue;
    if (attr.key.content != "#c-key") {
      return value_error(fmt::format(msg::kUnexpectedMetaOnComponent, attr.key.content));
    }
    args.push_back(compile_attribute(rt::kExprHtmlAttr, attr));
  }
  return IrNode::call(rt::kComponentNode, std::move(args));
}

IrNode compile_slot_or_fill(std::string_view class_name, const tast::Node& node, IrNode attrs, IrNode body,
                           IrNode used_names) {
  const auto [start, end] = element_span(node);
  return IrNode::call(class_name, {IrNode::raw(rt::kSource), span_tuple(start, end), attrs, body,
                                   used_names,
                                   unique_variable_names(node.introduced_variables())});
}

}  // namespace lumra::template_compiler
