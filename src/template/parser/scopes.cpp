#include "template/parser/scopes.h"

#include <fmt/format.h>

#include <cstddef>
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

// A name's NFKC form, viewing the name itself when it is ASCII (its own form).
class Key {
 public:
  explicit Key(std::string_view name) {
    if (text::is_ascii(name)) {
      view_ = name;
    } else {
      owned_ = text::nfkc(name);
      view_ = owned_;
    }
  }
  Key(Key&& other) noexcept { *this = std::move(other); }
  Key& operator=(Key&& other) noexcept {
    const bool owning = other.view_.data() == other.owned_.data();
    owned_ = std::move(other.owned_);
    view_ = owning ? std::string_view(owned_) : other.view_;
    return *this;
  }
  std::string_view view() const noexcept { return view_; }

 private:
  std::string owned_;
  std::string_view view_;
};

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

std::uint32_t UsedVariables::open_body(bool own_store) {
  if (own_store) stores_.emplace_back();
  return stores_.back().size();
}

void UsedVariables::expression(const template_ast::Expr& expr) { stores_.back().append(expr.used_variables); }

void UsedVariables::close_body(template_ast::Template& body, std::uint32_t start, bool own_store) {
  template_ast::TokenStoreWriter& out = stores_.back();
  body.used_variables = out.run(start, out.size());
  // The runs taken keep the store alive.
  if (own_store) stores_.pop_back();
}

void UsedVariables::node(Node& node, const std::optional<std::uint32_t>& body_start) {
  const template_ast::List<Token>& introduced = node.introduced_variables();
  const HtmlStartTag& tag = node.start_tag();
  const Node::WithBody* with_body = node.with_body();
  template_ast::TokenStoreWriter& out = stores_.back();
  std::uint32_t start = out.size();
  if (introduced.empty()) {
    // The walked body is the end of the store already; any other goes on now.
    if (body_start) {
      start = *body_start;
    } else if (with_body) {
      out.append_list(with_body->body->used_variables);
    }
    for (const HtmlAttr& attr : tag.attrs) out.append(attr.used_variables);
    node.used_variables() = out.run(start, out.size());
    return;
  }

  std::vector<Key> keys;
  keys.reserve(introduced.size());
  NameSet excluded;
  for (const Token& token : introduced) excluded.insert(keys.emplace_back(token.content).view());
  const auto kept = [&](const Token& token) { return !excluded.contains(Key(token.content).view()); };
  // The body's list may be a run of this store: no growth while it is read.
  std::size_t most = with_body ? with_body->body->used_variables.size() : 0;
  for (const HtmlAttr& attr : tag.attrs) most += attr.used_variables.size();
  out.reserve_more(most);
  if (with_body) {
    for (const Token& token : with_body->body->used_variables) {
      if (kept(token)) out.push_back(token);
    }
  }
  const bool loop_on_element = loops_on_element(tag, introduced);
  for (const HtmlAttr& attr : tag.attrs) {
    const bool exclude = reads_loop_variables(loop_on_element, attr);
    for (const Token& token : attr.used_variables) {
      if (!exclude || kept(token)) out.push_back(token);
    }
  }
  node.used_variables() = out.run(start, out.size());
}

void UsedVariables::finish(template_ast::Template& top) {
  template_ast::TokenStoreWriter& out = stores_.back();
  top.used_variables = out.run(0, out.size());
}

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

Status BindingChecks::check(std::span<const Token> used) const {
  if (notes_.empty()) return std::nullopt;
  std::vector<Key> used_keys;
  used_keys.reserve(used.size());
  NameSet taken;
  for (const Token& token : used) taken.insert(used_keys.emplace_back(token.content).view());

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
