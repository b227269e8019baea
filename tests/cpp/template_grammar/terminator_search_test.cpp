// TerminatorSearch answers as std::string_view::find does, whatever the order
// of the questions: texts dense in the needle's bytes (overlapping
// occurrences such as `"""` in `""""`) and sparse ones (blocks without any
// occurrence), asked from every offset in random order, forwards and
// backwards.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <numeric>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "template/grammar/peg_runtime.h"

namespace lumra::grammar::detail {
namespace {

// Pieces drawn at random up to `size` bytes.
std::string random_text(std::mt19937& rng, const std::vector<std::string>& pieces, std::size_t size) {
  std::uniform_int_distribution<std::size_t> pick(0, pieces.size() - 1);
  std::string out;
  while (out.size() < size) out += pieces[pick(rng)];
  out.resize(size);
  return out;
}

TEST(TerminatorSearch, AgreesWithFindInAnyOrder) {
  const std::string gap(150, 'a');
  struct Case {
    std::string_view needle;
    std::vector<std::string> pieces;
  };
  const Case cases[] = {
      {"\"", {"\"", "a", "ab"}},
      {"\"", {"\"", gap}},
      {"#}", {"#", "}", "{", " ", "#}#}"}},
      {"-->", {"-", ">", "-->", "--", " "}},
      {"\"\"\"", {"\"", "\"\"", "\"\"\"\"", "x"}},
      {"'''", {"'"}},
      {"</c-raw", {"</c-raw", "</c-ra", "<", " ", "</c-raw</c-raw"}},
      {"</c-raw", {"</c-raw", gap, "</c-ra"}},
  };
  std::mt19937 rng(314);
  for (const Case& c : cases) {
    for (const std::size_t size : {0, 1, 5, 63, 64, 65, 200, 3000}) {
      const std::string text = random_text(rng, c.pieces, size);
      const std::string_view view(text);
      std::vector<std::uint32_t> from(size + 1);
      std::iota(from.begin(), from.end(), 0u);
      // In random order, then forwards, then backwards, on a fresh search each.
      std::vector<std::vector<std::uint32_t>> orders{from, from, from};
      std::shuffle(orders[0].begin(), orders[0].end(), rng);
      std::reverse(orders[2].begin(), orders[2].end());
      for (const auto& order : orders) {
        TerminatorSearch search(c.needle);
        for (const std::uint32_t p : order) {
          const std::size_t want = view.find(c.needle, p);
          ASSERT_EQ(search.find(view, p), want == std::string_view::npos ? TerminatorSearch::kNone : want)
              << "needle " << c.needle << ", size " << size << ", from " << p;
        }
      }
    }
  }
}

}  // namespace
}  // namespace lumra::grammar::detail
