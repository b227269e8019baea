#include "template/parser/tag_rule_index.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lumra::template_parser {

void TagRuleIndex::Groups::build(const std::vector<template_ast::AttrGroup>& all) {
  // Counts and stamps are 32-bit; no rule comes near four billion names.
  if (all.size() >= UINT32_MAX) throw std::length_error("too many attribute groups in one tag rule");
  count = all.size();
  std::vector<std::pair<std::string_view, std::uint32_t>> pairs;
  for (std::uint32_t group = 0; group < count; ++group) {
    for (const std::string& name : all[group]) pairs.emplace_back(name, group);
  }
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  names.reserve(pairs.size());
  groups.reserve(pairs.size());
  // Sorted, a name's groups are one run, ascending.
  for (const auto& [name, group] : pairs) {
    const auto [it, added] = names.try_emplace(name, static_cast<std::uint32_t>(run_starts.size()));
    if (added) run_starts.push_back(static_cast<std::uint32_t>(groups.size()));
    groups.push_back(group);
  }
  run_starts.push_back(static_cast<std::uint32_t>(groups.size()));
  name_stamp.assign(names.size(), 0);
  group_stamp.assign(count, 0);
  tally.assign(count, 0);
}

void TagRuleIndex::Groups::begin_call() {
  if (++call != 0) return;
  // The stamps wrapped around: start them over.
  std::fill(name_stamp.begin(), name_stamp.end(), 0);
  std::fill(group_stamp.begin(), group_stamp.end(), 0);
  call = 1;
}

TagRuleIndex::Groups::Run TagRuleIndex::Groups::meet(std::string_view name) {
  const auto found = names.find(name);
  if (found == names.end()) return {nullptr, nullptr, false};
  const std::uint32_t i = found->second;
  const bool repeated = name_stamp[i] == call;
  name_stamp[i] = call;
  return {groups.data() + run_starts[i], groups.data() + run_starts[i + 1], repeated};
}

TagRuleIndex::TagRuleIndex(const template_ast::TagRules& rules) : rules_(rules) {
  if (rules.allowed_attrs) allowed_.build(*rules.allowed_attrs);
  required_.build(rules.required_attrs);
  if (rules.allowed_slots) {
    has_allowed_slots_ = true;
    allowed_slots_.reserve(rules.allowed_slots->size());
    for (const std::string& slot : *rules.allowed_slots) allowed_slots_.insert(slot);
  }
}

const std::unordered_set<std::string_view>* TagRuleIndex::slot_fields(std::string_view slot) {
  const auto declared = rules_.slot_data_fields.find(slot);
  if (declared == rules_.slot_data_fields.end()) return nullptr;
  auto [it, added] = slot_fields_.try_emplace(declared->first);
  if (added) it->second.insert(declared->second.begin(), declared->second.end());
  return &it->second;
}

TagRuleIndex& TagRuleIndexes::of(const template_ast::TagRules& rules) {
  std::unique_ptr<TagRuleIndex>& index = by_rules_[&rules];
  if (!index) index = std::make_unique<TagRuleIndex>(rules);
  return *index;
}

}  // namespace lumra::template_parser
