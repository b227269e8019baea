// Generated inputs: every parse either yields a well-formed record tree that
// covers the input or a positioned error that renders; and the remembered
// terminator search answers as a fresh search would.
#include <gtest/gtest.h>

#include <chrono>

#include <random>
#include <string>
#include <vector>

#include "grammar_test_util.h"
#include "template/grammar/grammar.h"

namespace lumra::grammar {
namespace {

// Pieces that steer the recogniser into every rule, including broken shapes.
const std::string_view kPieces[] = {
    "<", ">", "/", "/>", "</", "<!", "<!--", "-->", "<?", "?>", "{", "}", "{{", "}}", "{#",
    "#}", "\"", "'", "\"\"\"", "'''", "\\", "=", " ", "\n", "\r\n", "\r", "\t", "a", "div",
    "c-raw", "#c-", "é", "日", "x", "1", ",", "**", "as", "\u00A0",
};

std::string random_input(std::mt19937& rng) {
  std::uniform_int_distribution<std::size_t> length(0, 40);
  std::uniform_int_distribution<std::size_t> piece(0, std::size(kPieces) - 1);
  std::string out;
  for (std::size_t i = length(rng); i > 0; --i) out += kPieces[piece(rng)];
  return out;
}

bool on_boundary(std::string_view text, std::size_t offset) {
  return offset == text.size() ||
         (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80);
}

// Children lie inside their parent, in order, without overlap.
void check_pair(const Pair& pair, std::string_view input, int& failures) {
  if (pair.start() > pair.end() || pair.end() > input.size() || !on_boundary(input, pair.start()) ||
      !on_boundary(input, pair.end())) {
    ++failures;
    return;
  }
  std::size_t at = pair.start();
  std::size_t count = 0;
  for (const Pair child : pair.inner()) {
    ++count;
    if (child.start() < at || child.end() > pair.end()) ++failures;
    at = child.end();
    check_pair(child, input, failures);
  }
  const Rule rule = pair.rule();
  if ((rule == Rule::template_element || rule == Rule::html_tag || rule == Rule::fill_data_item) &&
      count != 1) {
    ++failures;
  }
  if ((rule == Rule::template_comment || rule == Rule::text || rule == Rule::EOI) && count != 0) {
    ++failures;
  }
}

TEST(GrammarRobustness, GeneratedTemplates) {
  std::mt19937 rng(20261207);
  int parsed = 0;
  for (int round = 0; round < 4000; ++round) {
    const std::string input = random_input(rng);
    const GrammarResult result = template_grammar_parse(Rule::template_, input);
    if (result.ok()) {
      ++parsed;
      int failures = 0;
      const Pair root = result.tree().root();
      check_pair(root, input, failures);
      EXPECT_EQ(failures, 0) << input;
      EXPECT_EQ(root.start(), 0u);
      EXPECT_EQ(root.end(), input.size());
      // The elements tile the input, and EOI closes it.
      std::size_t at = 0;
      Rule last = Rule::template_;
      for (const Pair element : root.inner()) {
        EXPECT_EQ(element.start(), at) << input;
        at = element.end();
        last = element.rule();
      }
      EXPECT_EQ(last, Rule::EOI) << input;
      EXPECT_EQ(at, input.size()) << input;
    } else {
      const GrammarError& error = result.error();
      EXPECT_LE(error.start(), input.size()) << input;
      EXPECT_TRUE(on_boundary(input, error.start())) << input;
      EXPECT_EQ(error.render().rfind(" --> ", 0), 0u) << input;
      EXPECT_NE(error.message(), "unknown parsing error") << input;
    }
  }
  // The pieces make enough valid templates for the tree checks to matter.
  EXPECT_GT(parsed, 400);
}

// A pair and everything below it, without what lies inside python_expr.
std::string outline(const Pair& pair) {
  std::string out = std::string(rule_name(pair.rule())) + "(" + std::to_string(pair.start()) + "," +
                    std::to_string(pair.end());
  if (pair.rule() != Rule::python_expr) {
    for (const Pair child : pair.inner()) out += " " + outline(child);
  }
  return out + ")";
}

TEST(GrammarRobustness, RecordsWithoutExpressionPartsAgreeWithAll) {
  std::mt19937 rng(31);
  std::vector<std::string> inputs = {"{{ " + std::string(300, '{') + " }}", "{{ {{ }} }}", "{{ f'{a}' }}"};
  for (int round = 0; round < 4000; ++round) {
    const std::string inside = random_input(rng);
    inputs.push_back(round % 2 ? inside : "<p>{{ " + inside + " }}{{" + random_input(rng) + "}}</p>");
  }
  int expressions = 0;
  for (const std::string& input : inputs) {
    const GrammarResult all = template_grammar_parse(Rule::template_, input);
    const GrammarResult lean = template_grammar_parse(Rule::template_, input, Records::without_expression_parts);
    ASSERT_EQ(all.ok(), lean.ok()) << input;
    if (!all.ok()) {
      EXPECT_EQ(all.error().render(), lean.error().render()) << input;
      continue;
    }
    const std::string outline_all = outline(all.tree().root());
    EXPECT_EQ(outline_all, outline(lean.tree().root())) << input;
    expressions += outline_all.find("python_expr") != std::string::npos;
    for (const RecordEntry& entry : lean.tree().entries()) {
      EXPECT_NE(entry.rule, Rule::python_other_char) << input;
    }
  }
  EXPECT_GT(expressions, 300);
}

TEST(GrammarRobustness, GeneratedBindings) {
  std::mt19937 rng(7);
  for (int round = 0; round < 3000; ++round) {
    std::string input = random_input(rng);
    if (round % 2 == 0) input = "{ " + input + " }";
    const GrammarResult result = template_grammar_parse(Rule::fill_data_pattern, input);
    if (result.ok()) {
      int failures = 0;
      check_pair(result.tree().root(), input, failures);
      EXPECT_EQ(failures, 0) << input;
    } else {
      EXPECT_LE(result.error().start(), input.size()) << input;
      EXPECT_FALSE(result.error().render().empty());
    }
  }
}

TEST(GrammarRobustness, UnclosedConstructsStayLinear) {
  // Every `<!--` looks for a `-->` and every `<c-raw>` for a raw end tag that
  // never come; the searches are answered from the first one, so this runs
  // in well under a second instead of scanning the rest of the input 40,000
  // times.
  std::string input;
  for (int i = 0; i < 20000; ++i) input += "<!--x>";
  for (int i = 0; i < 20000; ++i) input += "<c-raw>x";
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  ASSERT_TRUE(result.ok());
  EXPECT_EQ(result.tree().root().inner().size(), 60001u);
  EXPECT_EQ(result.tree().root().inner().first()->inner().first()->rule(), Rule::html_directive);

  // A string opened by the first quote never closes; every later quote is
  // escaped inside it, so no string needs a second scan.
  for (const std::string_view quote : {"\"", "'"}) {
    std::string escaped = "{{ " + std::string(quote);
    for (int i = 0; i < 50000; ++i) escaped += "\\" + std::string(quote) + " ";
    escaped += "}}";
    const GrammarResult expression = template_grammar_parse(Rule::template_, escaped);
    ASSERT_TRUE(expression.ok());
    const Pair element = *expression.tree().root().inner().first();
    const Pair python_expr = *element.inner().first()->inner().first();
    // Every character is a python_other_char of its own.
    EXPECT_EQ(python_expr.inner().size(), python_expr.as_str().size());
  }
}

TEST(GrammarRobustness, RawEndTagLookalikesStayLinear) {
  // Every `<c-raw>` scans for its end tag past many `</c-raw` that are no
  // raw end tag (here end tags of a tag named `c-rawx`, and one with a space
  // that the lookahead reads further into). Only the first scan may try them
  // all: 20,000 of each took seconds when every start tag rescanned them.
  for (const std::string_view lookalike : {"</c-rawx>", "</c-raw x/>"}) {
    std::string raw;
    for (int i = 0; i < 20000; ++i) raw += "<c-raw>";
    for (int i = 0; i < 20000; ++i) raw += lookalike;
    const auto started = std::chrono::steady_clock::now();
    const GrammarResult raw_result = template_grammar_parse(Rule::template_, raw);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(2)) << lookalike;
    if (lookalike == "</c-rawx>") {
      ASSERT_TRUE(raw_result.ok());
      EXPECT_EQ(raw_result.tree().root().inner().size(), 40001u);
    } else {
      // `</c-raw x/>` is no tag at all, so the parse fails; the furthest
      // attempt is the raw end tag that the first scan looked for at the end.
      ASSERT_FALSE(raw_result.ok());
      EXPECT_EQ(raw_result.error().start(), raw.size());
      EXPECT_EQ(raw_result.error().message(), "expected html_raw_end_tag");
    }
  }

