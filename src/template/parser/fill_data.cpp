#include "template/parser/fill_data.h"

#include <fmt/format.h>

#include <deque>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "template/compiler/python_backend.h"
#include "template/grammar/grammar.h"
#include "template/parser/messages.h"
#include "template/parser/tokens.h"
#include "template/parser/validate_checks.h"
#include "text/unicode.h"

namespace lumra::template_parser {

using grammar::Pair;
using grammar::Rule;
using template_ast::Token;

namespace {

// The names of one destructuring binding seen so far: fields read (exact
// text) and variables defined (NFKC forms). Names view the tokens' texts,
// which the binding's pattern keeps; only a non-ASCII name needs a copy.
class BindingNames {
 public:
  explicit BindingNames(const ParserContext& context) : context_(context) {}

  Status read_field(const Token& source) {
    if (fields_.insert(source.content.view())) return std::nullopt;
    return error_at_token(context_, source, fmt::format(fmt::runtime(msg::kFillFieldTwice), source.content));
  }

  Status define(const Token& target) {
    std::string_view key = target.content.view();
    if (!text::is_ascii(key)) key = normalised_.emplace_back(text::nfkc(key));
    if (variables_.insert(key)) return std::nullopt;
    return error_at_token(context_, target, fmt::format(fmt::runtime(msg::kFillVariableTwice), target.content));
  }

 private:
  const ParserContext& context_;
  NameSet fields_;
  NameSet variables_;
  std::deque<std::string> normalised_;  // stable addresses for the views
};

// A shape the grammar guarantees is missing: `pair` holds no `rule` pair.
TemplateParseError missing_pair(const ParserContext& context, const PairTokens& tokens, Pair pair, Rule rule) {
  return error_at_offsets(context.source.view(), tokens.offsets().index, pair.start(), pair.end(),
                          fmt::format(fmt::runtime(msg::kPairShouldContain), grammar::rule_name(pair.rule()),
                                      grammar::rule_name(rule)));
}

// Reads the items of a `fill_data_destructure` pair into `pattern`.
Status read_destructure(Pair destructure, PairTokens& tokens, const ParserContext& context,
                        template_ast::FillDataPattern& pattern) {
  std::size_t items = 0;
  for (Pair item : destructure.inner()) items += item.rule() == Rule::fill_data_item;
  BindingNames names(context);
  std::size_t position = 0;
  for (Pair item : destructure.inner()) {
    if (item.rule() != Rule::fill_data_item) continue;
    ++position;
    const auto form = item.inner().first();
    if (!form || (form->rule() != Rule::fill_data_field && form->rule() != Rule::fill_data_rest)) {
      return missing_pair(context, tokens, item, Rule::fill_data_field);
    }
    const auto first_name = form->inner().find(Rule::fill_data_identifier);
    if (!first_name) return missing_pair(context, tokens, *form, Rule::fill_data_identifier);

    if (form->rule() == Rule::fill_data_rest) {
      Token target = tokens.token_with_offset(*first_name);
      if (Status error = check_fill_identifier(target, context)) return error;
      if (position != items) return error_at_token(context, target, std::string(msg::kFillRestNotLast));
      if (Status error = names.define(target)) return error;
      pattern.rest = std::move(target);
      continue;
    }

    // `source as target`, or the source alone.
    Token source = tokens.token_with_offset(*first_name);
    std::optional<Token> target;
    bool after_source = false;
    for (Pair name : form->inner()) {
      if (name.rule() != Rule::fill_data_identifier) continue;
      if (after_source) {
        target = tokens.token_with_offset(name);
        break;
      }
      after_source = true;
    }
    if (!target) target = source;
    if (Status error = check_fill_identifier(source, context)) return error;
    if (Status error = check_fill_identifier(*target, context)) return error;
    if (Status error = names.read_field(source)) return error;
    if (Status error = names.define(*target)) return error;
    pattern.fields.push_back(template_ast::FillDataField{std::move(source), std::move(*target)});
  }
  return std::nullopt;
}

}  // namespace

TemplateParseError error_at_token(const ParserContext& context, const Token& token, std::string message) {
  return error_at_span(context.source.view(), token.start_index, token.end_index, std::move(message));
}

Parsed<template_ast::List<Token>> parse_fill_data_binding(template_ast::HtmlAttr& attribute,
                                                          const ParserContext& context) {
  const Token& value = *attribute.inner_value;
  // The grammar's own message is never shown: every failure is this one.
  auto parsed = grammar::template_grammar_parse(Rule::fill_data_pattern, value.content);
  if (!parsed) return error_at_token(context, value, std::string(msg::kInvalidFillData));
  const grammar::ParseTree& tree = parsed.tree();
  PairTokens tokens(tree, offsets_at(value), value.content);

  std::optional<Pair> form;
  for (Pair pair : tree.root().inner()) {
    if (pair.rule() == Rule::fill_data_destructure || pair.rule() == Rule::fill_data_identifier) {
      form = pair;
      break;
    }
  }
  if (!form) return missing_pair(context, tokens, tree.root(), Rule::fill_data_identifier);

  template_ast::FillDataPattern pattern{.token = value, .whole = std::nullopt, .fields = {}, .rest = std::nullopt};
  template_ast::List<Token> introduced;
  if (form->rule() == Rule::fill_data_identifier) {
    Token whole = tokens.token_with_offset(*form);
    if (Status error = check_fill_identifier(whole, context)) return std::move(*error);
    introduced.push_back(whole);
    pattern.whole = std::move(whole);
  } else {
    if (Status error = read_destructure(*form, tokens, context, pattern)) return std::move(*error);
    introduced.reserve(pattern.fields.size() + 1);
    for (const auto& field : pattern.fields) introduced.push_back(field.target);
    if (pattern.rest) introduced.push_back(*pattern.rest);
  }
  attribute.fill_data_pattern = std::move(pattern);
  return introduced;
}

Status check_fill_identifier(const Token& token, const ParserContext& context) {
  if (template_compiler::is_plain_python_name(token.content)) return std::nullopt;
  // Python decides what a name is, whatever language the template's
  // expressions are written in.
  const auto parsed = template_compiler::python_parse_expression(token.content);
  if (const auto* names = std::get_if<template_compiler::ParsedExpression>(&parsed)) {
    if (names->used_variables.size() == 1 && names->assigned_variables.empty() && names->comments.empty()) {
      const Token& used = names->used_variables.front();
      if (used.content == token.content && used.start_index == 0 && used.end_index == token.content.size()) {
        return std::nullopt;
      }
    }
  }
  return error_at_token(context, token, fmt::format(fmt::runtime(msg::kFillNotIdentifier), token.content));
}

}  // namespace lumra::template_parser
