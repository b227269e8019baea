// Robustness over mutated inputs: whatever the text, the parse finishes
// without an internal fault, reports errors inside the text with ordered
// ranges, never stalls (no progress-guard error), and gives well-nested
// ranges when it succeeds.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

#include "pyexpr/parser.h"

namespace lumra::pyexpr {
namespace {

// Small deterministic generator, so that a failure can be replayed.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t next() {
        state_ ^= state_ << 13;
        state_ ^= state_ >> 7;
        state_ ^= state_ << 17;
        return state_;
    }
    size_t below(size_t n) { return n == 0 ? 0 : static_cast<size_t>(next() % n); }

private:
    uint64_t state_;
};

const std::vector<std::string> kSeeds = {
    "a + b * c - d / e // f % g ** h @ i",
    "not a and b or c if d else e",
    "x < y <= z != w is not v in u not in t",
    "f(a, *b, c=1, **d)(e)[1:2, ::3].g",
    "[x for x in y if z] + {k: v for k, v in d} + {s async for s in t}",
    "(a, *b) + (c for c in d) + {**e, 'f': 1} + {1, 2}",
    "lambda a, /, b=1, *c, d, **e: (yield from a)",
    "f'{x!r:>{w}}' 'y' b'z' t'{q=}' rb'\\d' '\\N{BULLET}'",
    "(x := 1) and await y and -z and ~w and +v",
    "(\n  a  # comment\n  + b\n)",
    "match.case[type] if lambda: 0 else ...",
};
const std::vector<std::string> kPieces = {"(", ")", "[", "]", "{", "}", ",", ":", "**", "*", "=", ":=",
                                          "lambda ", "for ", " in ", "if ", "else ", "not ", "is ", "yield ",
                                          "await ", "async ", "f'", "'", "\"", "t'", "{x", "!r", "\\", "\n",
                                          "#", ".", "@", "$", "?", "\"\"\"", "0x", "1e", "\xc3\xa9", "\xff", "\r"};

std::string mutate(Rng& rng) {
    std::string text = kSeeds[rng.below(kSeeds.size())];
    const size_t edits = 1 + rng.below(6);
    for (size_t i = 0; i < edits; ++i) {
        const size_t pos = rng.below(text.size() + 1);
        switch (rng.below(3)) {
            case 0: text.insert(pos, kPieces[rng.below(kPieces.size())]); break;
            case 1: text.erase(pos, 1 + rng.below(3)); break;
            default: {
                const size_t from = rng.below(text.size() + 1);
                text.insert(pos, text.substr(from, 1 + rng.below(8)));
            }
        }
    }
    return text;
}

// Every child range lies inside its parent's.
void check_ranges(const Expr& e, TextRange outer, size_t size, int depth = 0) {
    const TextRange r = e.range();
    ASSERT_LE(r.end().raw, size);
    ASSERT_TRUE(outer.contains_range(r)) << r.to_string() << " outside " << outer.to_string();
    ASSERT_LE(depth, static_cast<int>(kMaxTreeHeight));
    for_each_child(e, [&](const Expr& child) { check_ranges(child, r, size, depth + 1); });
}

TEST(ParserMutations, NeverFaultsOrStalls) {
    Rng rng(0x5eed1234abcdULL);
    size_t accepted = 0;
    for (int i = 0; i < 30000; ++i) {
        const std::string text = mutate(rng);
        ExpressionParse parse;
        try {
            parse = parse_python_expression_full(text);
        } catch (const std::exception& fault) {
            FAIL() << "fault on " << testing::PrintToString(text) << ": " << fault.what();
        }
        for (const ParseError& error : parse.errors) {
            ASSERT_LE(error.location.end().raw, text.size()) << testing::PrintToString(text);
            ASSERT_EQ(error.to_string().find("no longer progressing"), std::string::npos)
                << testing::PrintToString(text);
        }
        if (parse.ok()) {
            ++accepted;
            check_ranges(parse.expr, TextRange(0, static_cast<uint32_t>(text.size())), text.size());
            if (HasFatalFailure()) FAIL() << testing::PrintToString(text);
        }
    }
    // The mutations keep a share of valid inputs, so both paths are exercised.
    EXPECT_GT(accepted, 1000u);
}

}  // namespace
}  // namespace lumra::pyexpr
