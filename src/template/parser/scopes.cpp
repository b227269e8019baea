#include "template/parser/scopes.h"

#include <fmt/format.h>

#include <cstddef>
#include <forward_list>
#include <string_view>
#include <utility>

#include "template/ast/names.h"
#include "template/parser/messages.h"
#include "template/parser/validate_checks.h"
#include "text/unicode.h"

namespace lumra::template_parser {

namespace {

using template_ast::HtmlAttr;
using template_ast::HtmlStartTag;
using template_ast::Node;
using template_ast::Token;

using Key = template_ast::VariableKey;

// Bodies of at most this many used variables under a node that introduces
// variables: the node's list is written out rather than read through its
// record. Most loops are this small, and their lists are then read (by the
// compiler, by Python) as plain runs; each such node costs at most this many
// more tokens, whatever the nesting.
constexpr std::uint32_t kWrittenOut = 32;

// A node that loops on an ordinary element: its `c-for` attribute introduces
// variables that its other non-control-flow attributes may read.
bool loops_on_element(const HtmlStartTag& tag, const template_ast::List<Token>& introduced) {
  if (introduced.empty() || tag.name.content == "c-for" || tag.name.content == "c-fill") return false;
  for (const HtmlAttr& attr : tag.attrs) {
    if (attr.key.content == "c-for") return true;
  }
  return false;
}

// Whether an attribute's variables leave out the node's loop variables.
bool reads_loop_variables(bool loop_on_element, const HtmlAttr& attr) {
  return loop_on_element && !template_ast::is_control_flow_name(attr.key.content);
}

}  // namespace

void UsedVariables::expression(const template_ast::Expr& expr) { store_.append(expr.used_variables); }

void UsedVariables::close_body(template_ast::Template& body, Mark start) {
  body.used_variables = store_.run(start, store_.mark());
}

void UsedVariables::node(Node& node, const std::optional<Mark>& body_start) {
  const template_ast::List<Token>& introduced = node.introduced_variables();
  const HtmlStartTag& tag = node.start_tag();
  const Mark start = body_start ? *body_start : store_.mark();
  // The walked body is the end of the store already; any other goes on now.
  if (!body_start) {
    if (const Node::WithBody* with_body = node.with_body()) store_.append_list(with_body->body->used_variables);
  }
  if (introduced.empty()) {
    for (const HtmlAttr& attr : tag.attrs) store_.append(attr.used_variables);
    node.used_variables() = store_.run(start, store_.mark());
    return;
  }

  const bool loop_on_element = loops_on_element(tag, introduced);
  const Mark body_end = store_.mark();
  if (body_end.tokens - start.tokens <= kWrittenOut) {
    // A short list is written out: it reads as a plain run, and the lists
    // around it skip its body's range.
    std::vector<Key> keys;
    keys.reserve(introduced.size());
    NameSet excluded;
    for (const Token& token : introduced) excluded.insert(keys.emplace_back(token.content).view());
    const auto kept = [&](const Token& token) { return !excluded.contains(Key(token.content).view()); };
    template_ast::List<Token> list;
    store_.run(start, body_end).for_each([&](const Token& token) {
      if (kept(token)) list.push_back(token);
    });
    for (const HtmlAttr& attr : tag.attrs) {
      const bool exclude = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : attr.used_variables) {
        if (!exclude || kept(token)) list.push_back(token);
      }
    }
    store_.skip(start.tokens, body_end.tokens);
    const Mark list_start = store_.mark();
    store_.append(list);
    node.used_variables() = store_.run(list_start, store_.mark());
    return;
  }

  const auto keys = store_.keep_keys(introduced);
  store_.leave_out(start.tokens, body_end.tokens, keys);
  for (const HtmlAttr& attr : tag.attrs) {
    const std::uint32_t from = store_.mark().tokens;
    store_.append(attr.used_variables);
    if (reads_loop_variables(loop_on_element, attr)) store_.leave_out(from, store_.mark().tokens, keys);
  }
  node.used_variables() = store_.run(start, store_.mark());
}

void UsedVariables::finish(template_ast::Template& top) { top.used_variables = store_.run(Mark{}, store_.mark()); }

void BindingChecks::note(const HtmlStartTag& tag, const template_ast::List<Token>& introduced) {
  const AttributeVariables& registry = *context_.attribute_variables;
  if (introduced.empty() && registry.empty()) return;
  Note note;
  note.introduced.reserve(introduced.size());
  for (const Token& token : introduced) {
    std::string key = text::nfkc(token.content);
    const bool bound = is_bound(key);
    note.introduced.push_back({token, std::move(key), bound});
  }
  if (!registry.empty()) {
    const bool loop_on_element = loops_on_element(tag, introduced);
    // The tag's own loop variables, for the attributes that see them.
    NameSet own;
    if (loop_on_element) {
      for (const Name& name : note.introduced) own.insert(name.key);
    }
    for (const HtmlAttr& attr : tag.attrs) {
      const auto found = registry.find({attr.token.start_index, attr.token.end_index});
      if (found == registry.end()) continue;
      const bool with_loop_variables = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : found->second) {
        std::string key = text::nfkc(token.content);
        const bool bound = is_bound(key) || (with_loop_variables && own.contains(key));
        note.nested.push_back({token, std::move(key), bound});
      }
    }
  }
  if (note.introduced.empty() && note.nested.empty()) return;
  note.tag_name = tag.name.content;
  notes_.push_back(std::move(note));
}

void BindingChecks::enter(const template_ast::List<Token>& introduced) {
  entered_.push_back(introduced.size());
  for (const Token& token : introduced) {
    std::string key = text::nfkc(token.content);
    ++bound_[key];
    pushed_.push_back(std::move(key));
  }
}

void BindingChecks::leave() {
  for (std::size_t i = entered_.back(); i > 0; --i) {
    const auto it = bound_.find(pushed_.back());
    if (--it->second == 0) bound_.erase(it);
    pushed_.pop_back();
  }
  entered_.pop_back();
}

bool BindingChecks::is_bound(const std::string& key) const { return !bound_.empty() && bound_.contains(key); }

Status BindingChecks::check(const template_ast::SharedTokens& used) const {
  if (notes_.empty()) return std::nullopt;
  // The set views the names, or the NFKC forms kept here (a list keeps its
  // items in place, and allocates nothing until used).
  std::forward_list<std::string> normalised;
  NameSet taken;
  used.for_each([&](const Token& token) {
    const std::string_view name = token.content;
    taken.insert(text::is_ascii(name) ? name : std::string_view(normalised.emplace_front(text::nfkc(name))));
  });

  const auto refuse = [&](const Token& token, std::string message) -> Status {
    return error_at_span(context_.source.view(), token.start_index, token.end_index, std::move(message));
  };
  for (const Note& note : notes_) {
    const auto binding = [&] { return fmt::format(fmt::runtime(msg::kTagBinding), note.tag_name); };
    NameSet defined;
    for (const Name& name : note.introduced) {
      if (!defined.insert(name.key)) {
        return refuse(name.token, fmt::format(fmt::runtime(msg::kDefinedMoreThanOnce), name.token.content, binding()));
      }
      if (name.bound || taken.contains(name.key)) {
        return refuse(name.token, fmt::format(fmt::runtime(msg::kVariableTaken), name.token.content, binding()));
      }
    }
    for (const Name& name : note.nested) {
      if (name.bound || taken.contains(name.key)) {
        return refuse(name.token,
                      fmt::format(fmt::runtime(msg::kVariableTaken), name.token.content, msg::kNestedTemplateBinding));
      }
    }
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
