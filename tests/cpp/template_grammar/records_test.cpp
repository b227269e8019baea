// Record trees of whole parses: rules, spans and nesting of every record.
#include <gtest/gtest.h>

#include "grammar_test_util.h"

namespace lumra::grammar {
namespace {

using testing::first_display;
using testing::tree_of;

struct TreeCase {
  Rule start;
  std::string_view input;
  std::string_view tree;
};

const TreeCase kTrees[] = {
    {Rule::template_, "", "template(0, 0, [EOI(0, 0)])"},
    {Rule::template_, "{{ f(x) }}",
     "template(0, 10, [template_element(0, 10, [template_expression(0, 10, [python_expr(3, 8, "
     "[python_other_char(3, 4), python_other_char(4, 5), python_other_char(5, 6), "
     "python_other_char(6, 7), python_other_char(7, 8)])])]), EOI(10, 10)])"},
    {Rule::template_, "{{ {{ a }} }}",
     "template(0, 13, [template_element(0, 13, [template_expression(0, 13, [python_expr(3, 11, "
     "[python_expr(4, 9, [python_expr(5, 8, [python_other_char(5, 6), python_other_char(6, 7), "
     "python_other_char(7, 8)])]), python_other_char(10, 11)])])]), EOI(13, 13)])"},
    {Rule::template_, "{{}}",
     "template(0, 4, [template_element(0, 4, [template_expression(0, 4, [python_expr(2, 2)])]), "
     "EOI(4, 4)])"},
    {Rule::template_, "{{   }}",
     "template(0, 7, [template_element(0, 7, [template_expression(0, 7, [python_expr(5, 5)])]), "
     "EOI(7, 7)])"},
    {Rule::template_, "{{ 'a' \"b\" \"\"\"c\"\"\" }}",
     "template(0, 21, [template_element(0, 21, [template_expression(0, 21, [python_expr(3, 19, "
     "[python_str_single(3, 6), python_other_char(6, 7), python_str_double(7, 10), "
     "python_other_char(10, 11), python_str_triple_double(11, 18), "
     "python_other_char(18, 19)])])]), EOI(21, 21)])"},
    // A template comment leaves one record and nothing inside it.
    {Rule::template_, "{# a #}",
     "template(0, 7, [template_element(0, 7, [template_comment(0, 7)]), EOI(7, 7)])"},
    {Rule::template_, "a\nb\r\nc",
     "template(0, 6, [template_element(0, 6, [text(0, 6)]), EOI(6, 6)])"},
    {Rule::template_, "<!-- a -- b -->",
     "template(0, 15, [template_element(0, 15, [html_comment(0, 15, [html_comment_content(4, "
     "12)])]), EOI(15, 15)])"},
    {Rule::template_, "<!DOCTYPE html>",
     "template(0, 15, [template_element(0, 15, [html_directive(0, 15)]), EOI(15, 15)])"},
    {Rule::template_, "<?x?>",
     "template(0, 5, [template_element(0, 5, [html_processing_instruction(0, 5)]), EOI(5, 5)])"},
    {Rule::template_, "<c-raw>{{ x }}<b>{# y #}</c-raw>",
     "template(0, 32, [template_element(0, 32, [html_raw(0, 32, [html_raw_start_tag(0, 7, "
     "[html_raw_tag_name(1, 6)]), html_raw_content(7, 24), html_raw_end_tag(24, 32, "
     "[html_raw_tag_name(26, 31)])])]), EOI(32, 32)])"},
    {Rule::template_, "<c-raw a=1 >x</c-raw{# z #}>",
     "template(0, 28, [template_element(0, 28, [html_raw(0, 28, [html_raw_start_tag(0, 12, "
     "[html_raw_tag_name(1, 6), spacing_with_whitespace(6, 7), html_attribute(7, 10, "
     "[html_attribute_name(7, 8), html_attribute_value(8, 10, [unquoted_value(9, 10)])]), "
     "spacing(10, 11)]), html_raw_content(12, 13), html_raw_end_tag(13, 28, "
     "[html_raw_tag_name(15, 20), spacing(20, 27, [template_comment(20, 27)])])])]), "
     "EOI(28, 28)])"},
    {Rule::template_, "<br >",
     "template(0, 5, [template_element(0, 5, [html_tag(0, 5, [html_start_tag(0, 5, "
     "[html_tag_name(1, 3), spacing(3, 4)])])]), EOI(5, 5)])"},
    {Rule::template_, "<div{# c #}>",
     "template(0, 12, [template_element(0, 12, [html_tag(0, 12, [html_start_tag(0, 12, "
     "[html_tag_name(1, 4), spacing(4, 11, [template_comment(4, 11)])])])]), EOI(12, 12)])"},
    {Rule::template_, "<div {# note #} class=\"x\">",
     "template(0, 26, [template_element(0, 26, [html_tag(0, 26, [html_start_tag(0, 26, "
     "[html_tag_name(1, 4), spacing_with_whitespace(4, 16, [template_comment(5, 15)]), "
     "html_attribute(16, 25, [html_attribute_name(16, 21), html_attribute_value(21, 25, "
     "[double_quoted_value(22, 25)])])])])]), EOI(26, 26)])"},
    {Rule::template_, "<a #c-k=''/>",
     "template(0, 12, [template_element(0, 12, [html_tag(0, 12, [html_self_closing_tag(0, 12, "
     "[html_tag_name(1, 2), spacing_with_whitespace(2, 3), html_attribute(3, 10, "
     "[html_meta_attribute_name(3, 7), html_attribute_value(7, 10, [single_quoted_value(8, "
     "10)])])])])]), EOI(12, 12)])"},
    {Rule::fill_data_pattern, "{ a, b as c, **rest }",
     "fill_data_pattern(0, 21, [fill_data_destructure(0, 21, [fill_data_item(2, 3, "
     "[fill_data_field(2, 3, [fill_data_identifier(2, 3)])]), fill_data_item(5, 11, "
     "[fill_data_field(5, 11, [fill_data_identifier(5, 6), fill_data_identifier(10, 11)])]), "
     "fill_data_item(13, 19, [fill_data_rest(13, 19, [fill_data_identifier(15, 19)])])]), "
     "EOI(21, 21)])"},
    {Rule::fill_data_pattern, "  data  ",
     "fill_data_pattern(0, 8, [fill_data_identifier(2, 6), EOI(8, 8)])"},
    {Rule::fill_data_pattern, "{ as }",
     "fill_data_pattern(0, 6, [fill_data_destructure(0, 6, [fill_data_item(2, 4, "
     "[fill_data_field(2, 4, [fill_data_identifier(2, 4)])])]), EOI(6, 6)])"},
    {Rule::fill_data_pattern, "{ a as as }",
     "fill_data_pattern(0, 11, [fill_data_destructure(0, 11, [fill_data_item(2, 9, "
     "[fill_data_field(2, 9, [fill_data_identifier(2, 3), fill_data_identifier(7, 9)])])]), "
     "EOI(11, 11)])"},
};

TEST(GrammarRecords, TreesOfWholeParses) {
  for (const auto& c : kTrees) {
    EXPECT_EQ(tree_of(c.start, c.input), c.tree) << "input: " << c.input;
  }
}

struct SubtreeCase {
  std::string_view input;
  Rule rule;
  std::string_view display;
};

// The first record of a rule inside a larger parse.
const SubtreeCase kSubtrees[] = {
    {"<div class = \"a\">", Rule::html_attribute,
     "html_attribute(5, 16, [html_attribute_name(5, 10), html_attribute_value(10, 16, "
     "[double_quoted_value(13, 16)])])"},
    {"<a href=/x/>", Rule::unquoted_value, "unquoted_value(8, 11)"},
    {"<div a={{x}}>", Rule::unquoted_value, "unquoted_value(7, 12)"},
    {"<div x='a\"b'>", Rule::single_quoted_value, "single_quoted_value(7, 12)"},
    {"<div x=\"a>b\">", Rule::double_quoted_value, "double_quoted_value(7, 12)"},
    {"<div x=\"a\nb\">", Rule::double_quoted_value, "double_quoted_value(7, 12)"},
    {"<c-raw><c-raw></c-raw>", Rule::html_raw_content, "html_raw_content(7, 14)"},
    {"<c-raw></c-raw a=\"1\">", Rule::html_raw_content, "html_raw_content(7, 7)"},
    {"<c-raw>a</c-raw\n>", Rule::html_raw_end_tag,
     "html_raw_end_tag(8, 17, [html_raw_tag_name(10, 15), spacing(15, 16)])"},
    {"<!---->", Rule::html_comment_content, "html_comment_content(4, 4)"},
    {"{{ a + b }}", Rule::python_expr,
     "python_expr(3, 9, [python_other_char(3, 4), python_other_char(4, 5), "
     "python_other_char(5, 6), python_other_char(6, 7), python_other_char(7, 8), "
     "python_other_char(8, 9)])"},
    {"{{ \"\"\"a\\\"\"\" }}", Rule::python_str_triple_double, "python_str_triple_double(3, 11)"},
    {"{{ f\"{x}\" }}", Rule::python_str_double, "python_str_double(4, 9)"},
    {"{{ \"a\\\"b\" }}", Rule::python_str_double, "python_str_double(3, 9)"},
    {"{{ 'it\\'s' }}", Rule::python_str_single, "python_str_single(3, 10)"},
    {"{{ '''a}}''' }}", Rule::python_str_triple_single, "python_str_triple_single(3, 12)"},
    {"{{ \"\" }}", Rule::python_str_double, "python_str_double(3, 5)"},
    // An unclosed quote is an ordinary character.
    {"{{ \"abc }}", Rule::python_expr,
     "python_expr(3, 8, [python_other_char(3, 4), python_other_char(4, 5), "
     "python_other_char(5, 6), python_other_char(6, 7), python_other_char(7, 8)])"},
    {"{{ é }}", Rule::python_expr,
     "python_expr(3, 6, [python_other_char(3, 5), python_other_char(5, 6)])"},
    {"<a {# c #} {# d #}\nx>", Rule::spacing_with_whitespace,
     "spacing_with_whitespace(2, 19, [template_comment(3, 10), template_comment(11, 18)])"},
    {"<a{# c #} x>", Rule::spacing_with_whitespace,
     "spacing_with_whitespace(2, 10, [template_comment(2, 9)])"},
    {"<a {# c #}x>", Rule::spacing_with_whitespace,
     "spacing_with_whitespace(2, 10, [template_comment(3, 10)])"},
};

TEST(GrammarRecords, SubtreesOfParses) {
  for (const auto& c : kSubtrees) {
    EXPECT_EQ(first_display(c.input, c.rule), c.display) << "input: " << c.input;
  }
}

}  // namespace
}  // namespace lumra::grammar
