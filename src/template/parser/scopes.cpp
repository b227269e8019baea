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

// Appends copies of tokens: the lists of used variables repeat every
// descendant's names at each level, so their references are taken in
// batches of the list's final size.
class TokenCopies {
 public:
  explicit TokenCopies(template_ast::List<Token>& out, std::size_t count) : out_(out), texts_(count) {
    out_.reserve(count);
  }
  void add(const Token& token) {
    out_.push_back(Token{texts_.copy(token.content), token.start_index, token.end_index, token.line_col});
  }
  void add_all(const template_ast::List<Token>& tokens) {
    for (const Token& token : tokens) add(token);
  }

 private:
  template_ast::List<Token>& out_;
  template_ast::TokenBatch texts_;
};

}  // namespace

void gather_used_variables(template_ast::Template& body) {
  std::size_t count = 0;
  for (const template_ast::TemplateElement& element : body.elements) {
    if (const auto* expr = element.expr()) count += expr->used_variables.size();
    if (const Node* node = element.node()) count += node->used_variables().size();
  }
  template_ast::List<Token>& out = body.used_variables;
  out.clear();
  if (count == 0) return;
  TokenCopies copies(out, count);
  for (const template_ast::TemplateElement& element : body.elements) {
    if (const auto* expr = element.expr()) copies.add_all(expr->used_variables);
    if (const Node* node = element.node()) copies.add_all(node->used_variables());
  }
}

void gather_used_variables(Node& node) {
  const template_ast::List<Token>& introduced = node.introduced_variables();
  const HtmlStartTag& tag = node.start_tag();
  const template_ast::List<Token>* body = nullptr;
  Node::WithBody* with_body = node.with_body();
  if (with_body) body = &with_body->body->used_variables;
  template_ast::List<Token>& out = node.used_variables();
  out.clear();

  std::size_t count = body ? body->size() : 0;
  for (const HtmlAttr& attr : tag.attrs) count += attr.used_variables.size();
  if (count == 0) return;
  if (with_body && introduced.empty() && count == body->size()) {
    // Exactly the body's: read from there rather than copied.
    with_body->uses_body_variables = true;
    return;
  }
  TokenCopies copies(out, count);
  if (introduced.empty()) {
    if (body) copies.add_all(*body);
    for (const HtmlAttr& attr : tag.attrs) copies.add_all(attr.used_variables);
    return;
  }

  std::vector<Key> keys;
  keys.reserve(introduced.size());
  NameSet excluded;
  for (const Token& token : introduced) excluded.insert(keys.emplace_back(token.content).view());
  const auto kept = [&](const Token& token) { return !excluded.contains(Key(token.content).view()); };
  if (body) {
    for (const Token& token : *body) {
      if (kept(token)) copies.add(token);
    }
  }
  const bool loop_on_element = loops_on_element(tag, introduced);
  for (const HtmlAttr& attr : tag.attrs) {
    const bool exclude = reads_loop_variables(loop_on_element, attr);
    for (const Token& token : attr.used_variables) {
      if (!exclude || kept(token)) copies.add(token);
    }
  }
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
    for (const HtmlAttr& attr : tag.attrs) {
      const auto found = registry.find({attr.token.start_index, attr.token.end_index});
      if (found == registry.end()) continue;
      const bool with_loop_variables = reads_loop_variables(loop_on_element, attr);
      for (const Token& token : found->second) {
        std::string key = text::nfkc(token.content);
        bool bound = is_bound(key);
        for (std::size_t i = 0; !bound && with_loop_variables && i < note.introduced.size(); ++i) {
          bound = note.introduced[i].key == key;
        }
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

Status BindingChecks::check(const template_ast::List<Token>& used) const {
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
