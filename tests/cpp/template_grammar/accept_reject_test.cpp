// Which texts each part of the grammar accepts, how a template splits into
// elements, and where and why the rejected ones fail.
#include <gtest/gtest.h>

#include "grammar_test_util.h"

namespace lumra::grammar {
namespace {

using testing::elements_of;

struct ElementsCase {
  std::string_view input;
  std::string_view elements;
};

// Markup: comments, directives, instructions, raw elements, tags, attributes.
const ElementsCase kMarkup[] = {
    {"<!---->", "html_comment{<!---->}"},
    {"<!-- a -- b -->", "html_comment{<!-- a -- b -->}"},
    {"<!-->", "html_directive{<!-->}"},
    {"<!-- a <b>", "html_directive{<!-- a <b>}"},
    {"<!DOCTYPE html>", "html_directive{<!DOCTYPE html>}"},
    {"<!doctype html>", "html_directive{<!doctype html>}"},
    {"<?xml version=\"1.0\"?>", "html_processing_instruction{<?xml version=\"1.0\"?>}"},
    {"<c-raw>{{ x }}<b>{# y #}</c-raw>", "html_raw{<c-raw>{{ x }}<b>{# y #}</c-raw>}"},
    {"<c-raw>x</c-raw >", "html_raw{<c-raw>x</c-raw >}"},
    {"<c-raw>x</c-raw{# z #}>", "html_raw{<c-raw>x</c-raw{# z #}>}"},
    {"<c-raw>x</c-raw a=\"1\">", "html_raw{<c-raw>x</c-raw a=\"1\">}"},
    {"<c-raw><c-raw></c-raw>", "html_raw{<c-raw><c-raw></c-raw>}"},
    {"<c-raw>a</c-raw></c-raw>", "html_raw{<c-raw>a</c-raw>} html_end_tag{</c-raw>}"},
    {"<C-RAW>x</C-RAW>", "html_start_tag{<C-RAW>} text{x} html_end_tag{</C-RAW>}"},
    {"<c-rawx>", "html_start_tag{<c-rawx>}"},
    {"<c-raw/>", "html_self_closing_tag{<c-raw/>}"},
    {"<c-raw>", "html_start_tag{<c-raw>}"},
    {"<c-raw>a</c-raw", "html_start_tag{<c-raw>} text{a} ERROR"},
    {"<br>", "html_start_tag{<br>}"},
    {"<br/>", "html_self_closing_tag{<br/>}"},
    {"<br />", "html_self_closing_tag{<br />}"},
    {"<a href=/x/>", "html_start_tag{<a href=/x/>}"},
    {"<div a=\"1\" b>", "html_start_tag{<div a=\"1\" b>}"},
    {"<div class = \"a\">", "html_start_tag{<div class = \"a\">}"},
    {"<div\n  class=\"a\"\r\n  id='b'\n>", "html_start_tag{<div\n  class=\"a\"\r\n  id='b'\n>}"},
    {"<div {# note #} class=\"x\">", "html_start_tag{<div {# note #} class=\"x\">}"},
    {"<div{# note #}>", "html_start_tag{<div{# note #}>}"},
    {"</div>", "html_end_tag{</div>}"},
    {"</div >", "html_end_tag{</div >}"},
    {"</div class=\"x\">", "html_end_tag{</div class=\"x\">}"},
    {"< div>", "text{< div>}"},
    {"<1>", "text{<1>}"},
    {"<div {{ x }}>", "html_start_tag{<div {{ x }}>}"},
    {"<div a={{x}}>", "html_start_tag{<div a={{x}}>}"},
    {"<div x='a\"b'>", "html_start_tag{<div x='a\"b'>}"},
    {"<div x=\"a>b\">", "html_start_tag{<div x=\"a>b\">}"},
    {"<div x=\"a\nb\">", "html_start_tag{<div x=\"a\nb\">}"},
    {"<tr #c-key=\"row\" #c- #C-key #x>", "html_start_tag{<tr #c-key=\"row\" #c- #C-key #x>}"},
    {"<my-comp.x:y>", "html_start_tag{<my-comp.x:y>}"},
    {"<a\"b>", "html_start_tag{<a\"b>}"},
    {"<p>a</p>", "html_start_tag{<p>} text{a} html_end_tag{</p>}"},
};

// Expressions, template comments and text.
const ElementsCase kExpressionsAndText[] = {
    {"{{}}", "template_expression{{{}}}"},
    {"{{   }}", "template_expression{{{   }}}"},
    {"{{ a }}}", "template_expression{{{ a }}} text{}}"},
    {"{{ x[\"}}\"] }}", "template_expression{{{ x[\"}}\"] }}}"},
    {"{{ '}}' }}", "template_expression{{{ '}}' }}}"},
    {"{{ \"\"\" }} \"\"\" }}", "template_expression{{{ \"\"\" }} \"\"\" }}}"},
    {"{{ '''a}}''' }}", "template_expression{{{ '''a}}''' }}}"},
    {"{{ \"a\\\"b\" }}", "template_expression{{{ \"a\\\"b\" }}}"},
    {"{{ 'it\\'s' }}", "template_expression{{{ 'it\\'s' }}}"},
    {"{{ \"\"\"a\\\"\"\" }}", "template_expression{{{ \"\"\"a\\\"\"\" }}}"},
    {"{{ {\"a\": 1} }}", "template_expression{{{ {\"a\": 1} }}}"},
    {"{{ {x for x in y} }}", "template_expression{{{ {x for x in y} }}}"},
    {"{{ f\"{x}\" }}", "template_expression{{{ f\"{x}\" }}}"},
    {"{{ {{ a }} }}", "template_expression{{{ {{ a }} }}}"},
    {"{{ \"abc }}", "template_expression{{{ \"abc }}}"},
    {"{{ \"abc }} \"}}", "template_expression{{{ \"abc }} \"}}}"},
    {"{{ a # }} }}", "template_expression{{{ a # }}} text{ }}}"},
    {"{{\n\ta\r\n}}", "template_expression{{{\n\ta\r\n}}}"},
    {"{# a #}", "template_comment{{# a #}}"},
    {"{# a {# b #} c #}", "template_comment{{# a {# b #}} text{ c #}}"},
    {"{##}", "template_comment{{##}}"},
    {"a < b", "text{a < b}"},
    {"x <3", "text{x <3}"},
    {"<", "text{<}"},
    {"a<", "text{a<}"},
    {"{ }", "text{{ }}"},
    {"a <b>", "text{a } html_start_tag{<b>}"},
    {"a\nb\r\nc", "text{a\nb\r\nc}"},
    {"<é", "text{<é}"},
    {"{", "text{{}"},
    {"}} #} {%", "text{}} #} {%}"},
    {"a{{b}}c{#d#}e", "text{a} template_expression{{{b}}} text{c} template_comment{{#d#}} text{e}"},
};


template <std::size_t N>
void check_elements(const ElementsCase (&cases)[N]) {
  for (const auto& c : cases) {
    const std::string got = elements_of(c.input);
    if (c.elements.ends_with("ERROR")) {
      EXPECT_TRUE(got.starts_with("ERROR")) << "input: " << c.input << "\ngot: " << got;
    } else {
      EXPECT_EQ(got, c.elements) << "input: " << c.input;
    }
  }
}

TEST(GrammarAccept, MarkupElements) { check_elements(kMarkup); }
TEST(GrammarAccept, ExpressionsCommentsAndText) { check_elements(kExpressionsAndText); }

struct RejectCase {
  std::string_view input;
  std::size_t offset;
  std::string_view message;
};

const RejectCase kRejectedTemplates[] = {
    {"<!", 1, "expected html_raw_tag_name or html_tag_name"},
    {"x{# a", 1, "expected EOI or template_element"},
    {"{# a", 0, "expected template"},
    {"<a\n", 3, "expected html_attribute or template_comment"},
    {"<br / >", 4, "expected html_attribute or template_comment"},
    {"<div a=\"1\"b=\"2\">", 10, "expected template_comment"},
    {"<div class=>", 11, "expected double_quoted_value, single_quoted_value, or unquoted_value"},
    {"</ div>", 2, "expected html_tag_name"},
    {"<div x=\"a\\\"b\">", 11, "expected template_comment"},
    {"{{ a } }}", 5,
     "expected python_str_triple_double, python_str_triple_single, python_str_double, "
     "python_str_single, or python_other_char"},
    {"{{ a { }}", 8,
     "expected python_str_triple_double, python_str_triple_single, python_str_double, "
     "python_str_single, or python_other_char"},
    // The string opened after `{{` runs to the quote in the attribute.
    {"ab{{ \"abc }} <a href=\"x\">", 25,
     "expected python_str_triple_double, python_str_triple_single, python_str_double, "
     "python_str_single, or python_other_char"},
};

TEST(GrammarReject, TemplatesFailAtTheFurthestPosition) {
  for (const auto& c : kRejectedTemplates) {
    const GrammarResult result = template_grammar_parse(Rule::template_, c.input);
    ASSERT_FALSE(result.ok()) << "input: " << c.input;
    EXPECT_EQ(result.error().start(), c.offset) << "input: " << c.input;
    EXPECT_EQ(result.error().message(), c.message) << "input: " << c.input;
    EXPECT_EQ(result.error().variant(), GrammarError::Variant::rule_attempts);
  }
}

const std::string_view kAcceptedBindings[] = {
    "data", "  data  ", "data\n", "\tdata\r\n", "_x1", "é", "_", "a\u00B7b",
    "{a}", "{ a }", "{ a, }", "{ a , b }", "{ a as b }", "{a as b}",
    "{\n  root_attrs,\n  table_attrs as inner_table_attrs,\n  **rest\n}",
    "{ **rest }", "{ ** rest }", "{ a, **rest, }", "{ **rest, a }", "{ **a, **b }",
    "{ as }", "{ a as as }", "{ a\tas\nb }", "{ for, class as if }",
};

const std::string_view kRejectedBindings[] = {
    "1x", "a-b", "a.b", "a b", "\"a\"", "", "   ", "{}", "{ , }", "{ a,, }", "{ a b }",
    "{ a as }", "{ a asb }", "{ a:b }", "{ a: { b } }", "{ a AS b }", "{ a", "a }",
    "\u00A0data", "data\u00A0", "{ \u00A0a }", "\u00B7a", "{ ** }", "{ *a }", "\fdata",
    "{{ a }}", "data,",
};

TEST(GrammarAccept, FillDataBindings) {
  for (const auto input : kAcceptedBindings) {
    EXPECT_TRUE(template_grammar_parse(Rule::fill_data_pattern, input).ok()) << "input: " << input;
  }
}

TEST(GrammarReject, FillDataBindings) {
  for (const auto input : kRejectedBindings) {
    const GrammarResult result = template_grammar_parse(Rule::fill_data_pattern, input);
    EXPECT_FALSE(result.ok()) << "input: " << input;
  }
}

TEST(GrammarReject, FillDataErrorIsPositionedInTheValue) {
  const GrammarResult result = template_grammar_parse(Rule::fill_data_pattern, "{ a b }");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().start(), 2u);
  EXPECT_EQ(result.error().line_col(), (LineCol{1, 3}));
  EXPECT_EQ(result.error().message(), "expected fill_data_rest");
}

TEST(GrammarEntry, OnlyTheTwoStartRulesAreAccepted) {
  const GrammarResult result = template_grammar_parse(Rule::text, "abc");
  ASSERT_FALSE(result.ok());
  EXPECT_EQ(result.error().variant(), GrammarError::Variant::custom_message);
  EXPECT_EQ(result.error().message(),
            "Internal error: text is not a start rule of the template grammar");
}

}  // namespace
}  // namespace lumra::grammar
