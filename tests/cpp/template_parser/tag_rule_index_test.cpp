// The tag rule index against the group-by-group reading of the rules, on
// random rules and tags; the messages themselves are tested through
// parse_template (tests/python/test_tag_rules.py).
#include "template/parser/tag_rule_index.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumra::template_parser {
namespace {

using template_ast::AttrGroup;

// The first group that two of the names belong to, counting each name as
// often as it is given.
std::optional<std::size_t> conflict_by_groups(const std::vector<AttrGroup>& groups,
                                              const std::vector<std::string>& names) {
  for (std::size_t g = 0; g < groups.size(); ++g) {
    std::size_t found = 0;
    for (const std::string& name : names) found += std::ranges::find(groups[g], name) != groups[g].end();
    if (found >= 2) return g;
  }
  return std::nullopt;
}

std::optional<std::size_t> unmet_by_groups(const std::vector<AttrGroup>& groups, const std::vector<std::string>& names) {
  for (std::size_t g = 0; g < groups.size(); ++g) {
    if (std::ranges::none_of(groups[g], [&](const std::string& n) { return std::ranges::find(names, n) != names.end(); })) {
      return g;
    }
  }
  return std::nullopt;
}

// Names from a small alphabet, so that groups share names, list one twice,
// and tags repeat names; one index serves many tags in a row, as in a parse.
// Every other rule has more than 64 groups, past the bit masks.
TEST(TagRuleIndex, AgreesWithReadingTheGroupsInOrder) {
  std::mt19937 rng(11);
  for (int round = 0; round < 200; ++round) {
    const bool big = round % 2 == 1;
    const auto name = [&] { return "n" + std::to_string(rng() % (big ? 90 : 8)); };
    template_ast::TagRules rules;
    auto& allowed = rules.allowed_attrs.emplace();
    for (std::size_t g = big ? 65 + rng() % 30 : rng() % 7; g > 0; --g) {
      AttrGroup& group = allowed.emplace_back();
      for (std::size_t n = rng() % 4; n > 0; --n) group.push_back(name());
    }
    for (std::size_t g = big ? 65 + rng() % 30 : rng() % 4; g > 0; --g) {
      AttrGroup& group = rules.required_attrs.emplace_back();
      for (std::size_t n = rng() % 3; n > 0; --n) group.push_back(name());
    }
    TagRuleIndex index(rules);
    TagRuleScratch scratch;
    for (int tag = 0; tag < 20; ++tag) {
      std::vector<std::string> names;
      for (std::size_t n = rng() % (big ? 12 : 6); n > 0; --n) names.push_back(name());
      const auto each = [&](auto&& visit) {
        for (const std::string& n : names) visit(std::string_view(n));
      };
      ASSERT_EQ(index.first_exclusive_conflict(each, scratch), conflict_by_groups(allowed, names)) << round << "/" << tag;
      ASSERT_EQ(index.first_unmet_requirement(each, scratch), unmet_by_groups(rules.required_attrs, names))
          << round << "/" << tag;
      for (const std::string& n : names) {
        const bool listed = std::ranges::any_of(allowed, [&](const AttrGroup& g) { return std::ranges::find(g, n) != g.end(); });
        ASSERT_EQ(index.allows_attribute(n), listed) << n;
      }
    }
  }
}

TEST(TagRuleIndex, Slots) {
  template_ast::TagRules rules;
  rules.allowed_slots = std::vector<std::string>{"head", "body"};
  rules.slot_data_fields = {{"head", {"a", "b"}}, {"foot", {}}};
  TagRuleIndex index(rules);
  EXPECT_TRUE(index.allows_slot("body"));
  EXPECT_FALSE(index.allows_slot("foot"));
  ASSERT_NE(index.slot_fields("head"), nullptr);
  EXPECT_TRUE(index.slot_fields("head")->contains("b"));
  ASSERT_NE(index.slot_fields("foot"), nullptr);
  EXPECT_TRUE(index.slot_fields("foot")->empty());  // a known empty shape
  EXPECT_EQ(index.slot_fields("body"), nullptr);    // an unknown shape
  EXPECT_TRUE(TagRuleIndex(template_ast::TagRules{}).allows_slot("any"));
}

}  // namespace
}  // namespace lumra::template_parser
