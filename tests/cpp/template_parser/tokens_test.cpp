// Tokens: sub-tokens of a token and the running line/column cursor.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "template/grammar/grammar.h"
#include "template/parser/tokens.h"

namespace lumra::template_parser {
namespace {

using template_ast::Token;

Token token(std::string content, std::uint64_t start, std::uint64_t line, std::uint64_t column) {
  const std::uint64_t end = start + content.size();
  return Token{std::move(content), start, end, {line, column}};
}

TEST(TokenSlice, Table) {
  const std::int64_t kMax = std::numeric_limits<std::int64_t>::max();
  const struct {
    Token in;
    std::int64_t from;
    std::int64_t end_delta;
    Token out;
  } cases[] = {
      // Delimiters off both ends; the column moves with the prefix.
      {token("{{ x }}", 10, 3, 5), 2, -2, token(" x ", 12, 3, 7)},
      {token("\"a b\"", 0, 1, 1), 1, -1, token("a b", 1, 1, 2)},
      {token("{##}", 4, 1, 5), 2, -2, token("", 6, 1, 7)},
      // A line feed in the prefix starts the count again on the next line.
      {token("ab\n\tcd", 0, 2, 4), 4, 0, token("cd", 4, 3, 2)},
      // Columns count characters: "é" is one column, two bytes.
      {token("éx", 0, 1, 1), 2, 0, token("x", 2, 1, 2)},
      // Impossible ranges leave the token as it was.
      {token("abc", 0, 1, 1), -1, 0, token("abc", 0, 1, 1)},
      {token("abc", 0, 1, 1), 2, -2, token("abc", 0, 1, 1)},
      {token("abc", 0, 1, 1), 0, kMax, token("abc", 0, 1, 1)},
      {token("éx", 0, 1, 1), 1, 0, token("éx", 0, 1, 1)},
      {token("xé", 0, 1, 1), 0, -1, token("xé", 0, 1, 1)},
      {Token{"ab", std::numeric_limits<std::uint64_t>::max() - 1, 0, {1, 1}}, 0, 0,
       Token{"ab", std::numeric_limits<std::uint64_t>::max() - 1, 0, {1, 1}}},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(token_slice(c.in, c.from, c.end_delta), c.out) << c.in.content << " " << c.from << " " << c.end_delta;
  }
}

// The cursor answers what a fresh bisection answers, whatever order the
// offsets come in (mostly forward, with jumps back and far ahead).
TEST(LineColCursor, AgreesWithBisection) {
  std::mt19937 rng(12345);
  const std::string pieces[] = {"a", "é", "日", "\n", "\r\n", "\r", "\t", "<p>", "\n\n\n"};
  for (int round = 0; round < 50; ++round) {
    std::string text;
    const int n = 1 + static_cast<int>(rng() % 300);
    for (int i = 0; i < n; ++i) text += pieces[rng() % std::size(pieces)];
    const grammar::GrammarResult parsed = grammar::template_grammar_parse(grammar::Rule::template_, text);
    ASSERT_TRUE(parsed.ok()) << text;
    const auto& starts = parsed.tree().line_starts();
    LineColCursor cursor(text, starts);
    std::size_t offset = 0;
    for (int q = 0; q < 200; ++q) {
      switch (rng() % 4) {
        case 0: offset = rng() % (text.size() + 1); break;  // anywhere
        case 1: offset = offset > 3 ? offset - rng() % 4 : 0; break;  // a little back
        default: offset = std::min(text.size(), offset + rng() % 6); break;  // forward
      }
      while (offset < text.size() && (static_cast<unsigned char>(text[offset]) & 0xC0) == 0x80) ++offset;
      const grammar::LineCol want = grammar::line_col_from_starts(text, starts, offset);
      const template_ast::LineCol got = cursor.at(offset);
      ASSERT_EQ(got.line, want.line) << "offset " << offset << " in " << text;
      ASSERT_EQ(got.column, want.col) << "offset " << offset << " in " << text;
    }
  }
}

}  // namespace
}  // namespace lumra::template_parser
