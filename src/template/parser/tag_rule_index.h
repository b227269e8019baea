// Tag rules indexed for the checks of a parse.
//
// A caller's rule may list thousands of attribute groups or slots. Checking a
// tag group by group would cost groups x attributes, and every tag of that name
// would pay it again. Each rule is indexed once instead: every name with the
// groups that list it. A tag then costs its own attributes and the groups
// that its names belong to. The built-in rules are indexed once per process,
// a caller's rules once per parse.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "hashing/keyed_hash.h"
#include "template/ast/tag_rules.h"
#include "template/parser/name_sets.h"

namespace lumra::template_parser {

// Tallies for the index queries of one parse: a query stamps what it touches
// instead of clearing tallies sized to the rule.
struct TagRuleScratch {
  std::vector<std::uint32_t> name_stamp;
  std::vector<std::uint32_t> group_stamp;
  std::vector<std::uint32_t> tally;
  std::uint32_t call = 0;

  // Starts a query over `names` names and `groups` groups.
  void begin(std::size_t names, std::size_t groups);
};

class TagRuleIndex {
 public:
  // Views the names of `rules`, which must outlive the index.
  explicit TagRuleIndex(const template_ast::TagRules& rules);

  // Whether an allowed group lists the name.
  bool allows_attribute(std::string_view name) const { return allowed_.names.find(name) != nullptr; }

  // The first allowed group that lists two of the names (a name given twice
  // counts twice), if any. `for_each_name(visit)` calls visit(name) for each.
  template <class ForEachName>
  std::optional<std::size_t> first_exclusive_conflict(ForEachName&& for_each_name, TagRuleScratch& scratch) const;

  // The first required group that lists none of the names, if any.
  template <class ForEachName>
  std::optional<std::size_t> first_unmet_requirement(ForEachName&& for_each_name, TagRuleScratch& scratch) const;

  // Whether `allowed_slots` is absent or lists the slot.
  bool allows_slot(std::string_view slot) const { return !has_allowed_slots_ || allowed_slots_.contains(slot); }

  // The fields the rule declares for the slot, or null when it declares none
  // (an unknown data shape).
  const hashing::TextSet<std::string_view>* slot_fields(std::string_view slot) const {
    const auto found = slot_fields_.find(slot);
    return found == slot_fields_.end() ? nullptr : &found->second;
  }

 private:
  // The names of some groups, each with the groups that list it (ascending,
  // each once). Up to 64 names and groups, a query keeps its tallies in bit
  // masks (the built-in rules and most callers' need no scratch); beyond, in
  // the parse's scratch.
  struct Groups {
    explicit Groups(const std::vector<template_ast::AttrGroup>& groups);
    bool small() const noexcept { return names.size() <= 64 && count <= 64; }
    const std::uint32_t* run_begin(std::uint32_t name) const { return groups.data() + run_starts[name]; }
    const std::uint32_t* run_end(std::uint32_t name) const { return groups.data() + run_starts[name + 1]; }

    NameMap<std::uint32_t> names;          // name -> its index
    std::vector<std::uint32_t> run_starts;  // per name, then one past the end
    std::vector<std::uint32_t> groups;      // the runs, one after another
    std::size_t count = 0;
  };

  Groups allowed_;
  Groups required_;
  bool has_allowed_slots_ = false;
  hashing::TextSet<std::string_view> allowed_slots_;
  hashing::TextMap<std::string_view, hashing::TextSet<std::string_view>> slot_fields_;
};

// The indexes a parse uses: the built-in rules' shared ones, a caller's built
// on first use. Shared by a parse and the templates nested in it; not shared
// between threads.
class TagRuleIndexes {
 public:
  const TagRuleIndex& of(const template_ast::TagRules& rules);
  TagRuleScratch& scratch() { return scratch_; }

 private:
  std::unordered_map<const template_ast::TagRules*, std::unique_ptr<TagRuleIndex>> callers_;
  TagRuleScratch scratch_;
};

template <class ForEachName>
std::optional<std::size_t> TagRuleIndex::first_exclusive_conflict(ForEachName&& for_each_name,
                                                                   TagRuleScratch& scratch) const {
  const Groups& g = allowed_;
  // A name met again puts every group of its own twice, the first one too.
  std::optional<std::uint32_t> first;
  const auto candidate = [&](std::uint32_t group) {
    if (!first || group < *first) first = group;
  };
  if (g.small()) {
    std::uint64_t met = 0, once = 0, twice = 0;
    for_each_name([&](std::string_view name) {
      const std::uint32_t* i = g.names.find(name);
      if (i == nullptr) return;
      if (met >> *i & 1) return candidate(*g.run_begin(*i));
      met |= std::uint64_t{1} << *i;
      for (const std::uint32_t* group = g.run_begin(*i); group != g.run_end(*i); ++group) {
        const std::uint64_t bit = std::uint64_t{1} << *group;
        twice |= once & bit;
        once |= bit;
      }
    });
    if (twice != 0) candidate(static_cast<std::uint32_t>(__builtin_ctzll(twice)));
    return first;
  }
  scratch.begin(g.names.size(), g.count);
  for_each_name([&](std::string_view name) {
    const std::uint32_t* i = g.names.find(name);
    if (i == nullptr) return;
    if (scratch.name_stamp[*i] == scratch.call) return candidate(*g.run_begin(*i));
    scratch.name_stamp[*i] = scratch.call;
    for (const std::uint32_t* group = g.run_begin(*i); group != g.run_end(*i); ++group) {
      if (scratch.group_stamp[*group] != scratch.call) {
        scratch.group_stamp[*group] = scratch.call;
        scratch.tally[*group] = 0;
      }
      if (++scratch.tally[*group] == 2) candidate(*group);
    }
  });
  return first;
}

template <class ForEachName>
std::optional<std::size_t> TagRuleIndex::first_unmet_requirement(ForEachName&& for_each_name,
                                                                  TagRuleScratch& scratch) const {
  const Groups& g = required_;
  if (g.count == 0) return std::nullopt;
  if (g.small()) {
    std::uint64_t met = 0;
    for_each_name([&](std::string_view name) {
      if (const std::uint32_t* i = g.names.find(name)) {
        for (const std::uint32_t* group = g.run_begin(*i); group != g.run_end(*i); ++group) {
          met |= std::uint64_t{1} << *group;
        }
      }
    });
    const std::uint64_t all = g.count == 64 ? ~std::uint64_t{0} : (std::uint64_t{1} << g.count) - 1;
    if (met == all) return std::nullopt;
    return static_cast<std::size_t>(__builtin_ctzll(~met & all));
  }
  scratch.begin(g.names.size(), g.count);
  std::size_t met = 0;
  for_each_name([&](std::string_view name) {
    const std::uint32_t* i = g.names.find(name);
    if (i == nullptr || scratch.name_stamp[*i] == scratch.call) return;
    scratch.name_stamp[*i] = scratch.call;
    for (const std::uint32_t* group = g.run_begin(*i); group != g.run_end(*i); ++group) {
      if (scratch.group_stamp[*group] == scratch.call) continue;
      scratch.group_stamp[*group] = scratch.call;
      ++met;
    }
  });
  if (met == g.count) return std::nullopt;
  for (std::size_t group = 0; group < g.count; ++group) {
    if (scratch.group_stamp[group] != scratch.call) return group;
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
