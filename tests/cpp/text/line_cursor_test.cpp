#include "text/line_cursor.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

namespace lumra::text {
namespace {

using Breaks = LineCursor::Breaks;

// Counted from the start of the text for every offset.
LineCursor::Position reference(std::string_view text, std::size_t offset, Breaks breaks) {
  offset = std::min(offset, text.size());
  std::uint64_t line = 1;
  std::size_t line_start = 0;
  for (std::size_t i = 0; i < offset; ++i) {
    const bool cr = breaks == Breaks::LfCrCrlf && text[i] == '\r' && !(i + 1 < text.size() && text[i + 1] == '\n');
    if (text[i] == '\n' || cr) {
      ++line;
      line_start = i + 1;
    }
  }
  std::uint64_t column = 1;
  for (std::size_t i = line_start; i < offset; ++i) column += !utf8::is_continuation(static_cast<unsigned char>(text[i]));
  const auto boundary = [&](std::size_t i) {
    return i >= text.size() || !utf8::is_continuation(static_cast<unsigned char>(text[i]));
  };
  return {line, column, boundary(line_start) && boundary(offset)};
}

// Random texts of ASCII, two- and three-byte characters and every kind of line
// break, asked at offsets that mostly rise and sometimes fall back or overshoot.
TEST(LineCursor, AgreesWithCountingFromTheStart) {
  const std::vector<std::string> pieces = {"a", "bc", " ", "\xc3\xa9", "\xe2\x80\x94", "\n", "\r", "\r\n", "\n\r"};
  std::mt19937 rng(7);
  for (int round = 0; round < 300; ++round) {
    std::string text;
    const int length = std::uniform_int_distribution<int>(0, 40)(rng);
    for (int i = 0; i < length; ++i) text += pieces[rng() % pieces.size()];
    for (const Breaks breaks : {Breaks::Lf, Breaks::LfCrCrlf}) {
      LineCursor cursor(text, breaks);
      std::size_t offset = 0;
      for (int ask = 0; ask < 30; ++ask) {
        if (rng() % 6 == 0) {
          offset = rng() % (text.size() + 3);
        } else {
          offset += rng() % 4;
        }
        const auto got = cursor.at(offset);
        const auto want = reference(text, offset, breaks);
        ASSERT_EQ(got.line, want.line) << round << " at " << offset;
        ASSERT_EQ(got.column, want.column) << round << " at " << offset;
        ASSERT_EQ(got.on_boundary, want.on_boundary) << round << " at " << offset;
      }
    }
  }
}

}  // namespace
}  // namespace lumra::text
