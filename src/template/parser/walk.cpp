// parse_template_text: the grammar's records of one text walked into the
// syntax tree, with the stack of elements whose end tag is still to come.
//
// Finished pieces are filed bottom-up: an element reaches its parent's body
// (or the top level) only when it is complete and validated, so a body holds
// its children in source order. Template comments between elements, at any
// depth, are filed at the top level.
#include "template/parser/walk.h"

#include <fmt/format.h>

#include <iterator>
#include <optional>
#include <string>
#include <utility>
#include <variant>

#include "template/ast/names.h"
#include "template/grammar/grammar.h"
#include "template/parser/comments.h"
#include "template/parser/elements.h"
#include "template/parser/expressions.h"
#include "template/parser/listings.h"
#include "template/parser/messages.h"
#include "template/parser/scopes.h"
#include "template/parser/validate.h"

namespace lumra::template_parser {

namespace {

using grammar::Pair;
using grammar::Rule;
using template_ast::Node;
using template_ast::Template;

std::uint64_t saturating_sum(std::uint64_t a, std::uint64_t b) { return b > UINT64_MAX - a ? UINT64_MAX : a + b; }

// A grammar failure, moved from the text the grammar ran over onto the whole input.
TemplateParseError grammar_failure(const ParserContext& context, const grammar::GrammarError& error) {
  std::string message = fmt::format(fmt::runtime(msg::kFailedToParseTemplate), grammar::parsing_error_message(error));
  if (error.is_span()) {
    return error_at_offsets(context.source.view(), context.index_offset, error.start(), error.end(), std::move(message));
  }
  if (auto placed =
          grammar::error_from_pos(context.source.view(), saturating_sum(context.index_offset, error.start()), message)) {
    return TemplateParseError::from_grammar(std::move(*placed));
  }
  return TemplateParseError::from_message(std::move(message));
}

// How many elements each body will hold: the top level first, then each
// element with a body in the order of its start tag. A body's list is then
// allocated once, and no element is moved as it grows. Counted from the
// pairs alone; where tags do not match, the walk fails anyway.
std::vector<std::uint32_t> count_elements(grammar::Pairs elements) {
  std::vector<std::uint32_t> counts(1, 0);
  std::vector<std::uint32_t> open{0};
  for (const Pair pair : elements) {
    const auto inner = pair.inner().first();
    if (pair.rule() != Rule::template_element || !inner || inner->rule() == Rule::template_comment) continue;
    if (inner->rule() == Rule::html_tag) {
      const auto tag = inner->inner().first();
      if (!tag) continue;
      if (tag->rule() == Rule::html_end_tag) {
        if (open.size() > 1) open.pop_back();
        continue;
      }
      ++counts[open.back()];
      const auto name = tag->inner().find(Rule::html_tag_name);
      if (tag->rule() == Rule::html_start_tag && name && !template_ast::is_void_element(name->as_str())) {
        open.push_back(static_cast<std::uint32_t>(counts.size()));
        counts.push_back(0);
      }
      continue;
    }
    ++counts[open.back()];
  }
  return counts;
}

class ElementWalk {
 public:
  ElementWalk(TextParse& parse, std::vector<std::uint32_t> body_sizes)
      : parse_(parse), bindings_(parse.context), body_sizes_(std::move(body_sizes)) {
    stack_.reserve(16);
    top_.tmpl.elements.reserve(body_sizes_[0]);
  }

