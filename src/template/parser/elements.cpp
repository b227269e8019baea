#include "template/parser/elements.h"

#include <fmt/format.h>

#include <cstddef>
#include <string>
#include <utility>

#include "template/grammar/rule.h"
#include "template/parser/bindings.h"
#include "template/parser/comments.h"
#include "template/parser/messages.h"
#include "template/parser/validate.h"

namespace lumra::template_parser {

namespace {

using grammar::Pair;
using grammar::Rule;
using template_ast::HtmlEndTag;
using template_ast::HtmlStartTag;
using template_ast::Node;
using template_ast::Token;

// The tag-name pair of a tag. `raw_allowed`: the name of a raw block's tag
// (html_raw_tag_name) may stand here; an ordinary tag may not be named c-raw.
Status read_tag_name(TextParse& parse, Pair pair, bool raw_allowed, Token& name) {
  Status shape = raw_allowed ? expect_one_of_rules(pair, Rule::html_tag_name, Rule::html_raw_tag_name)
                             : expect_rule(pair, Rule::html_tag_name);
  if (shape) return shape;
  parse.tokens.assign_with_offset(name, pair);
  if (pair.rule() == Rule::html_tag_name && name.content == "c-raw") {
    return error_at_pair(parse.context, pair, fmt::format(fmt::runtime(msg::kReservedTagName), name.content));
  }
  return std::nullopt;
}

// The number of attribute pairs of a tag, so that its attribute list is
// allocated once.
std::size_t count_attributes(grammar::Pairs pairs) {
  std::size_t n = 0;
  for (const Pair pair : pairs) n += pair.rule() == Rule::html_attribute;
  return n;
}

// A start or self-closing tag: name, attributes, comments, then the bindings
// of the special tags.
Status build_opening_tag(TextParse& parse, Pair pair, bool self_closing, BuiltStartTag& built) {
  HtmlStartTag& tag = built.start_tag;
  parse.tokens.assign_with_offset(tag.token, pair);
  tag.is_self_closing = self_closing;
  tag.attrs.reserve(count_attributes(pair.inner()));
  bool named = false;
  Status error = split_comment_pairs(parse, pair.inner(), tag.comments, [&](Pair inner) -> Status {
    if (named) return build_tag_attribute(parse, inner, tag.attrs, built.slots, reads_loop_attribute(tag.name.content));
    named = true;
    return read_tag_name(parse, inner, !self_closing, tag.name);
  });
  if (error) return error;
  if (!named) {
    return error_at_pair(parse.context, pair,
                         std::string(self_closing ? msg::kSelfClosingWithoutName : msg::kStartTagWithoutName));
  }
  auto introduced =
      resolve_tag_bindings(tag.name.content, tag.token.start_index, tag.token.end_index, tag.attrs, parse.context);
  if (!introduced) return std::move(introduced).error();
  built.introduced_variables = std::move(introduced).value();
  return std::nullopt;
}

}  // namespace

Parsed<HtmlComment> build_html_comment(TextParse& parse, Pair pair) {
  Token token = parse.tokens.token_with_offset(pair);
  auto content = expect_inner_rule(pair, Rule::html_comment_content);
  if (!content) return std::move(content).error();
  Token value = parse.tokens.token_with_offset(content.value());
  template_ast::Comment comment{token, std::move(value)};
  return HtmlComment{std::move(token), std::move(comment)};
}

Status build_start_tag(TextParse& parse, Pair pair, BuiltStartTag& out) {
  return build_opening_tag(parse, pair, false, out);
}

Status build_end_tag(TextParse& parse, Pair pair, HtmlEndTag& tag) {
  parse.tokens.assign_with_offset(tag.token, pair);
  bool named = false;
  Status error = split_comment_pairs(parse, pair.inner(), tag.comments, [&](Pair inner) -> Status {
    if (named) {
      return error_at_pair(parse.context, inner,
                           fmt::format(fmt::runtime(msg::kEndTagWithAttributes), grammar::rule_name(pair.rule())));
    }
    named = true;
    return read_tag_name(parse, inner, true, tag.name);
  });
  if (error) return error;
  if (!named) {
    return error_at_pair(parse.context, pair,
                         fmt::format(fmt::runtime(msg::kEndTagWithoutName), grammar::rule_name(pair.rule())));
  }
  return std::nullopt;
}

Status build_html_tag(TextParse& parse, Pair pair, BuiltTag& out) {
  const auto inner = pair.inner().first();
  if (!inner) return error_at_pair(parse.context, pair, std::string(msg::kTagWithoutInner));
  switch (inner->rule()) {
    case Rule::html_start_tag:
      return build_start_tag(parse, *inner, out.emplace<BuiltStartTag>());
    case Rule::html_end_tag:
      return build_end_tag(parse, *inner, out.emplace<HtmlEndTag>());
    case Rule::html_self_closing_tag: {
      BuiltStartTag tag;
      if (Status error = build_opening_tag(parse, *inner, true, tag)) return error;
      out.emplace<CompleteElement>(CompleteElement{
          finish_without_body(std::move(tag.start_tag), std::move(tag.introduced_variables)), std::move(tag.slots)});
      return std::nullopt;
    }
    default:
      return error_at_pair(parse.context, *inner,
                           fmt::format(fmt::runtime(msg::kUnexpectedTagRule), grammar::rule_name(inner->rule())));
  }
}

Parsed<Node> build_raw_element(TextParse& parse, Pair pair) {
  const grammar::Pairs inner = pair.inner();
  auto it = inner.begin();
  // Each part in its order: the rule it must have, and the message when missing.
  const auto next_part = [&](Rule rule, std::string_view missing) -> Parsed<Pair> {
    if (it == inner.end()) return error_at_pair(parse.context, pair, std::string(missing));
    const Pair part = *it++;
    if (Status error = expect_rule(part, rule)) return std::move(*error);
    return part;
  };

  auto start_pair = next_part(Rule::html_raw_start_tag, msg::kRawWithoutStartTag);
  if (!start_pair) return std::move(start_pair).error();
  BuiltStartTag start;
  if (Status error = build_start_tag(parse, start_pair.value(), start)) return std::move(*error);

  auto content = next_part(Rule::html_raw_content, msg::kRawWithoutContent);
  if (!content) return std::move(content).error();
  template_ast::Template body;
  body.elements.emplace_back(template_ast::Text{parse.tokens.token_with_offset(content.value())});

  auto end_pair = next_part(Rule::html_raw_end_tag, msg::kRawWithoutEndTag);
  if (!end_pair) return std::move(end_pair).error();
  HtmlEndTag end;
  if (Status error = build_end_tag(parse, end_pair.value(), end)) return std::move(*error);

  Node node = assemble_node(std::move(start.start_tag), std::move(end), std::move(body), {});
  const std::string_view source = parse.context.source.view();
  if (Status error = check_client_props(node, source)) return std::move(*error);
  if (Status error = check_tag_rules(node, parse.context)) return std::move(*error);
  if (Status error = check_meta_attribute_placement(node, source)) return std::move(*error);
  return node;
}

Node finish_without_body(HtmlStartTag&& start_tag, template_ast::List<Token>&& introduced_variables) {
  Node result(Node::SelfClosing{});
  Node::SelfClosing& node = *result.self_closing();
  node.start_tag = std::move(start_tag);
  node.introduced_variables = std::move(introduced_variables);
  return result;
}

Node assemble_node(HtmlStartTag&& start_tag, HtmlEndTag&& end_tag, template_ast::Template&& body,
                   template_ast::List<Token>&& introduced_variables) {
  Node result(Node::WithBody{});
  Node::WithBody& node = *result.with_body();
  node.start_tag = std::move(start_tag);
  node.end_tag = std::move(end_tag);
  node.body = template_ast::Body(std::move(body));
  node.introduced_variables = std::move(introduced_variables);
  return result;
}

}  // namespace lumra::template_parser
