#include "text/utf8.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

namespace lumra::text::utf8 {
namespace {

// One character at a time with `decode`, the reference for the block decoder:
// nullopt when the text is malformed or holds a character above `max`.
std::optional<std::vector<char32_t>> reference(std::string_view s, char32_t max) {
  std::vector<char32_t> out;
  for (std::size_t i = 0; i < s.size();) {
    uint32_t len = 0;
    const char32_t c = decode(s, i, len);
    if ((len == 1 && static_cast<unsigned char>(s[i]) >= 0x80) || c > max) return std::nullopt;
    out.push_back(c);
    i += len;
  }
  return out;
}

template <class Unit>
void expect_agrees(const std::string& s, const std::string& label) {
  const auto want = reference(s, static_cast<char32_t>(Unit(~Unit(0))));
  std::vector<Unit> got(s.size() + 1, Unit(0x55));
  const std::size_t capacity = s.size();
  const std::size_t written = decode_into<Unit>(s, got.data(), capacity);
  ASSERT_EQ(got[capacity], Unit(0x55)) << label << ": wrote past its capacity";
  if (!want) {
    EXPECT_EQ(written, capacity + 1) << label;
    return;
  }
  ASSERT_EQ(written, want->size()) << label;
  for (std::size_t k = 0; k < written; ++k) ASSERT_EQ(char32_t(got[k]), (*want)[k]) << label << " at " << k;
  // The measure sizes the copy: exact length, and a largest byte that puts
  // the widest character in its class.
  const Measure m = measure(s);
  EXPECT_EQ(m.chars, want->size()) << label;
  char32_t widest = 0;
  for (char32_t c : *want) widest = std::max(widest, c);
  const char32_t bound = m.max_byte < 0x80 ? 0x7F : m.max_byte < 0xC4 ? 0xFF : m.max_byte < 0xF0 ? 0xFFFF : 0x10FFFF;
  const char32_t floor = m.max_byte < 0x80 ? 0 : m.max_byte < 0xC4 ? 0x80 : m.max_byte < 0xF0 ? 0x100 : 0x10000;
  EXPECT_LE(widest, bound) << label;
  EXPECT_GE(widest, floor) << label;
}

// Random texts of ASCII runs and characters of every width, some with a
// malformed byte (a stray continuation, a cut sequence, an overlong form, a
// surrogate, a byte no UTF-8 uses), decoded into every unit width.
TEST(DecodeInto, AgreesWithTheCharacterDecoder) {
  std::mt19937 rng(11);
  const std::vector<std::string> pieces = {"a", "plain text ", "\xC3\xA9", "\xC5\x93", "\xE2\x82\xAC", "\xEF\xBF\xBD",
                                           "\xF0\x9F\x98\x80", "\n", std::string(20, 'x')};
  const std::vector<std::string> faults = {"\x80", "\xC3", "\xE2\x82", "\xC0\xAF", "\xED\xA0\x80", "\xF5\x80\x80\x80",
                                           "\xFF"};
  for (int round = 0; round < 3000; ++round) {
    std::string s;
    const std::size_t count = rng() % 12;
    const bool faulty = rng() % 4 == 0;
    const std::size_t wide_limit = 1 + rng() % pieces.size();  // some texts stay narrow
    for (std::size_t k = 0; k < count; ++k) s += pieces[rng() % wide_limit];
    if (faulty) s.insert(rng() % (s.size() + 1), faults[rng() % faults.size()]);
    const std::string label = "round " + std::to_string(round);
    expect_agrees<std::uint8_t>(s, label);
    expect_agrees<std::uint16_t>(s, label);
    expect_agrees<std::uint32_t>(s, label);
  }
}

TEST(DecodeInto, StopsAtItsCapacity) {
  const std::string s(40, 'a');
  std::vector<std::uint16_t> out(41, 0x55);
  EXPECT_EQ(decode_into<std::uint16_t>(s, out.data(), 39), 40u);  // capacity + 1: needs more room
  EXPECT_EQ(out[39], 0x55);
  EXPECT_EQ(decode_into<std::uint16_t>(s, out.data(), 40), 40u);
}

}  // namespace
}  // namespace lumra::text::utf8