  Status element(Pair pair) {
    if (pair.rule() == Rule::EOI) return std::nullopt;
    if (Status error = expect_rule(pair, Rule::template_element)) return error;
    const auto inner = pair.inner().first();
    if (!inner) return error_at_pair(context(), pair, std::string(msg::kTemplateElementWithoutInner));
    Template& out = collector().tmpl;
    switch (inner->rule()) {
      case Rule::html_comment: {
        auto built = build_html_comment(parse_, *inner);
        if (!built) return std::move(built).error();
        out.elements.emplace_back(template_ast::Text{std::move(built.value().token)});
        listings_.comment(built.value().comment);
        return std::nullopt;
      }
      case Rule::html_directive:
      case Rule::html_processing_instruction:
      case Rule::text:
        parse_.tokens.assign_with_offset(out.elements.emplace_back(std::in_place_type<template_ast::Text>).text()->token, *inner);
        return std::nullopt;
      case Rule::html_raw:
        return raw(*inner);
      case Rule::html_tag:
        return tag(*inner);
      case Rule::template_expression: {
        auto expr = build_python_expr(parse_, *inner);
        if (!expr) return std::move(expr).error();
        listings_.expression(expr.value());
        out.elements.emplace_back(std::move(expr).value());
        return std::nullopt;
      }
      case Rule::template_comment:
        return append_template_comment(parse_, *inner, comments_between_elements_);
      default:
        return error_at_pair(context(), *inner,
                             fmt::format(fmt::runtime(msg::kUnexpectedElementRule), grammar::rule_name(inner->rule())));
    }
  }

  // The top-level template, once every pair is walked and its bindings checked.
  Parsed<Template> finish() {
    if (!stack_.empty()) {
      const template_ast::Token& open = stack_.back().start_tag.token;
      const std::string_view name = stack_.back().start_tag.name.content;
      return error_at_span(context().source.view(), open.start_index, open.end_index,
                           fmt::format(fmt::runtime(msg::kUnclosedTag), name, name));
    }
    // Template comments between elements come first, as if split off the run
    // before the walk.
    listings_.finish(top_.tmpl, comments_between_elements_);
    if (Status error = bindings_.check(top_.tmpl.used_variables)) return std::move(*error);
    return std::move(top_.tmpl);
  }

 private:
  ParserContext& context() const { return parse_.context; }

  Collector& collector() { return current_collector(stack_, top_); }

  // A tag just built, for the binding checks, with what its template-valued
  // attributes introduce. At the top level, these and the tag's own variables
  // are what the text introduces, when asked.
  void note(const template_ast::HtmlStartTag& tag, const template_ast::List<template_ast::Token>& introduced) {
    std::vector<AttributeVariables>& nested = parse_.attribute_variables;
    // Most tags bind nothing.
    if (introduced.empty() && nested.empty()) return;
    bindings_.note(tag, introduced, nested);
    if (template_ast::List<template_ast::Token>* out = parse_.top_level_variables; out && stack_.empty()) {
      out->insert(out->end(), introduced.begin(), introduced.end());
      for (const AttributeVariables& attribute : nested) {
        out->insert(out->end(), attribute.tokens.begin(), attribute.tokens.end());
      }
    }
    nested.clear();
  }

  Status raw(Pair pair) {
    auto node = build_raw_element(parse_, pair);
    if (!node) return std::move(node).error();
    Node& raw = node.value();
    note(raw.start_tag(), raw.introduced_variables());
    // Raw blocks skip validation, and their tags' nested templates file no slots.
    listings_.node(raw, std::nullopt, {});
    collector().tmpl.elements.emplace_back(std::move(raw));
    return std::nullopt;
  }

  Status tag(Pair pair) {
    if (Status error = build_html_tag(parse_, pair, built_)) return error;
    if (auto* start = std::get_if<BuiltStartTag>(&built_)) {
      note(start->start_tag, start->introduced_variables);
      return open(*start);
    }
    if (auto* end = std::get_if<template_ast::HtmlEndTag>(&built_)) return close(pair, *end);
    auto& complete = std::get<CompleteElement>(built_);
    note(complete.node.start_tag(), complete.node.introduced_variables());
    return validate(std::move(complete.node), std::move(complete.slots), nullptr, std::nullopt);
  }

