#include "text/byte_search.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace lumra::text {
namespace {

// Against std::string_view::find_first_of over every start offset of texts
// long enough to cross several 16-byte blocks, the wanted bytes placed
// anywhere, NUL and high bytes included.
TEST(FindFirstOfBytes, AgreesWithTheStandardSearch) {
  std::mt19937 rng(7);
  const std::string alphabet("ab<{\\\"\r\n\0\xff", 10);
  const std::string_view wanted("<{\0\xff", 4);
  for (int round = 0; round < 400; ++round) {
    std::string s(rng() % 70, 'a');
    const unsigned density = 1 + rng() % 40;  // one wanted byte in about `density`
    for (char& c : s) {
      if (rng() % density == 0) c = alphabet[rng() % alphabet.size()];
    }
    for (std::size_t from = 0; from <= s.size() + 1; ++from) {
      const std::size_t want = from > s.size() ? s.size() : std::min(std::string_view(s).find_first_of(wanted, from), s.size());
      ASSERT_EQ(find_first_of_bytes(s, from, '<', '{', '\0', '\xff'), want) << "round " << round << " from " << from;
    }
  }
}

TEST(FindFirstOfBytes, OneByteAndEmptyText) {
  EXPECT_EQ(find_first_of_bytes(std::string_view(), 0, 'x'), 0u);
  EXPECT_EQ(find_first_of_bytes(std::string(40, 'a') + "x", 3, 'x'), 40u);
  EXPECT_EQ(find_first_of_bytes(std::string(40, 'a'), 0, 'x'), 40u);
}

}  // namespace
}  // namespace lumra::text
