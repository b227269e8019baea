#include "template/parser/listings.h"

#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "template/parser/scopes.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

namespace {

using template_ast::Comment;
using template_ast::HtmlAttr;
using template_ast::HtmlStartTag;
using template_ast::List;
using template_ast::Node;
using template_ast::StaticNamedSlot;
using template_ast::Token;
using Key = template_ast::VariableKey;

// Bodies of at most this many used variables under a node that introduces
// variables: the node's list is written out rather than read through its
// record. Most loops are this small, and their lists are then read (by the
// compiler, by Python) as plain runs; each such node costs at most this many
// more tokens, whatever the nesting.
constexpr std::uint32_t kWrittenOut = 32;

// A <c-slot>'s static name: the last of name / c-name / c-bind decides; none
// of them is the "default" slot, placed at the start tag.
std::optional<StaticNamedSlot> static_slot(const HtmlStartTag& tag) {
  std::optional<Token> name;
  if (const auto* attr = last_slot_name_attr(tag)) {
    if (attr->key.content != "name" || !attr->inner_value) return std::nullopt;
    name = *attr->inner_value;
  } else {
    name = Token{"default", tag.token.start_index, tag.token.end_index, tag.token.line_col};
  }
  std::optional<bool> required = false;
  for (auto it = tag.attrs.rbegin(); it != tag.attrs.rend(); ++it) {
    const std::string_view key = it->key.content;
    if (key == "c-bind" || key == "c-required") {
      required.reset();
      break;
    }
    if (key == "required") {
      required = true;
      break;
    }
  }
  return StaticNamedSlot{std::move(*name), required};
}

}  // namespace

Listings::Mark Listings::open_body(const HtmlStartTag& tag, const List<StaticNamedSlot>& tag_slots) {
  file_slots(tag, tag_slots);
  return mark();
}

void Listings::expression(const template_ast::Expr& expr) {
  used_.append(expr.used_variables);
  comments_.append(expr.comments);
}

void Listings::comment(const Comment& comment) { comments_.push_back(comment); }

void Listings::close_body(template_ast::Template& body, const Mark& start) {
  const Mark end = mark();
  body.used_variables = used_.run(start.used, end.used);
  body.comments = comments_.run(start.comments, end.comments);
  body.slots = slots_.run(start.slots, end.slots);
}

void Listings::node(Node& node, const std::optional<Mark>& body_start, const List<StaticNamedSlot>& tag_slots) {
  if (!body_start) {
    file_slots(node.start_tag(), tag_slots);
    // A body that was not walked (a raw block's) goes on after them.
    if (const Node::WithBody* with_body = node.with_body()) slots_.append_list(with_body->body->slots);
  }
  file_used(node, body_start);
  file_comments(node, body_start);
}

void Listings::finish(template_ast::Template& top, const List<Comment>& first) {
  const Mark end = mark();
  top.used_variables = used_.run({}, end.used);
  top.slots = slots_.run({}, end.slots);
  top.comments = comments_.run({}, end.comments);
  if (!first.empty()) {
    List<Comment>& comments = top.comments.mut();
    comments.insert(comments.begin(), first.begin(), first.end());
  }
}

void Listings::file_slots(const HtmlStartTag& tag, const List<StaticNamedSlot>& tag_slots) {
  if (tag.name.content == "c-slot") {
    if (auto slot = static_slot(tag)) slots_.push_back(*slot);
  }
  slots_.append(tag_slots);
}

void Listings::file_comments(Node& node, const std::optional<Mark>& body_start) {
  const HtmlStartTag& tag = node.start_tag();
  const auto start = body_start ? body_start->comments : comments_.mark();
  const auto attributes = [&] {
    for (const HtmlAttr& attr : tag.attrs) comments_.append(attr.comments);
  };
  if (const Node::WithBody* with_body = node.with_body()) {
    if (!body_start) comments_.append_list(with_body->body->comments);
    comments_.append(with_body->end_tag.comments);
    attributes();
    comments_.append(tag.comments);
  } else {
    comments_.append(tag.comments);
    attributes();
  }
  node.comments() = comments_.run(start, comments_.mark());
}

void Listings::file_used(Node& node, const std::optional<Mark>& body_start) {
  using UsedMark = template_ast::ListWriter<Token>::Mark;
  const List<Token>& introduced = node.introduced_variables();
  const HtmlStartTag& tag = node.start_tag();
  const UsedMark start = body_start ? body_start->used : used_.mark();
  // The walked body is the end of the store already; any other goes on now.
  if (!body_start) {
    if (const Node::WithBody* with_body = node.with_body()) used_.append_list(with_body->body->used_variables);
  }
  if (introduced.empty()) {
    for (const HtmlAttr& attr : tag.attrs) used_.append(attr.used_variables);
    node.used_variables() = used_.run(start, used_.mark());
    return;
  }

  const bool loop_on_element = loops_on_element(tag, introduced);
  const UsedMark body_end = used_.mark();
  if (body_end.items - start.items <= kWrittenOut) {
    // A short list is written out: it reads as a plain run, and the lists
    // around it skip its body's range.
    std::vector<Key> keys;
    keys.reserve(introduced.size());
    NameSet excluded;
    for (const Token& token : introduced) excluded.insert(keys.emplace_back(token.content).view());
    const auto kept = [&](const Token& token) { return !excluded.contains(Key(token.content).view()); };
    List<Token> list;
    used_.run(start, body_end).for_each([&](const Token& token) {
      if (kept(token)) list.push_back(token);
    });
    for (const HtmlAttr& attr : tag.attrs) {
      const bool exclude = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : attr.used_variables) {
        if (!exclude || kept(token)) list.push_back(token);
      }
    }
    used_.skip(start.items, body_end.items);
    const UsedMark list_start = used_.mark();
    used_.append(list);
    node.used_variables() = used_.run(list_start, used_.mark());
    return;
  }

  const auto keys = used_.keep_keys(introduced);
  used_.leave_out(start.items, body_end.items, keys);
  for (const HtmlAttr& attr : tag.attrs) {
    const std::uint32_t from = used_.mark().items;
    used_.append(attr.used_variables);
    if (reads_loop_variables(loop_on_element, attr)) used_.leave_out(from, used_.mark().items, keys);
  }
  node.used_variables() = used_.run(start, used_.mark());
}

}  // namespace lumra::template_parser
