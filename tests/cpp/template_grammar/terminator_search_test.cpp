// TerminatorSearch answers as std::string_view::find does, whatever the order
// of the questions: texts dense in the needle's bytes (overlapping
// occurrences such as `"""` in `""""`) and sparse ones (blocks without any
// occurrence), asked from every offset in random order, forwards, backwards
// and in runs.
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
    for (const std::size_t size : {0, 1, 5, 63, 64, 65, 200, 3000, 20000}) {
      const std::string text = random_text(rng, c.pieces, size);
      const std::string_view view(text);
      std::vector<std::uint32_t> from(size + 1);
      std::iota(from.begin(), from.end(), 0u);
      // In random order, forwards, backwards, forwards twice over (the
      // second pass finds nothing settled ahead but the far end), and in
      // forward runs that jump back now and then (as tries and failed
      // alternatives ask), on a fresh search each.
      std::vector<std::vector<std::uint32_t>> orders{from, from, from, from, {}};
      std::shuffle(orders[0].begin(), orders[0].end(), rng);
      std::reverse(orders[2].begin(), orders[2].end());
      orders[3].insert(orders[3].end(), from.begin(), from.end());
      std::uniform_int_distribution<std::uint32_t> start(0, static_cast<std::uint32_t>(size));
      std::uniform_int_distribution<std::uint32_t> step(1, 40);
      while (orders[4].size() < 2 * size + 2) {
        for (std::uint32_t p = start(rng), run = step(rng); p <= size && run > 0; p += step(rng), --run) {
          orders[4].push_back(p);
        }
      }
      for (const auto& order : orders) {
        TerminatorSearch search(c.needle);
        for (const std::uint32_t p : order) {
          const std::size_t want = view.find(c.needle, p);
          ASSERT_EQ(search.find(view, p), want == std::string_view::npos ? TerminatorSearch::kNone : want)
              << "needle " << c.needle << ", size " << size << ", from " << p;
        }
        // Each offset is searched at most twice (once past everything asked
        // before, once when settled), and a question reads at most twice
        // what it settles, plus a few blocks.
        EXPECT_LE(search.reads(), 4 * (size + 1) + 128 * order.size())
            << "needle " << c.needle << ", size " << size;
      }
    }
  }
}

}  // namespace
}  // namespace lumra::grammar::detail
