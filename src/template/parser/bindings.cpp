#include "template/parser/bindings.h"

#include <fmt/format.h>

#include <algorithm>
#include <array>
#include <iterator>
#include <utility>

#include "template/parser/expressions.h"
#include "template/parser/fill_data.h"
#include "template/parser/messages.h"
#include "template/parser/tokens.h"
#include "text/unicode.h"

namespace lumra::template_parser {

using template_ast::HtmlAttr;
using template_ast::HtmlAttrKind;
using template_ast::Token;
using template_compiler::LoopVariables;

namespace {

// Tags that take no `c-bind` spread of their own.
constexpr std::array<std::string_view, 6> kTagsWithoutSpread = {"c-if", "c-elif", "c-else", "c-for", "c-empty", "c-raw"};

Parsed<template_ast::List<Token>> for_tag_bindings(std::uint64_t tag_start, std::uint64_t tag_end,
                                                   template_ast::List<HtmlAttr>& attrs, const ParserContext& context) {
  const auto each = std::find_if(attrs.begin(), attrs.end(), [](const HtmlAttr& a) { return a.key.content == "each"; });
  if (each == attrs.end()) return error_at_span(context.source.view(), tag_start, tag_end, std::string(msg::kForNeedsEach));
  if (!each->inner_value) return error_at_token(context, each->token, std::string(msg::kForEachNeedsValue));
  auto clause = read_loop_clause(*each->inner_value, context);
  if (!clause) return std::move(clause).error();
  each->kind = HtmlAttrKind::Expression;
  each->used_variables = std::move(clause.value().used_variables);
  return std::move(clause.value().loop_variables);
}

// `data` and `fallback` introduce their variables in attribute order; a
// `c-bind` drops what the attributes before it introduced.
Parsed<template_ast::List<Token>> fill_tag_bindings(template_ast::List<HtmlAttr>& attrs, const ParserContext& context) {
  struct Introduced {
    std::size_t position = 0;
    template_ast::List<Token> variables;
  };
  std::optional<Introduced> data;
  std::optional<Introduced> fallback;
  for (std::size_t i = 0; i < attrs.size(); ++i) {
    HtmlAttr& attr = attrs[i];
    const std::string_view key = attr.key.content;
    if (key == "data" && attr.inner_value) {
      auto variables = parse_fill_data_binding(attr, context);
      if (!variables) return std::move(variables).error();
      data = Introduced{i, std::move(variables).value()};
    } else if (key == "fallback" && attr.inner_value) {
      fallback = Introduced{i, {*attr.inner_value}};
    } else if (key == "c-bind") {
      data.reset();
      fallback.reset();
    }
  }
  template_ast::List<Token> introduced;
  if (data && fallback && fallback->position < data->position) std::swap(data, fallback);
  for (auto* slot : {&data, &fallback}) {
    if (!*slot) continue;
    auto& variables = (*slot)->variables;
    introduced.insert(introduced.end(), std::make_move_iterator(variables.begin()),
                      std::make_move_iterator(variables.end()));
  }
  return introduced;
}

// The `cond` of <c-if>/<c-elif> and `c-for` attributes on any other tag.
Parsed<template_ast::List<Token>> attribute_bindings(std::string_view name, template_ast::List<HtmlAttr>& attrs,
                                                     const ParserContext& context) {
  const bool takes_condition = name == "c-if" || name == "c-elif";
  template_ast::List<Token> introduced;
  for (HtmlAttr& attr : attrs) {
    const std::string_view key = attr.key.content;
    const bool is_condition = takes_condition && key == "cond";
    if (!is_condition && key != "c-for") continue;
    if (!attr.inner_value || text::is_blank(attr.inner_value->content)) continue;
    if (is_condition) {
      auto parsed = parse_expression_rebased(*attr.inner_value, std::nullopt, context);
      if (!parsed) return std::move(parsed).error();
      attr.used_variables = std::move(parsed.value().used_variables);
      auto& comments = parsed.value().comments;
      attr.comments.insert(attr.comments.end(), std::make_move_iterator(comments.begin()),
                           std::make_move_iterator(comments.end()));
    } else {
      auto clause = read_loop_clause(*attr.inner_value, context);
      if (!clause) return std::move(clause).error();
      attr.used_variables = std::move(clause.value().used_variables);
      // A later `c-for` replaces the loop of an earlier one.
      introduced = std::move(clause.value().loop_variables);
    }
    attr.kind = HtmlAttrKind::Expression;
  }
  return introduced;
}

}  // namespace

Parsed<LoopVariables> read_loop_clause(const Token& token, const ParserContext& context) {
  const Offsets by = offsets_at(token);
  auto& memo = context.memo->loop_clauses;
  auto found = memo.find(std::string_view(token.content));
  if (found == memo.end()) {
    auto extracted = context.backend->extract_loop_variables(token.content);
    if (auto* message = std::get_if<std::string>(&extracted)) {
      return error_at_token(context, token, fmt::format(fmt::runtime(msg::kFailedToParseEach), *message));
    }
    auto& clause = std::get<LoopVariables>(extracted);
    hashing::TextSet<std::string> names;
    for (const auto& variable : clause.loop_variables) {
      if (!names.insert(text::nfkc(variable.content)).second) {
        Token twice = variable;
        shift_token(twice, by);
        return error_at_token(context, twice, fmt::format(fmt::runtime(msg::kLoopVariableTwice), twice.content));
      }
    }
    found = memo.emplace(token.content, std::move(clause)).first;
  }
  LoopVariables clause = found->second;
  for (auto& variable : clause.loop_variables) shift_token(variable, by);
  for (auto& variable : clause.used_variables) shift_token(variable, by);
  return clause;
}

Parsed<template_ast::List<Token>> resolve_tag_bindings(std::string_view name, std::uint64_t tag_start,
                                                       std::uint64_t tag_end, template_ast::List<HtmlAttr>& attrs,
                                                       const ParserContext& context) {
  if (std::find(kTagsWithoutSpread.begin(), kTagsWithoutSpread.end(), name) != kTagsWithoutSpread.end()) {
    for (const HtmlAttr& attr : attrs) {
      if (attr.key.content == "c-bind") {
        return error_at_token(context, attr.token, fmt::format(fmt::runtime(msg::kSpreadOnControlFlow), name));
      }
    }
  }
  if (name == "c-for") return for_tag_bindings(tag_start, tag_end, attrs, context);
  if (name == "c-fill") return fill_tag_bindings(attrs, context);
  return attribute_bindings(name, attrs, context);
}

}  // namespace lumra::template_parser
