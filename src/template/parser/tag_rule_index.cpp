#include "template/parser/tag_rule_index.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace lumra::template_parser {

void TagRuleScratch::begin(std::size_t names, std::size_t groups) {
  if (name_stamp.size() < names) name_stamp.resize(names, 0);
  if (group_stamp.size() < groups) {
    group_stamp.resize(groups, 0);
    tally.resize(groups, 0);
  }
  if (++call != 0) return;
  // The stamps wrapped around: start them over.
  std::fill(name_stamp.begin(), name_stamp.end(), 0);
  std::fill(group_stamp.begin(), group_stamp.end(), 0);
  call = 1;
}

TagRuleIndex::Groups::Groups(const std::vector<template_ast::AttrGroup>& all) : count(all.size()) {
  // Stamps and group numbers are 32-bit; no rule comes near four billion names.
  if (all.size() >= UINT32_MAX) throw std::length_error("too many attribute groups in one tag rule");
  std::vector<std::pair<std::string_view, std::uint32_t>> pairs;
  for (std::uint32_t group = 0; group < count; ++group) {
    for (const std::string& name : all[group]) pairs.emplace_back(name, group);
  }
  // Sorted, a name's groups are one run, ascending.
  std::sort(pairs.begin(), pairs.end());
  pairs.erase(std::unique(pairs.begin(), pairs.end()), pairs.end());
  groups.reserve(pairs.size());
  for (const auto& [name, group] : pairs) {
    if (names.insert(name, static_cast<std::uint32_t>(run_starts.size())).second) {
      run_starts.push_back(static_cast<std::uint32_t>(groups.size()));
    }
    groups.push_back(group);
  }
  run_starts.push_back(static_cast<std::uint32_t>(groups.size()));
}

namespace {
const std::vector<template_ast::AttrGroup>& allowed_groups(const template_ast::TagRules& rules) {
  static const std::vector<template_ast::AttrGroup> kNone;
  return rules.allowed_attrs ? *rules.allowed_attrs : kNone;
}
}  // namespace

TagRuleIndex::TagRuleIndex(const template_ast::TagRules& rules)
    : allowed_(allowed_groups(rules)), required_(rules.required_attrs) {
  if (rules.allowed_slots) {
    has_allowed_slots_ = true;
    allowed_slots_.reserve(rules.allowed_slots->size());
    for (const std::string& slot : *rules.allowed_slots) allowed_slots_.insert(slot);
  }
  for (const auto& [slot, fields] : rules.slot_data_fields) {
    slot_fields_.emplace(slot, hashing::TextSet<std::string_view>(fields.begin(), fields.end()));
  }
}

const TagRuleIndex& TagRuleIndexes::of(const template_ast::TagRules& rules) {
  // The built-in tables never change: their indexes are made once.
  static const auto* const builtin = [] {
    auto* indexes = new std::unordered_map<const template_ast::TagRules*, TagRuleIndex>;
    for (const auto& row : template_ast::builtin_tag_rules_table()) indexes->try_emplace(row.rules, *row.rules);
    return indexes;
  }();
  if (const auto found = builtin->find(&rules); found != builtin->end()) return found->second;
  std::unique_ptr<TagRuleIndex>& index = callers_[&rules];
  if (!index) index = std::make_unique<TagRuleIndex>(rules);
  return *index;
}

}  // namespace lumra::template_parser
