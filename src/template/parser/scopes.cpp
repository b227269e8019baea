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

using template_ast::HtmlAttr;
using template_ast::HtmlStartTag;
using template_ast::Token;

bool loops_on_element(const HtmlStartTag& tag, const template_ast::List<Token>& introduced) {
  if (introduced.empty() || tag.name.content == "c-for" || tag.name.content == "c-fill") return false;
  for (const HtmlAttr& attr : tag.attrs) {
    if (attr.key.content == "c-for") return true;
  }
  return false;
}

bool reads_loop_variables(bool loop_on_element, const HtmlAttr& attr) {
  return loop_on_element && !template_ast::is_control_flow_name(attr.key.content);
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
      // Only template values file variables.
      if (attr.kind != template_ast::HtmlAttrKind::Template) continue;
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
