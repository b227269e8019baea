// Deeply nested expressions, and the pair handles that the template parser walks.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "grammar_test_util.h"

namespace lumra::grammar {
namespace {

std::string nested_expression(std::size_t levels, std::size_t closing) {
  return "{{" + std::string(levels, '{') + "x" + std::string(closing, '}') + "}}";
}

int python_expr_depth(const Pair& pair) {
  int deepest = 0;
  for (const Pair child : pair.inner()) deepest = std::max(deepest, python_expr_depth(child));
  return deepest + (pair.rule() == Rule::python_expr ? 1 : 0);
}

TEST(GrammarNesting, TheLimitItselfParses) {
  const std::string input = nested_expression(kMaxBraceNesting, kMaxBraceNesting);
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  ASSERT_TRUE(result.ok()) << result.error().render();
  // The outer python_expr and one per brace level.
  EXPECT_EQ(python_expr_depth(result.tree().root()), kMaxBraceNesting + 1);
}

TEST(GrammarNesting, DeeperNestingIsAnOrderlyError) {
  const std::size_t offending = 2 + kMaxBraceNesting;  // the first `{` past the limit
  const std::string expected_message =
      "too many nested braces in expression (more than 256 levels)";
  const std::string inputs[] = {
      nested_expression(kMaxBraceNesting + 1, kMaxBraceNesting + 1),
      nested_expression(100000, 100000),
      nested_expression(100000, 0),
      "text " + nested_expression(100000, 3) + " more",
  };
  for (const auto& input : inputs) {
    const GrammarResult result = template_grammar_parse(Rule::template_, input);
    ASSERT_FALSE(result.ok());
    const GrammarError& error = result.error();
    EXPECT_EQ(error.variant(), GrammarError::Variant::custom_message);
    EXPECT_EQ(error.message(), expected_message);
    const std::size_t shift = input.starts_with("text ") ? 5 : 0;
    EXPECT_EQ(error.start(), offending + shift);
    EXPECT_EQ(error.line_col(), (LineCol{1, offending + shift + 1}));
  }
}

TEST(GrammarNesting, BracesOutsideExpressionsAreNotNested) {
  // Text, comments, raw content and attribute values never recurse.
  const std::string braces(100000, '{');
  const std::string inputs[] = {
      "{# " + braces + " #}",
      "<c-raw>{{" + braces + "</c-raw>",
      "<a b=\"{{" + braces + "\">",
      "{{ '" + braces + "' }}",
  };
  for (const auto& input : inputs) {
    EXPECT_TRUE(template_grammar_parse(Rule::template_, input).ok()) << input.substr(0, 12);
  }
}

TEST(GrammarPairs, WalkingATag) {
  const std::string input = "<p>\n  <img src=\"a.png\"/>é{{ x }}</p>";
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  ASSERT_TRUE(result.ok());
  const Pair root = result.tree().root();
  EXPECT_EQ(root.rule(), Rule::template_);
  EXPECT_EQ(result.tree().pairs().size(), 1u);

  std::vector<std::string> seen;
  for (const Pair element : root.inner()) {
    const auto child = element.inner().first();
    seen.push_back(std::string(rule_name(element.rule())) + ":" +
                   (child ? std::string(rule_name(child->rule())) : "-"));
  }
  EXPECT_EQ(seen, (std::vector<std::string>{"template_element:html_tag", "template_element:text",
                                            "template_element:html_tag", "template_element:text",
                                            "template_element:template_expression",
                                            "template_element:html_tag", "EOI:-"}));

  const Pairs elements = root.inner();
  auto it = elements.begin();
  ++it;
  ++it;
  const Pair img = *(*it).inner().first()->inner().first();
  EXPECT_EQ(img.rule(), Rule::html_self_closing_tag);
  EXPECT_EQ(img.as_str(), "<img src=\"a.png\"/>");
  EXPECT_EQ(img.start(), 6u);
  EXPECT_EQ(img.line_col(), (LineCol{2, 3}));
  const auto attr = img.inner().find(Rule::html_attribute);
  ASSERT_TRUE(attr.has_value());
  EXPECT_EQ(attr->as_str(), "src=\"a.png\"");
  const auto value = attr->inner().find(Rule::html_attribute_value);
  ASSERT_TRUE(value.has_value());
  EXPECT_EQ(value->inner().first()->as_str(), "\"a.png\"");
  EXPECT_FALSE(img.inner().find(Rule::spacing).has_value());

  // After é (two bytes, one column).
  ++it;
  ++it;
  EXPECT_EQ((*it).rule(), Rule::template_element);
  EXPECT_EQ((*it).line_col(), (LineCol{2, 22}));
  EXPECT_EQ((*it).as_str(), "{{ x }}");
}

TEST(GrammarPairs, LineStartsAndColumns) {
  const std::string input = "a\r\nb\rc\n\ndé<p>";
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  ASSERT_TRUE(result.ok());
  const ParseTree& tree = result.tree();
  EXPECT_EQ(tree.line_starts(), (std::vector<std::uint32_t>{0, 3, 7, 8}));
  const struct {
    std::size_t offset;
    LineCol expected;
  } cases[] = {{0, {1, 1}}, {1, {1, 2}}, {2, {1, 3}},  {3, {2, 1}},  {5, {2, 3}},
               {6, {2, 4}}, {7, {3, 1}}, {8, {4, 1}}, {11, {4, 3}}, {14, {4, 6}}};
  for (const auto& c : cases) {
    EXPECT_EQ(tree.line_col(c.offset), c.expected) << c.offset;
    EXPECT_EQ(line_col_at(input, c.offset), c.expected) << c.offset;
  }
}

TEST(GrammarPairs, PairsOutliveAMoveOfTheTree) {
  const std::string input = "{{ a }}";
  GrammarResult result = template_grammar_parse(Rule::template_, input);
  ASSERT_TRUE(result.ok());
  const Pair expr = *result.tree().root().inner().first()->inner().first();
  ParseTree moved = std::move(result).tree();
  EXPECT_EQ(expr.rule(), Rule::template_expression);
  EXPECT_EQ(expr.inner().first()->as_str(), "a ");
  EXPECT_EQ(moved.root().to_string(),
            "template(0, 7, [template_element(0, 7, [template_expression(0, 7, [python_expr(3, 5, "
            "[python_other_char(3, 4), python_other_char(4, 5)])])]), EOI(7, 7)])");
  EXPECT_EQ(expr, *moved.root().inner().first()->inner().first());
}

TEST(GrammarRules, NamesAndIdsAreFixed) {
  const std::pair<Rule, std::string_view> cases[] = {
      {Rule::EOI, "EOI"},
      {Rule::template_, "template"},
      {Rule::html_raw_tag_name, "html_raw_tag_name"},
      {Rule::python_other_char, "python_other_char"},
      {Rule::fill_data_pattern, "fill_data_pattern"},
      {Rule::spacing_with_whitespace, "spacing_with_whitespace"},
      {Rule::WHITESPACE, "WHITESPACE"},
  };
  for (const auto& [rule, name] : cases) EXPECT_EQ(rule_name(rule), name);
  EXPECT_EQ(static_cast<int>(Rule::html_tag), 14);
  EXPECT_EQ(static_cast<int>(Rule::template_expression), 26);
  EXPECT_EQ(static_cast<int>(Rule::fill_data_pattern), 38);
  EXPECT_EQ(static_cast<int>(Rule::WHITESPACE), kRuleCount - 1);
  EXPECT_EQ(rule_kind(Rule::template_comment), RuleKind::atomic);
  EXPECT_EQ(rule_kind(Rule::python_nested_curly), RuleKind::silent);
  EXPECT_EQ(rule_kind(Rule::spacing), RuleKind::compound_atomic);
}

}  // namespace
}  // namespace lumra::grammar
