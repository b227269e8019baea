// Attributes as data for the runtime: StaticHtmlAttr, ExprHtmlAttr and
// TemplateHtmlAttr calls, the FillDataBinding of a <c-fill> `data` value, and
// the variable-name tuples that every runtime node receives.
#include <fmt/format.h>

#include <algorithm>
#include <unordered_set>

#include "template/ast/names.h"
#include "template/compiler/lowering.h"
#include "template/compiler/messages.h"
#include "text/unicode.h"

namespace lumra::template_compiler {

IrNode span_tuple(std::uint64_t start, std::uint64_t end) { return IrNode::span(start, end); }

namespace {

// The token contents as written (not normalised, duplicates kept).
IrNode names_as_written(std::span<const tast::Token> tokens) {
  return IrNode::tuple_of(tokens.size(), [&](std::size_t i) { return IrNode::quoted(tokens[i].content); });
}

IrNode fill_data_binding(const tast::FillDataPattern& pattern) {
  std::vector<IrNode> fields;
  fields.reserve(pattern.fields.size());
  for (const tast::FillDataField& f : pattern.fields) {
    fields.push_back(IrNode::tuple({IrNode::quoted(f.source.content), IrNode::quoted(text::nfkc(f.target.content))}));
  }
  return IrNode::call(rt::kFillDataBinding,
                      {IrNode::tuple(fields),
                       IrNode::quoted(pattern.rest ? text::nfkc(pattern.rest->content) : std::string())});
}

IrNode attribute_value(const tast::HtmlAttr& attr) {
  if (attr.fill_data_pattern) {
    const tast::FillDataPattern& pattern = *attr.fill_data_pattern;
    if (pattern.whole) return IrNode::str(text::nfkc(pattern.whole->content));
    return fill_data_binding(pattern);
  }
  if (attr.kind == tast::HtmlAttrKind::Template) {
    if (!attr.inner_value) return IrNode::str({});
    const std::string_view value = attr.inner_value->content;
    if (auto fragment = tast::strip_fragment_delimiters(value)) return IrNode::str(fragment->inner);
    return IrNode::str(value);
  }
  if (!attr.inner_value || attr.inner_value->content.empty()) return IrNode::boolean(true);
  return IrNode::str(attr.inner_value->content);
}

}  // namespace

IrNode make_expr_node(std::uint64_t start, std::uint64_t end, std::string_view value,
                      std::span<const tast::Token> used_variables) {
  return IrNode::call(rt::kExprNode, {IrNode::raw(rt::kSource), span_tuple(start, end), IrNode::str(value),
                                      names_as_written(used_variables)});
}

std::optional<std::string_view> attribute_class(tast::HtmlAttrKind kind) {
  switch (kind) {
    case tast::HtmlAttrKind::Static:
      return rt::kStaticHtmlAttr;
    case tast::HtmlAttrKind::Expression:
      return rt::kExprHtmlAttr;
    case tast::HtmlAttrKind::Template:
      return rt::kTemplateHtmlAttr;
    case tast::HtmlAttrKind::Meta:
      break;
  }
  return std::nullopt;
}

IrNode compile_attribute(std::string_view class_name, const tast::HtmlAttr& attr) {
  return IrNode::call(class_name, {IrNode::raw(rt::kSource), span_tuple(attr.token.start_index, attr.token.end_index),
                                   IrNode::str(attr.key.content), attribute_value(attr),
                                   names_as_written(attr.used_variables)});
}

Lowered<IrNode> compile_ordinary_attributes(std::span<const tast::HtmlAttr> attrs) {
  for (const tast::HtmlAttr& attr : attrs) {
    if (!attribute_class(attr.kind)) return value_error(fmt::format(msg::kMetaAttributeAsOrdinary, attr.key.content));
  }
  return IrNode::tuple_of(attrs.size(),
                          [&](std::size_t i) { return compile_attribute(*attribute_class(attrs[i].kind), attrs[i]); });
}

void NameList::add(std::string name) {
  // Lists are short: a scan beats hashing until they are not.
  constexpr std::size_t kScanLimit = 16;
  if (names_.size() < kScanLimit) {
    if (std::find(names_.begin(), names_.end(), name) == names_.end()) names_.push_back(std::move(name));
    return;
  }
  if (seen_.empty()) seen_.insert(names_.begin(), names_.end());
  if (seen_.insert(name).second) names_.push_back(std::move(name));
}

IrNode NameList::take_tuple() {
  IrNode tuple = IrNode::tuple_of(names_.size(), [&](std::size_t i) { return IrNode::quoted(names_[i]); });
  names_.clear();
  seen_.clear();
  return tuple;
}

IrNode unique_variable_names(std::span<const tast::Token> tokens) {
  NameList names;
  for (const tast::Token& t : tokens) names.add(text::nfkc(t.content));
  return names.take_tuple();
}

IrNode unique_used_names(const tast::SharedTokens& tokens) {
  NameList names;
  tokens.for_each([&](const tast::Token& t) { names.add(text::nfkc(t.content)); });
  return names.take_tuple();
}

}  // namespace lumra::template_compiler
