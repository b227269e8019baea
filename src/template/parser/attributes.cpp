#include "template/parser/attributes.h"

#include <fmt/format.h>

#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "template/ast/names.h"
#include "template/grammar/grammar.h"
#include "template/parser/expressions.h"
#include "template/parser/messages.h"
#include "text/unicode.h"

namespace lumra::template_parser {

namespace {

using grammar::Pair;
using grammar::Rule;
using template_ast::HtmlAttr;
using template_ast::HtmlAttrKind;
using template_ast::Token;

constexpr bool is_ascii_letter(char c) noexcept { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'); }

// The first `html_tag_name` pair of a run, if any.
std::optional<Pair> find_tag_name_pair(grammar::Pairs pairs) { return pairs.find(Rule::html_tag_name); }

// Whether the last element of a parsed template closes it as markup: a raw
// block, an end tag, a self-closing tag or a void start tag. A value such as
// "<p>" or "<p>hi" stays an expression.
bool ends_as_markup(Pair template_pair) {
  std::optional<Pair> last;
  for (const Pair pair : template_pair.inner()) {
    if (pair.rule() == Rule::template_element) last = pair;
  }
  if (!last) return false;
  const auto element = last->inner().first();
  if (!element) return false;
  if (element->rule() == Rule::html_raw) return true;
  if (element->rule() != Rule::html_tag) return false;
  const auto tag = element->inner().first();
  if (!tag) return false;
  switch (tag->rule()) {
    case Rule::html_end_tag:
    case Rule::html_self_closing_tag:
      return true;
    case Rule::html_start_tag: {
      const auto name = find_tag_name_pair(tag->inner());
      return name && template_ast::is_void_element(name->as_str());
    }
    default:
      return false;
  }
}

// A value written as markup: a fragment "<>...</>", or text that starts with
// a tag and parses as a template ending in markup. The trial parse is thrown
// away.
bool is_template_value(std::string_view value) {
  if (template_ast::strip_fragment_delimiters(value)) return true;
  const std::string_view t = text::trim_white_space(value);
  if (t.size() < 2 || t[0] != '<' || !is_ascii_letter(t[1])) return false;
  const grammar::GrammarResult trial =
      grammar::template_grammar_parse(Rule::template_, t, grammar::Records::without_expression_parts);
  return trial.ok() && ends_as_markup(trial.tree().root());
}

// The value as written (with quotes) and without its quotes.
Status read_attribute_value(TextParse& parse, Pair value_pair, HtmlAttr& attr) {
  const auto inner = value_pair.inner().first();
  if (!inner) return error_at_pair(parse.context, value_pair, std::string(msg::kAttributeValueWithoutInner));
  switch (inner->rule()) {
    case Rule::unquoted_value:
      parse.tokens.assign_with_offset(attr.value.emplace(), *inner);
      attr.inner_value = attr.value;
      return std::nullopt;
    case Rule::double_quoted_value:
    case Rule::single_quoted_value:
      parse.tokens.assign_with_offset(attr.value.emplace(), *inner);
      attr.inner_value = token_slice(*attr.value, 1, -1);
      attr.quote_char = inner->rule() == Rule::double_quoted_value ? U'"' : U'\'';
      return std::nullopt;
    default:
      return error_at_pair(parse.context, *inner,
                           fmt::format(fmt::runtime(msg::kUnexpectedAttributeValue), inner->to_string()));
  }
}

TemplateParseError error_at_token(const ParserContext& context, const Token& token, std::string message) {
  return error_at_span(context.source.view(), token.start_index, token.end_index, std::move(message));
}

// Parses an expression value into the attribute's variables and comments.
Status take_expression(HtmlAttr& attr, HtmlAttrKind kind, const ParserContext& context) {
  auto parsed = parse_expression_rebased(*attr.inner_value, std::nullopt, context);
  if (!parsed) return std::move(parsed).error();
  attr.kind = kind;
  attr.used_variables = std::move(parsed.value().used_variables);
  attr.comments = std::move(parsed.value().comments);
  return std::nullopt;
}

// A value that is itself a template: parsed in place, its variables, comments
// and slots kept on the attribute and the tag; the nested tree is not kept.
Status take_template(HtmlAttr& attr, template_ast::List<template_ast::StaticNamedSlot>& slots, ParserContext& context) {
  const std::string_view key = attr.key.content;
  if (key == "c-if" || key == "c-elif") {
    return error_at_token(context, attr.token, fmt::format(fmt::runtime(msg::kConditionNotTemplate), key));
  }
  if (key == "c-for") return error_at_token(context, attr.token, std::string(msg::kForNotTemplate));

  const Token& value = *attr.inner_value;
  Token nested_token = value;
  if (const auto fragment = template_ast::strip_fragment_delimiters(value.content)) {
    nested_token = token_slice(value, static_cast<std::int64_t>(fragment->start),
                               static_cast<std::int64_t>(fragment->end) - static_cast<std::int64_t>(value.content.size()));
  }
  auto nested = parse_nested_template(nested_token, context);
  if (!nested) return std::move(nested).error();
  template_ast::Template& tree = nested.value();
  record_attribute_variables(*context.attribute_variables, attr.token.start_index, attr.token.end_index,
                             collect_nested_variables(tree.elements, context));
  attr.kind = HtmlAttrKind::Template;
  tree.used_variables.for_each([&](const Token& token) { attr.used_variables.push_back(token); });
  tree.comments.for_each([&](const template_ast::Comment& comment) { attr.comments.push_back(comment); });
  tree.slots.for_each([&](const template_ast::StaticNamedSlot& slot) { slots.push_back(slot); });
  return std::nullopt;
}

// The kind rules, in their order.
Status decide_kind(HtmlAttr& attr, bool meta, template_ast::List<template_ast::StaticNamedSlot>& slots,
                   ParserContext& context) {
  const std::string_view key = attr.key.content;
  const bool bare = !attr.inner_value;
  if (key == "c-else" || (key == "c-empty" && !bare)) {
    if (!bare) return error_at_token(context, attr.token, fmt::format(fmt::runtime(msg::kMarkerTakesNoValue), key));
    attr.kind = HtmlAttrKind::Expression;
    return std::nullopt;
  }
  if (meta) {
    if (key == "#c-key") {
      if (bare || text::is_blank(attr.inner_value->content)) {
        return error_at_token(context, attr.token, fmt::format(fmt::runtime(msg::kKeyNeedsValue), key, key));
      }
      return take_expression(attr, HtmlAttrKind::Meta, context);
    }
    if (key == "#c-ignore") {
      if (!bare) {
        return error_at_token(context, attr.token, fmt::format(fmt::runtime(msg::kIgnoreTakesNoValue), key, key));
      }
      attr.kind = HtmlAttrKind::Meta;
      return std::nullopt;
    }
    return error_at_token(context, attr.key,
                          fmt::format(fmt::runtime(msg::kUnknownMetaAttribute), key, "#c-key", "#c-ignore"));
  }
  if (!key.starts_with("c-")) {
    attr.kind = HtmlAttrKind::Static;
    return std::nullopt;
  }
  if (bare) {
    attr.kind = HtmlAttrKind::Expression;
    return std::nullopt;
  }
  if (is_template_value(attr.inner_value->content)) return take_template(attr, slots, context);
  return take_expression(attr, HtmlAttrKind::Expression, context);
}

}  // namespace

Status build_tag_attribute(TextParse& parse, Pair pair, template_ast::List<HtmlAttr>& attrs,
                           template_ast::List<template_ast::StaticNamedSlot>& slots) {
  if (Status error = expect_rule(pair, Rule::html_attribute)) return error;
  const grammar::Pairs inner = pair.inner();
  auto it = inner.begin();
  if (it == inner.end()) return error_at_pair(parse.context, pair, std::string(msg::kAttributeWithoutName));
  const Pair name = *it;
  if (Status error = expect_one_of_rules(name, Rule::html_attribute_name, Rule::html_meta_attribute_name)) {
    return error;
  }
  // Built in place: an attribute record is large.
  HtmlAttr& attr = attrs.emplace_back();
  parse.tokens.assign_with_offset(attr.token, pair);
  parse.tokens.assign_with_offset(attr.key, name);
  Status error;
  if (++it != inner.end()) error = read_attribute_value(parse, *it, attr);
  if (!error) error = decide_kind(attr, name.rule() == Rule::html_meta_attribute_name, slots, parse.context);
  if (error) attrs.pop_back();
  return error;
}

Parsed<template_ast::Template> parse_nested_template(const Token& value, const ParserContext& context) {
  if (context.nesting >= kMaxNestedTemplates) {
    return error_at_token(context, value, fmt::format(fmt::runtime(msg::kNestedTemplatesTooDeep), kMaxNestedTemplates));
  }
  ParserContext nested = context;
  const Offsets at = offsets_at(value);
  nested.index_offset = at.index;
  nested.line_offset = at.line;
  nested.column_offset = at.column;
  nested.nesting = context.nesting + 1;
  ParseResult result = parse_template_text(value.content, nested);
  if (auto* error = std::get_if<TemplateParseError>(&result)) return std::move(*error);
  return std::get<template_ast::Template>(std::move(result));
}

template_ast::List<Token> collect_nested_variables(const template_ast::List<template_ast::TemplateElement>& elements,
                                                   const ParserContext& context) {
  template_ast::List<Token> out;
  const AttributeVariables& registry = *context.attribute_variables;
  for (const auto& element : elements) {
    const template_ast::Node* node = element.node();
    if (!node) continue;
    const auto& introduced = node->introduced_variables();
    out.insert(out.end(), introduced.begin(), introduced.end());
    if (registry.empty()) continue;
    for (const HtmlAttr& attr : node->start_tag().attrs) {
      if (attr.kind != HtmlAttrKind::Template) continue;
      const auto found = registry.find({attr.token.start_index, attr.token.end_index});
      if (found != registry.end()) out.insert(out.end(), found->second.begin(), found->second.end());
    }
  }
  return out;
}

void record_attribute_variables(AttributeVariables& registry, std::uint64_t start_index, std::uint64_t end_index,
                                template_ast::List<Token> tokens) {
  registry.insert_or_assign({start_index, end_index}, std::move(tokens));
}

}  // namespace lumra::template_parser
