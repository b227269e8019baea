// Tag rules: which attributes a tag may carry, which exclude each other, and
// which it must carry, from the built-in rules or the caller's.
#include <fmt/format.h>

#include <string>

#include "template/parser/messages.h"
#include "template/parser/validate.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

namespace {

using template_ast::AttrGroup;
using template_ast::HtmlAttr;
using template_ast::Node;

// Attributes the rules never see: metadata, spreads, client props, and the
// client event names of a component.
bool is_rule_checked(const HtmlAttr& attr, bool component) {
  const std::string_view key = attr.key.content;
  if (attr.kind == template_ast::HtmlAttrKind::Meta) return false;
  if (key == "c-bind" || key == "$c-props" || key == "c-$c-props") return false;
  return !(component && is_client_directive(key));
}

template <class Names>
std::string join(const Names& names, std::string_view separator) {
  return fmt::format("{}", fmt::join(names, separator));
}

}  // namespace

const template_ast::HtmlAttr* last_slot_name_attr(const template_ast::HtmlStartTag& tag) {
  for (auto it = tag.attrs.rbegin(); it != tag.attrs.rend(); ++it) {
    const std::string_view key = it->key.content;
    if (key == "name" || key == "c-name" || key == "c-bind") return &*it;
  }
  return nullptr;
}

const template_ast::TagRules* find_tag_rules(std::string_view tag, const UserRules& user_rules) {
  if (const auto* builtin = template_ast::builtin_tag_rules(tag)) return builtin;
  if (user_rules.empty()) return nullptr;
  bool lower = text::is_ascii(tag);
  for (char c : tag) lower = lower && !(c >= 'A' && c <= 'Z');
  const auto it = lower ? user_rules.find(tag) : user_rules.find(text::unicode_lower(tag));
  return it == user_rules.end() ? nullptr : &it->second;
}

Status check_tag_rules(const Node& node, const UserRules& user_rules, std::string_view source) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  const template_ast::TagRules* rules = find_tag_rules(name, user_rules);
  if (rules == nullptr) return std::nullopt;
  const bool component = is_component_tag(name);
  auto fail = [&](std::string_view format, auto&&... args) -> Status {
    return error_at_token(source, tag.token, fmt::format(fmt::runtime(format), args...));
  };

  if (rules->allowed_attrs) {
    const std::vector<AttrGroup>& groups = *rules->allowed_attrs;
    NameSet allowed;
    for (const AttrGroup& group : groups) {
      for (const std::string& allowed_name : group) allowed.insert(allowed_name);
    }
    std::vector<std::string_view> invalid;
    for (const HtmlAttr& attr : tag.attrs) {
      if (is_rule_checked(attr, component) && !allowed.contains(attr.key.content)) invalid.push_back(attr.key.content);
    }
    if (!invalid.empty()) {
      std::vector<std::string_view> all;
      for (const AttrGroup& group : groups) all.insert(all.end(), group.begin(), group.end());
      return fail(msg::kInvalidAttributes, name, join(all, "', '"), join(invalid, ", "));
    }
    // Alternatives exclude each other; a name written twice counts twice.
    for (const AttrGroup& group : groups) {
      auto for_each_member = [&](auto&& visit) {
        for (const HtmlAttr& attr : tag.attrs) {
          if (!is_rule_checked(attr, component)) continue;
          for (const std::string& alternative : group) {
            if (alternative == attr.key.content) {
              visit(std::string_view(attr.key.content));
              break;
            }
          }
        }
      };
      std::size_t found = 0;
      for_each_member([&](std::string_view) { ++found; });
      if (found < 2) continue;
      std::vector<std::string_view> multiple;
      for_each_member([&](std::string_view key) { multiple.push_back(key); });
      return fail(msg::kOnlyOneOfAttributes, name, join(group, ", "), join(multiple, ", "));
    }
  }

  if (rules->required_attrs.empty()) return std::nullopt;
  NameSet present;
  for (const HtmlAttr& attr : tag.attrs) {
    // A spread may supply any required attribute at run time.
    if (attr.key.content == "c-bind") return std::nullopt;
    if (is_rule_checked(attr, component)) present.insert(attr.key.content);
  }
  for (const AttrGroup& group : rules->required_attrs) {
    bool satisfied = false;
    for (const std::string& required : group) satisfied = satisfied || present.contains(required);
    if (satisfied) continue;
    if (group.size() == 1) return fail(msg::kMissingAttribute, name, group.front());
    return fail(msg::kMissingOneOfAttributes, name, join(group, "', '"));
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