  // Attribute values that hold `</c-raw` make every try of the raw end tag
  // read the attributes up to the real end: each try used to reread all of
  // them (seconds for 100 kB), the later ones now stop where an earlier try
  // has already been.
  for (const bool closed : {true, false}) {
    std::string raw = "<c-raw></c-raw ";
    for (int i = 0; i < 20000; ++i) raw += "x=\"</c-raw \" ";
    raw += closed ? "</c-raw>" : "";
    const auto started = std::chrono::steady_clock::now();
    const GrammarResult raw_result = template_grammar_parse(Rule::template_, raw);
    const auto elapsed = std::chrono::steady_clock::now() - started;
    EXPECT_LT(elapsed, std::chrono::seconds(2)) << closed;
    if (closed) {
      ASSERT_TRUE(raw_result.ok());
      const std::string content = testing::first_display(raw, Rule::html_raw_content);
      EXPECT_EQ(content, "html_raw_content(7, " + std::to_string(raw.size() - 8) + ")");
    } else {
      ASSERT_FALSE(raw_result.ok());
      EXPECT_EQ(raw_result.error().start(), raw.size());
      EXPECT_EQ(raw_result.error().message(),
                "expected html_raw_end_tag, html_attribute, or template_comment");
    }
  }
}

}  // namespace
}  // namespace lumra::grammar
