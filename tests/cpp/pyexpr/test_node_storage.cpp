// Node storage: boxes draw on a per-thread cache of freed blocks, so trees that
// are built and dropped in any order, and on any thread, must never share one.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "pyexpr/ast.h"
#include "pyexpr/parser.h"

namespace lumra::pyexpr {
namespace {

const char* const kSources[] = {
    "a.b(c)[d:e:f] + g",
    "[x * 2 for x in range(10) if x % 3]",
    "lambda p, *q, r=1, **s: (p, q, r, s)",
    "f'{a!r:>{width}} and {b=}' 'tail'",
    "{k: v for k, v in items.items()} | {1, 2, 3}",
    "not a < b <= c is not None and (y := z) or -w ** 2",
};

struct Kept {
    Expr tree;
    std::string rendering;
};

Kept parse_kept(const char* source) {
    ExpressionResult parsed = parse_python_expression(source);
    EXPECT_TRUE(parsed.ok()) << source;
    Kept kept{parsed.ok() ? parsed.take_expr() : Expr(), {}};
    kept.rendering = debug_string(kept.tree);
    return kept;
}

// Every kept tree still renders as it did when it was made.
void expect_intact(const std::vector<Kept>& kept) {
    for (const Kept& k : kept) EXPECT_EQ(debug_string(k.tree), k.rendering);
}

TEST(NodeStorageTest, InterleavedBuildAndDropKeepTreesApart) {
    std::vector<Kept> kept;
    for (int round = 0; round < 50; ++round) {
        std::vector<Kept> doomed;
        for (const char* source : kSources) {
            doomed.push_back(parse_kept(source));
            kept.push_back(parse_kept(source));
        }
        // Copies take blocks freed a moment ago.
        Expr copy = kept[static_cast<size_t>(round) % kept.size()].tree;
        doomed.clear();
        Expr second_copy = copy;
        EXPECT_EQ(debug_string(second_copy), debug_string(copy));
        if (round % 7 == 0) kept.erase(kept.begin(), kept.begin() + 3);
    }
    expect_intact(kept);
}

TEST(NodeStorageTest, TreesMayBeDroppedOnAnotherThread) {
    std::vector<Kept> from_workers;
    std::vector<std::thread> workers;
    std::vector<std::vector<Kept>> made(4);
    for (size_t w = 0; w < made.size(); ++w) {
        workers.emplace_back([&made, w] {
            for (int i = 0; i < 20; ++i)
                for (const char* source : kSources) made[w].push_back(parse_kept(source));
        });
    }
    for (auto& t : workers) t.join();  // the workers' caches are gone with them
    for (auto& list : made)
        for (auto& k : list) from_workers.push_back(std::move(k));
    expect_intact(from_workers);

    // Dropped here, they feed this thread's cache; the next trees reuse it.
    std::vector<Kept> kept;
    for (size_t i = 0; i < from_workers.size(); ++i) {
        if (i % 2 == 0) kept.push_back(parse_kept(kSources[i % std::size(kSources)]));
    }
    from_workers.clear();
    for (const char* source : kSources) kept.push_back(parse_kept(source));
    expect_intact(kept);

    // And the other way round: made here, dropped on a worker.
    std::thread dropper([doomed = std::move(kept)]() mutable { doomed.clear(); });
    dropper.join();
    std::vector<Kept> after;
    for (const char* source : kSources) after.push_back(parse_kept(source));
    expect_intact(after);
}

}  // namespace
}  // namespace lumra::pyexpr