  Status open(BuiltStartTag& start) {
    if (template_ast::is_void_element(start.start_tag.name.content)) {
      return validate(finish_without_body(std::move(start.start_tag), std::move(start.introduced_variables)),
                      std::move(start.slots), nullptr, std::nullopt);
    }
    if (stack_.size() >= kMaxOpenElements) {
      const template_ast::Token& token = start.start_tag.token;
      return error_at_span(context().source.view(), token.start_index, token.end_index,
                           fmt::format(fmt::runtime(msg::kNestingTooDeep), kMaxOpenElements));
    }
    OpenElement& frame = stack_.emplace_back();
    if (++opened_ < body_sizes_.size()) frame.body.tmpl.elements.reserve(body_sizes_[opened_]);
    frame.start_tag = std::move(start.start_tag);
    frame.introduced_variables = std::move(start.introduced_variables);
    frame.listed_from = listings_.open_body(frame.start_tag, start.slots);
    bindings_.enter(frame.introduced_variables);
    return std::nullopt;
  }

  Status close(Pair pair, template_ast::HtmlEndTag& end) {
    if (stack_.empty()) {
      return error_at_pair(context(), pair, fmt::format(fmt::runtime(msg::kUnexpectedClosingTag), end.name.content));
    }
    OpenElement& frame = stack_.back();
    const std::string_view open_name = frame.start_tag.name.content;
    if (open_name != end.name.content) {
      return error_at_pair(context(), pair,
                           fmt::format(fmt::runtime(msg::kMismatchedTags), open_name, end.name.content));
    }
    listings_.close_body(frame.body.tmpl, frame.listed_from);
    const std::optional<Listings::Mark> body_start = frame.listed_from;
    Node node = assemble_node(std::move(frame.start_tag), std::move(end), std::move(frame.body.tmpl),
                              std::move(frame.introduced_variables));
    const CollectorChecks checks = std::move(frame.body.checks);
    stack_.pop_back();
    bindings_.leave();
    // Its own slots were filed when it opened.
    return validate(std::move(node), {}, &checks, body_start);
  }

  // `body_start`: where the node's walked body starts among the used variables.
  Status validate(Node&& node, const template_ast::List<template_ast::StaticNamedSlot>& slots,
                  const CollectorChecks* body_checks, const std::optional<Listings::Mark>& body_start) {
    listings_.node(node, body_start, slots);
    return validate_template(std::move(node), stack_, collector(), body_checks, context());
  }

  TextParse& parse_;
  Collector top_;
  std::vector<OpenElement> stack_;
  template_ast::List<template_ast::Comment> comments_between_elements_;
  // The tag being built, reused from tag to tag.
  BuiltTag built_;
  BindingChecks bindings_;
  Listings listings_;
  // Sizes of the bodies, and how many have been opened so far.
  std::vector<std::uint32_t> body_sizes_;
  std::size_t opened_ = 0;
};

}  // namespace

ParseResult parse_template_text(std::string_view text, ParserContext& context,
                                template_ast::List<template_ast::Token>* top_level_variables) {
  if (text.empty()) return Template{};
  grammar::GrammarResult grammar =
      grammar::template_grammar_parse(Rule::template_, text, grammar::Records::without_expression_parts);
  if (!grammar) return grammar_failure(context, grammar.error());
  const grammar::ParseTree& tree = grammar.tree();
  const auto root = tree.pairs().first();
  if (!root) {
    return error_at_span(context.source.view(), 0, context.source.size(), std::string(msg::kTemplateEmpty));
  }
  if (Status error = expect_rule(*root, Rule::template_)) return std::move(*error);

  TextParse parse{context, PairTokens(tree, offsets_of(context), context.source), {}, top_level_variables};
  ElementWalk walk(parse, count_elements(root->inner()));
  for (const Pair pair : root->inner()) {
    if (Status error = walk.element(pair)) return std::move(*error);
  }
  auto top = walk.finish();
  if (!top) return std::move(top).error();
  return std::move(top).value();
}

}  // namespace lumra::template_parser
