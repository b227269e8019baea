// The built-in tag tables.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "template/ast/tag_rules.h"

namespace lumra::template_ast {
namespace {

using Groups = std::vector<AttrGroup>;
using Names = std::vector<std::string>;

struct Row {
  const char* tag;
  std::optional<Groups> allowed_attrs;
  Groups required_attrs;
  std::optional<Names> allowed_slots;
};

const Row kRows[] = {
    {"c-if", Groups{{"cond"}}, Groups{{"cond"}}, std::nullopt},
    {"c-elif", Groups{{"cond"}}, Groups{{"cond"}}, std::nullopt},
    {"c-else", Groups{}, Groups{}, std::nullopt},
    {"c-for", Groups{{"each"}}, Groups{{"each"}}, std::nullopt},
    {"c-empty", Groups{}, Groups{}, std::nullopt},
    {"c-raw", Groups{}, Groups{}, std::nullopt},
    {"c-fill", Groups{{"name", "c-name"}, {"data"}, {"fallback"}}, Groups{{"name", "c-name", "c-bind"}},
     std::nullopt},
    {"c-slot", std::nullopt, Groups{}, std::nullopt},
    {"c-component", std::nullopt, Groups{{"is", "c-is", "c-bind"}}, std::nullopt},
    {"c-element", std::nullopt, Groups{{"is", "c-is", "c-bind"}}, Names{"default"}},
};

TEST(BuiltinTagRules, EveryRow) {
  for (const Row& row : kRows) {
    SCOPED_TRACE(row.tag);
    const TagRules* rules = builtin_tag_rules(row.tag);
    ASSERT_NE(rules, nullptr);
    EXPECT_EQ(rules->allowed_attrs, row.allowed_attrs);
    EXPECT_EQ(rules->required_attrs, row.required_attrs);
    EXPECT_EQ(rules->allowed_slots, row.allowed_slots);
    EXPECT_TRUE(rules->required_slots.empty());
    EXPECT_TRUE(rules->slot_data_fields.empty());
  }
}

TEST(BuiltinTagRules, TableInRowOrderAndStable) {
  const auto& table = builtin_tag_rules_table();
  ASSERT_EQ(table.size(), std::size(kRows));
  for (std::size_t i = 0; i < table.size(); ++i) {
    EXPECT_EQ(table[i].tag, kRows[i].tag);
    EXPECT_EQ(table[i].rules, builtin_tag_rules(kRows[i].tag));
  }
  EXPECT_EQ(&builtin_tag_rules_table(), &table);
}

TEST(BuiltinTagRules, NoEntryForOtherTags) {
  for (const char* tag : {"c-MyComp", "div", "C-IF", "c-if ", "", "c-", "c-bind", "template"}) {
    EXPECT_EQ(builtin_tag_rules(tag), nullptr) << tag;
  }
}

TEST(BuiltinTagRules, ControlFlowTagsHaveAtMostOneSingleNameGroup) {
  for (const char* tag : {"c-if", "c-elif", "c-else", "c-for", "c-empty"}) {
    const TagRules* rules = builtin_tag_rules(tag);
    ASSERT_NE(rules, nullptr);
    ASSERT_TRUE(rules->allowed_attrs.has_value());
    EXPECT_LE(rules->allowed_attrs->size(), 1u);
    for (const AttrGroup& g : *rules->allowed_attrs) EXPECT_EQ(g.size(), 1u);
  }
}

TEST(AllowedPredecessors, Table) {
  using V = std::vector<std::string_view>;
  const struct {
    const char* tag;
    std::optional<V> expected;
  } cases[] = {
      {"c-elif", V{"c-if", "c-elif"}}, {"c-else", V{"c-if", "c-elif"}}, {"c-empty", V{"c-for"}},
      {"c-if", std::nullopt},          {"c-for", std::nullopt},         {"div", std::nullopt},
  };
  for (const auto& c : cases) {
    const auto* got = allowed_predecessors(c.tag);
    if (!c.expected) {
      EXPECT_EQ(got, nullptr) << c.tag;
    } else {
      ASSERT_NE(got, nullptr) << c.tag;
      EXPECT_EQ(*got, *c.expected);
    }
  }
}

TEST(TagRulesRepr, BuiltinFill) {
  EXPECT_EQ(repr(*builtin_tag_rules("c-fill")),
            "TagRules(allowed_attrs=Some([[\"name\", \"c-name\"], [\"data\"], [\"fallback\"]]), "
            "required_attrs=[[\"name\", \"c-name\", \"c-bind\"]], allowed_slots=None, required_slots=[], "
            "slot_data_fields={})");
  EXPECT_EQ(repr(*builtin_tag_rules("c-element")),
            "TagRules(allowed_attrs=None, required_attrs=[[\"is\", \"c-is\", \"c-bind\"]], "
            "allowed_slots=Some([\"default\"]), required_slots=[], slot_data_fields={})");
}

TEST(TagRulesRepr, SlotDataFieldsByteOrder) {
  TagRules r;
  r.slot_data_fields["z"] = {};
  r.slot_data_fields["\xc3\xa9"] = {"x"};  // é sorts after ASCII, byte-wise
  r.slot_data_fields["a"] = {"q\""};
  EXPECT_EQ(repr(r),
            "TagRules(allowed_attrs=None, required_attrs=[], allowed_slots=None, required_slots=[], "
            "slot_data_fields={\"a\": [\"q\\\"\"], \"z\": [], \"\xc3\xa9\": [\"x\"]})");
}

}  // namespace
}  // namespace lumra::template_ast
