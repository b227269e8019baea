// Messages and rendered text of grammar errors, at positions and spans.
#include <gtest/gtest.h>

#include <string>

#include "template/grammar/error.h"
#include "template/grammar/grammar.h"

namespace lumra::grammar {
namespace {

std::string rendered_parse_error(std::string_view input) {
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  if (result.ok()) return "parsed";
  return result.error().render();
}

struct RenderCase {
  std::string input;
  std::string rendered;
};

const RenderCase kParseErrors[] = {
    {"<!",
     " --> 1:2\n"
     "  |\n"
     "1 | <!\n"
     "  |  ^---\n"
     "  |\n"
     "  = expected html_raw_tag_name or html_tag_name"},
    {"x{# a",
     " --> 1:2\n  |\n1 | x{# a\n  |  ^---\n  |\n  = expected EOI or template_element"},
    {"{# a", " --> 1:1\n  |\n1 | {# a\n  | ^---\n  |\n  = expected template"},
    // At the end of an input that ends with a line feed: an empty last line.
    {"<a\n", " --> 2:1\n  |\n2 | \n  | ^---\n  |\n  = expected html_attribute or template_comment"},
    {"<div class=>",
     " --> 1:12\n  |\n1 | <div class=>\n  |            ^---\n  |\n"
     "  = expected double_quoted_value, single_quoted_value, or unquoted_value"},
    // Two-digit line numbers widen the gutter.
    {std::string(11, '\n') + "ab <!\nnext",
     "  --> 12:5\n   |\n12 | ab <!\n   |     ^---\n   |\n"
     "   = expected html_raw_tag_name or html_tag_name"},
    {std::string(99, '\n') + "<!",
     "   --> 100:2\n    |\n100 | <!\n    |  ^---\n    |\n"
     "    = expected html_raw_tag_name or html_tag_name"},
    // Tabs before the column stay tabs in the underline.
    {"\t\t<!", " --> 1:4\n  |\n1 | \t\t<!\n  | \t\t ^---\n  |\n"
               "  = expected html_raw_tag_name or html_tag_name"},
    {"a\n\tb\t<!", " --> 2:5\n  |\n2 | \tb\t<!\n  | \t \t ^---\n  |\n"
                   "  = expected html_raw_tag_name or html_tag_name"},
    // Columns count characters: é is two bytes and one column.
    {"é{# a", " --> 1:2\n  |\n1 | é{# a\n  |  ^---\n  |\n  = expected EOI or template_element"},
    {"日本<!", " --> 1:4\n  |\n1 | 日本<!\n  |    ^---\n  |\n"
               "  = expected html_raw_tag_name or html_tag_name"},
    // A CRLF pair ends one line; the CR is dropped from the shown line.
    {"a\r\nb<!\r\nc", " --> 2:3\n  |\n2 | b<!\n  |   ^---\n  |\n"
                      "  = expected html_raw_tag_name or html_tag_name"},
    // A lone CR is an ordinary character of the line (and counts as a column).
    {"a\rb<!", " --> 1:5\n  |\n1 | ab<!\n  |     ^---\n  |\n"
               "  = expected html_raw_tag_name or html_tag_name"},
    // The error points at a line feed: line breaks are shown.
    {"x\r</\ny", " --> 1:5\n  |\n1 | x\u240D</\u240A\n  |     ^---\n  |\n"
                 "  = expected html_tag_name"},
    {"</\r\n", " --> 1:3\n  |\n1 | </\u240D\u240A\n  |   ^---\n  |\n"
               "  = expected html_tag_name"},
    // A lone CR at the error offset is shown, and still no line end.
    {"a\r</\rb", " --> 1:5\n  |\n1 | a\u240D</\u240Db\n  |     ^---\n  |\n"
                 "  = expected html_tag_name"},
};

TEST(GrammarErrorRender, ParseErrors) {
  for (const auto& c : kParseErrors) {
    EXPECT_EQ(rendered_parse_error(c.input), c.rendered) << "input: " << c.input;
  }
}

struct SpanCase {
  std::string text;
  std::size_t start;
  std::size_t end;
  std::string rendered;
};

const SpanCase kSpans[] = {
    {"hello world", 6, 11, " --> 1:7\n  |\n1 | hello world\n  |       ^---^\n  |\n  = m"},
    {"hello world", 6, 7, " --> 1:7\n  |\n1 | hello world\n  |       ^\n  |\n  = m"},
    {"hello world", 6, 8, " --> 1:7\n  |\n1 | hello world\n  |       ^^\n  |\n  = m"},
    {"hello world", 6, 9, " --> 1:7\n  |\n1 | hello world\n  |       ^-^\n  |\n  = m"},
    // Empty spans draw one caret, also at offset 0 and at a line start.
    {"abc", 0, 0, " --> 1:1\n  |\n1 | abc\n  | ^\n  |\n  = m"},
    {"", 0, 0, " --> 1:1\n  |\n1 | \n  | ^\n  |\n  = m"},
    {"ab\ncd", 3, 3, " --> 2:1\n  |\n2 | cd\n  | ^\n  |\n  = m"},
    // Over three lines: the middle one is elided.
    {"ab\ncd\nef", 1, 7, " --> 1:2\n  |\n1 | ab\n  | ...\n3 | ef\n  |  ^\n  |\n  = m"},
    // Over two adjacent lines, the end further left than the start.
    {"abcd\nx", 2, 6, " --> 1:3\n  |\n1 | abcd\n2 | x\n  | ^-^\n  |\n  = m"},
    // Ending just after a line feed: shown on the line of that line feed, and
    // the next line is not part of the span.
    {"ab\ncd", 0, 3, " --> 1:1\n  |\n1 | ab\u240A\n  | ^-^\n  |\n  = m"},
    {"ab\r\ncd", 0, 4, " --> 1:1\n  |\n1 | ab\u240D\u240A\n  | ^--^\n  |\n  = m"},
    // Line numbers of different widths are right-aligned.
    {std::string(8, '\n') + "abc\ndef", 8, 14,
     "  --> 9:1\n   |\n 9 | abc\n10 | def\n   | ^^\n   |\n   = m"},
    {std::string(8, '\n') + "abc\nd\ndef", 8, 16,
     "  --> 9:1\n   |\n 9 | abc\n   | ...\n11 | def\n   | ^^\n   |\n   = m"},
    {"x <é tag>", 2, 10, " --> 1:3\n  |\n1 | x <é tag>\n  |   ^-----^\n  |\n  = m"},
    // Tabs and non-ASCII before the start; the CR of a CRLF counts as a
    // column of its line and is dropped when no break is at either end.
    {"x\ty\nzé\r\nw", 2, 7, " --> 1:3\n  |\n1 | x\ty\n2 | zé\n  |  \t^\n  |\n  = m"},
    // The last character is the CR: both lines show their breaks.
    {"x\ty\nzé\r\nw", 2, 8,
     " --> 1:3\n  |\n1 | x\ty\u240A\n2 | zé\u240D\u240A\n  |  \t^\n  |\n  = m"},
    // A whole CRLF line: its end is shown after the LF on the same line, and
    // the line after it is not part of the span.
    {"x\ty\nzé\r\nw", 4, 9, " --> 2:1\n  |\n2 | zé\u240D\u240A\n  | ^--^\n  |\n  = m"},
    // Just the line feed.
    {"x\ty\nzé\r\nw", 3, 4, " --> 1:4\n  |\n1 | x\ty\u240A\n  |  \t ^\n  |\n  = m"},
    // Empty spans at the end of the input.
    {"x\ty\nzé\r\nw", 10, 10, " --> 3:2\n  |\n3 | w\n  |  ^\n  |\n  = m"},
    {"ab\n", 3, 3, " --> 2:1\n  |\n2 | \n  | ^\n  |\n  = m"},
    // Across ten lines the gutter widens for the end line only.
    {"ab\n" + std::string(8, '\n') + "cd", 1, 12,
     "  --> 1:2\n   |\n 1 | ab\n   | ...\n10 | cd\n   |  ^\n   |\n   = m"},
};

TEST(GrammarErrorRender, Spans) {
  for (const auto& c : kSpans) {
    const auto error = error_from_span(c.text, c.start, c.end, "m");
    ASSERT_TRUE(error.has_value()) << c.text;
    EXPECT_EQ(error->render(), c.rendered) << "span " << c.start << ".." << c.end;
    EXPECT_TRUE(error->is_span());
  }
}

TEST(GrammarErrorRender, SpanLinesAndColumns) {
  const auto error = error_from_span("ab\ncd\nef", 1, 7, "m");
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->line_col(), (LineCol{1, 2}));
  EXPECT_EQ(error->end_line_col(), (LineCol{3, 2}));
  EXPECT_EQ(error->line(), "ab");
  EXPECT_EQ(error->continued_line(), std::optional<std::string>("ef"));

