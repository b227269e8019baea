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

const template_ast::TagRules* find_tag_rules(std::string_view tag, const ParserContext& context) {
  if (const auto* builtin = template_ast::builtin_tag_rules(tag)) return builtin;
  if (!context.user_rules || context.user_rules->empty()) return nullptr;
  const UserRules& user_rules = *context.user_rules;
  bool lower = text::is_ascii(tag);
  for (char c : tag) lower = lower && !(c >= 'A' && c <= 'Z');
  const auto it = lower ? user_rules.find(tag) : user_rules.find(text::unicode_lower(tag));
  return it == user_rules.end() ? nullptr : &it->second;
}

Status check_tag_rules(const Node& node, const ParserContext& context) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  const template_ast::TagRules* rules = find_tag_rules(name, context);
  if (rules == nullptr) return std::nullopt;
  const TagRuleIndex& index = context.rule_indexes->of(*rules);
  TagRuleScratch& scratch = context.rule_indexes->scratch();
  const bool component = is_component_tag(name);
  auto fail = [&](std::string_view format, auto&&... args) -> Status {
    return error_at_token(context.source.view(), tag.token, fmt::format(fmt::runtime(format), args...));
  };
  const auto checked_names = [&](auto&& visit) {
    for (const HtmlAttr& attr : tag.attrs) {
      if (is_rule_checked(attr, component)) visit(std::string_view(attr.key.content));
    }
  };

  if (rules->allowed_attrs) {
    const std::vector<AttrGroup>& groups = *rules->allowed_attrs;
    std::vector<std::string_view> invalid;
    checked_names([&](std::string_view key) {
      if (!index.allows_attribute(key)) invalid.push_back(key);
    });
    if (!invalid.empty()) {
      std::vector<std::string_view> all;
      for (const AttrGroup& group : groups) all.insert(all.end(), group.begin(), group.end());
      return fail(msg::kInvalidAttributes, name, join(all, "', '"), join(invalid, ", "));
    }
    // Alternatives exclude each other; a name written twice counts twice.
    if (const auto conflict = index.first_exclusive_conflict(checked_names, scratch)) {
      const AttrGroup& group = groups[*conflict];
      NameSet members;
      for (const std::string& member : group) members.insert(member);
      std::vector<std::string_view> multiple;
      checked_names([&](std::string_view key) {
        if (members.contains(key)) multiple.push_back(key);
      });
      return fail(msg::kOnlyOneOfAttributes, name, join(group, ", "), join(multiple, ", "));
    }
  }

  if (rules->required_attrs.empty()) return std::nullopt;
  // A spread may supply any required attribute at run time.
  for (const HtmlAttr& attr : tag.attrs) {
    if (attr.key.content == "c-bind") return std::nullopt;
  }
  if (const auto unmet = index.first_unmet_requirement(checked_names, scratch)) {
    const AttrGroup& group = rules->required_attrs[*unmet];
    if (group.size() == 1) return fail(msg::kMissingAttribute, name, group.front());
    return fail(msg::kMissingOneOfAttributes, name, join(group, "', '"));
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
