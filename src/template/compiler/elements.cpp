// Plain HTML elements become markup text, with runtime values only where
// the element needs them: one ElementAttrsNode for attributes that hold
// expressions or templates, an ExprNode for the value of `#c-key`.
#include <fmt/format.h>

#include <algorithm>

#include "template/ast/names.h"
#include "template/compiler/lowering.h"
#include "template/compiler/messages.h"
#include "text/unicode.h"

namespace lumra::template_compiler {
namespace {

constexpr std::string_view kKeyAttribute = "#c-key";
constexpr std::string_view kIgnoreAttribute = "#c-ignore";

bool is_dynamic(const tast::HtmlAttr& attr) {
  return attr.kind == tast::HtmlAttrKind::Expression || attr.kind == tast::HtmlAttrKind::Template;
}

// The attributes as one ElementAttrsNode: the runtime writes them all, the
// static ones included.
Status dynamic_attributes(const tast::HtmlStartTag& tag, Pieces& out) {
  std::vector<IrNode> calls;
  calls.reserve(tag.attrs.size());
  NameList names;
  for (const tast::HtmlAttr& attr : tag.attrs) {
    const auto class_name = attribute_class(attr.kind);
    if (!class_name) continue;
    calls.push_back(compile_attribute(*class_name, attr));
    for (const tast::Token& t : attr.used_variables) names.add(text::nfkc(t.content));
  }
  return out.push(IrNode::call(rt::kElementAttrsNode, {IrNode::raw(rt::kSource),
                                                       span_tuple(tag.token.start_index, tag.token.end_index),
                                                       IrNode::tuple(calls), names.take_tuple()}));
}

// A value without its quoted form (a tree built by hand) is quoted here; a
// double quote inside it would end the attribute, so it becomes &quot;.
void quoted_attribute_value(std::string_view inner, Pieces& out) {
  out.text("\"");
  for (std::size_t quote; (quote = inner.find('"')) != std::string_view::npos;) {
    out.text(inner.substr(0, quote));
    out.text("&quot;");
    inner.remove_prefix(quote + 1);
  }
  out.text(inner);
  out.text("\"");
}

void static_attributes(const tast::HtmlStartTag& tag, Pieces& out) {
  for (const tast::HtmlAttr& attr : tag.attrs) {
    if (attr.kind == tast::HtmlAttrKind::Meta) continue;
    out.text(" ");
    out.text(attr.key.content);
    // An empty value is written bare.
    if (!attr.inner_value || attr.inner_value->content.empty()) continue;
    out.text("=");
    if (attr.value) {
      out.text(attr.value->content);
    } else {
      quoted_attribute_value(attr.inner_value->content, out);
    }
  }
}

Status metadata_attributes(const tast::HtmlStartTag& tag, Pieces& out) {
  for (const tast::HtmlAttr& attr : tag.attrs) {
    if (attr.kind != tast::HtmlAttrKind::Meta) continue;
    const std::string_view key = attr.key.content;
    if (key == kIgnoreAttribute) {
      out.text(R"( data-lumra-morph="ignore")");
    } else if (key == kKeyAttribute) {
      if (!attr.inner_value) return value_error(fmt::format(msg::kKeyWithoutValue, kKeyAttribute));
      out.text(R"( data-lumra-key=":)");
      if (auto error = out.push(make_expr_node(attr.token.start_index, attr.token.end_index,
                                               attr.inner_value->content, attr.used_variables))) {
        return error;
      }
      out.text("\"");
    } else {
      return value_error(fmt::format(msg::kUnexpectedMetaOnElement, key, kKeyAttribute, kIgnoreAttribute));
    }
  }
  return std::nullopt;
}

}  // namespace

Status open_element_tag(const tast::Node& node, Pieces& out) {
  const tast::HtmlStartTag& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  out.text("<");
  out.text(name);
  if (std::any_of(tag.attrs.begin(), tag.attrs.end(), is_dynamic)) {
    if (auto error = dynamic_attributes(tag, out)) return error;
  } else {
    static_attributes(tag, out);
  }
  if (auto error = metadata_attributes(tag, out)) return error;

  if (node.has_body()) {
    out.text(">");
  } else if (tast::is_void_element(name)) {
    out.text("/>");
  } else {
    // <div/> is not valid HTML for a non-void element: write the end tag.
    out.text(">");
    close_element_tag(name, out);
  }
  return std::nullopt;
}

void close_element_tag(std::string_view name, Pieces& out) {
  out.text("</");
  out.text(name);
  out.text(">");
}

}  // namespace lumra::template_compiler