  const auto after_break = error_from_span("ab\ncd", 0, 3, "m");
  ASSERT_TRUE(after_break.has_value());
  EXPECT_EQ(after_break->end_line_col(), (LineCol{1, 4}));
  EXPECT_FALSE(after_break->continued_line().has_value());
}

TEST(GrammarErrorRender, CustomPositions) {
  const auto at_cr = error_from_pos("ab\r\ncd", 2, "bad");
  ASSERT_TRUE(at_cr.has_value());
  EXPECT_EQ(at_cr->render(), " --> 1:3\n  |\n1 | ab\u240D\u240A\n  |   ^---\n  |\n  = bad");
  const auto at_lf = error_from_pos("ab\r\ncd", 3, "bad");
  ASSERT_TRUE(at_lf.has_value());
  EXPECT_EQ(at_lf->render(), " --> 1:4\n  |\n1 | ab\u240D\u240A\n  |    ^---\n  |\n  = bad");
  const auto after = error_from_pos("ab\r\ncd", 4, "bad");
  ASSERT_TRUE(after.has_value());
  EXPECT_EQ(after->render(), " --> 2:1\n  |\n2 | cd\n  | ^---\n  |\n  = bad");
  EXPECT_EQ(after->message(), "bad");
  EXPECT_EQ(parsing_error_message(*after), "bad");
  EXPECT_EQ(after->variant(), GrammarError::Variant::custom_message);
}

TEST(GrammarErrorRender, InvalidPlacesAreRefused) {
  EXPECT_FALSE(error_from_pos("abc", 4, "m").has_value());
  EXPECT_FALSE(error_from_pos("é", 1, "m").has_value());
  EXPECT_TRUE(error_from_pos("é", 2, "m").has_value());
  EXPECT_FALSE(error_from_span("abc", 2, 1, "m").has_value());
  EXPECT_FALSE(error_from_span("abc", 1, 4, "m").has_value());
  EXPECT_FALSE(error_from_span("aé", 0, 2, "m").has_value());
  EXPECT_FALSE(error_from_span("éa", 1, 3, "m").has_value());
}

struct MessageCase {
  std::vector<Rule> expected;
  std::vector<Rule> unexpected;
  std::string_view message;
};

const MessageCase kMessages[] = {
    {{}, {}, "unknown parsing error"},
    {{Rule::text}, {}, "expected text"},
    {{}, {Rule::spacing}, "unexpected spacing"},
    {{Rule::text}, {Rule::spacing}, "unexpected spacing; expected text"},
    {{Rule::text, Rule::EOI}, {}, "expected EOI or text"},
    {{Rule::text, Rule::EOI, Rule::text}, {}, "expected EOI or text"},
    {{Rule::WHITESPACE, Rule::template_, Rule::EOI, Rule::html_tag}, {},
     "expected EOI, template, html_tag, or WHITESPACE"},
    {{Rule::html_tag}, {Rule::spacing_with_whitespace, Rule::template_comment, Rule::spacing},
     "unexpected template_comment, spacing, or spacing_with_whitespace; expected html_tag"},
};

TEST(GrammarErrorMessage, RuleAttempts) {
  for (const auto& c : kMessages) {
    const GrammarError error = GrammarError::from_attempts("x", 0, c.expected, c.unexpected);
    EXPECT_EQ(error.message(), c.message);
    EXPECT_EQ(parsing_error_message(error), c.message);
  }
}

TEST(GrammarErrorMessage, LineAndColumnOfOffsets) {
  struct Case {
    std::string_view text;
    std::size_t offset;
    LineCol expected;
  };
  const Case cases[] = {
      {"", 0, {1, 1}},         {"abc", 3, {1, 4}},       {"a\nb", 2, {2, 1}},
      {"a\r\nb", 2, {1, 3}},   {"a\r\nb", 3, {2, 1}},    {"a\rb", 2, {1, 3}},
      {"é\nüx", 5, {2, 2}},    {"\n\n\n", 3, {4, 1}},    {"ab", 99, {1, 3}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(line_col_at(c.text, c.offset), c.expected) << c.text << " @" << c.offset;
  }
}

}  // namespace
}  // namespace lumra::grammar
