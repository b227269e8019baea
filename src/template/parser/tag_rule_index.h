// Tag rules indexed for the checks of one parse.
//
// A caller's rule may list thousands of attribute groups or slots. Checking a
// tag group by group would cost groups x attributes, and every tag of that name
// would pay it again. Each rule a parse meets is indexed once instead: every
// name with the groups that list it. A tag then costs its own attributes and
// the groups that its names belong to.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <optional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "template/ast/tag_rules.h"

namespace lumra::template_parser {

class TagRuleIndex {
 public:
  // Views the names of `rules`, which must outlive the index.
  explicit TagRuleIndex(const template_ast::TagRules& rules);

  // Whether an allowed group lists the name.
  bool allows_attribute(std::string_view name) const { return allowed_.names.contains(name); }

  // The first allowed group that lists two of the names (a name given twice
  // counts twice), if any. `for_each_name(visit)` calls visit(name) for each.
  template <class ForEachName>
  std::optional<std::size_t> first_exclusive_conflict(ForEachName&& for_each_name);

  // The first required group that lists none of the names, if any.
  template <class ForEachName>
  std::optional<std::size_t> first_unmet_requirement(ForEachName&& for_each_name);

  // Whether `allowed_slots` is absent or lists the slot.
  bool allows_slot(std::string_view slot) const { return !has_allowed_slots_ || allowed_slots_.contains(slot); }

  // The fields the rule declares for the slot, or null when it declares none
  // (an unknown data shape).
  const std::unordered_set<std::string_view>* slot_fields(std::string_view slot);

 private:
  // The names of some groups, each with the groups that list it (ascending,
  // each once), and per-call tallies that a new call resets by stamping
  // rather than clearing.
  struct Groups {
    void build(const std::vector<template_ast::AttrGroup>& groups);
    // Starts a call.
    void begin_call();
    // The groups that list the name, as a run of `groups`; and whether this
    // call met the name before. A name no group lists gives an empty run.
    struct Run {
      const std::uint32_t* begin;
      const std::uint32_t* end;
      bool repeated;
    };
    Run meet(std::string_view name);

    std::unordered_map<std::string_view, std::uint32_t> names;  // name -> its index
    std::vector<std::uint32_t> run_starts;                        // per name, then one past the end
    std::vector<std::uint32_t> groups;                            // the runs, one after another
    std::vector<std::uint32_t> name_stamp;                        // per name: the call that last met it
    std::vector<std::uint32_t> group_stamp;                       // per group: the call that last touched it
    std::vector<std::uint32_t> tally;                             // per group, valid where stamped
    std::uint32_t call = 0;
    std::size_t count = 0;
  };

  const template_ast::TagRules& rules_;
  Groups allowed_;
  Groups required_;
  bool has_allowed_slots_ = false;
  std::unordered_set<std::string_view> allowed_slots_;
  std::unordered_map<std::string_view, std::unordered_set<std::string_view>> slot_fields_;
};

// The indexes of the rules one parse meets, built on first use. Shared by a
// parse and the templates nested in it; not shared between threads.
class TagRuleIndexes {
 public:
  TagRuleIndex& of(const template_ast::TagRules& rules);

 private:
  std::unordered_map<const template_ast::TagRules*, std::unique_ptr<TagRuleIndex>> by_rules_;
};

template <class ForEachName>
std::optional<std::size_t> TagRuleIndex::first_exclusive_conflict(ForEachName&& for_each_name) {
  Groups& g = allowed_;
  g.begin_call();
  std::optional<std::uint32_t> first;
  const auto candidate = [&](std::uint32_t group) {
    if (!first || group < *first) first = group;
  };
  for_each_name([&](std::string_view name) {
    const Groups::Run run = g.meet(name);
    if (run.begin == run.end) return;
    // Met again: every group of the name now holds it twice, the first one too.
    if (run.repeated) return candidate(*run.begin);
    for (const std::uint32_t* group = run.begin; group != run.end; ++group) {
      if (g.group_stamp[*group] != g.call) {
        g.group_stamp[*group] = g.call;
        g.tally[*group] = 0;
      }
      if (++g.tally[*group] == 2) candidate(*group);
    }
  });
  return first;
}

template <class ForEachName>
std::optional<std::size_t> TagRuleIndex::first_unmet_requirement(ForEachName&& for_each_name) {
  Groups& g = required_;
  if (g.count == 0) return std::nullopt;
  g.begin_call();
  std::size_t met = 0;
  for_each_name([&](std::string_view name) {
    const Groups::Run run = g.meet(name);
    if (run.repeated) return;
    for (const std::uint32_t* group = run.begin; group != run.end; ++group) {
      if (g.group_stamp[*group] == g.call) continue;
      g.group_stamp[*group] = g.call;
      ++met;
    }
  });
  if (met == g.count) return std::nullopt;
  for (std::size_t group = 0; group < g.count; ++group) {
    if (g.group_stamp[group] != g.call) return group;
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
