// The used names of nested runs of one store: the same names, in the same
// order, as reading each list whole, with or without an edit, and each token
// read about once however deep the runs nest.
#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <string_view>
#include <vector>

#include "template/compiler/lowering.h"

namespace lumra::template_compiler {
namespace {

using tast::SharedTokens;
using tast::Token;

std::vector<std::string> read_whole(const SharedTokens& tokens, const UsedEdit* edit) {
  std::vector<std::string> names;
  const auto add = [&](const Token& t) {
    if (std::find(names.begin(), names.end(), t.content.view()) == names.end()) names.push_back(t.content.str());
  };
  tokens.for_each([&](const Token& t) {
    if (edit == nullptr || std::find(edit->removed.begin(), edit->removed.end(), t) == edit->removed.end()) add(t);
  });
  if (edit != nullptr) std::for_each(edit->appended.begin(), edit->appended.end(), add);
  return names;
}

std::vector<std::string> strings(std::span<const std::string_view> views) { return {views.begin(), views.end()}; }

// Runs written as a parse writes them: a node's run holds its children's
// runs, then its own tokens; some nodes leave a name out of their range.
struct RandomRuns {
  explicit RandomRuns(unsigned seed) : random(seed) {}

  std::mt19937 random;
  tast::TokenStoreWriter writer;
  std::vector<SharedTokens> runs;  // children before their parents
  std::uint64_t position = 0;

  Token token() {
    static constexpr std::string_view kNames[] = {"a", "b", "c", "ﬁ", "fi", "x"};
    const std::string_view name = kNames[random() % std::size(kNames)];
    return Token{name, position, position + name.size(), {1, position++}};
  }
  void node(int depth) {
    const auto start = writer.mark();
    for (int i = depth > 0 ? static_cast<int>(random() % 4) : 0; i > 0; --i) {
      if (random() % 3 == 0) {
        writer.push_back(token());
      } else {
        node(depth - 1);
      }
    }
    // Some runs long enough to be kept for the runs around them.
    for (int i = static_cast<int>(random() % 3 == 0 ? 20 : random() % 3); i > 0; --i) writer.push_back(token());
    if (random() % 8 == 0) {
      const Token name = token();
      writer.leave_out(start.items, writer.mark().items, writer.keep_keys(std::span(&name, 1)));
    }
    runs.push_back(writer.run(start, writer.mark()));
  }
};

TEST(UsedNames, NestedRunsGiveWhatTheirListsHold) {
  for (unsigned seed = 0; seed < 300; ++seed) {
    RandomRuns tree(seed);
    tree.node(6);
    UsedNames names;
    for (const SharedTokens& run : tree.runs) {
      // An attribute moved out: some tokens of the list (own or a child's) removed, then appended.
      UsedEdit edit;
      std::vector<Token> all;
      run.for_each([&](const Token& t) { all.push_back(t); });
      for (const Token& t : all) {
        if (tree.random() % 5 == 0) edit.removed.push_back(t);
      }
      edit.appended = edit.removed;
      if (tree.random() % 2 == 0) edit.appended.push_back(tree.token());
      const bool edited = tree.random() % 3 == 0;
      ASSERT_EQ(strings(names.of(run, edited ? &edit : nullptr)), read_whole(run, edited ? &edit : nullptr))
          << "seed " << seed;
    }
  }
}

TEST(UsedNames, DeepRunsAreReadOnce) {
  constexpr int kLevels = 45;
  constexpr int kUses = 4000;
  tast::TokenStoreWriter writer;
  std::vector<tast::TokenStoreWriter::Mark> starts;
  for (int i = 0; i < kLevels; ++i) starts.push_back(writer.mark());
  std::uint64_t at = 0;
  for (int i = 0; i < kUses; ++i, ++at) writer.push_back(Token{i % 2 ? "x" : "y", at, at + 1, {1, at}});
  UsedNames names;
  for (int level = kLevels - 1; level >= 0; --level) {
    writer.push_back(Token{"c", at, at + 1, {1, at}});  // the level's own attribute
    const UsedEdit edit{{Token{"c", at, at + 1, {1, at}}}, {Token{"c", at, at + 1, {1, at}}}};
    ++at;
    const SharedTokens run = writer.run(starts[level], writer.mark());
    EXPECT_EQ(strings(names.of(run, &edit)), (std::vector<std::string>{"y", "x", "c"}));
  }
  EXPECT_LE(names.tokens_read(), kUses + kLevels);
  EXPECT_LE(names.names_taken(), 3 * kLevels);
}

TEST(UsedNames, RunsThatDoNotNestAreReadTokenByToken) {
  tast::TokenStoreWriter writer;
  std::uint64_t at = 0;
  const auto write = [&](std::string_view name) {
    for (int i = 0; i < 20; ++i, ++at) writer.push_back(Token{name, at, at + 1, {1, at}});
    return writer.mark();
  };
  const auto a = writer.mark();
  const auto b = write("a");
  const auto c = write("b");
  const auto end = write("c");
  UsedNames names;
  // [b, c] first, then [a, b] which it overlaps, then a list of all three.
  EXPECT_EQ(strings(names.of(writer.run(b, end), nullptr)), (std::vector<std::string>{"b", "c"}));
  EXPECT_EQ(strings(names.of(writer.run(a, c), nullptr)), (std::vector<std::string>{"a", "b"}));
  EXPECT_EQ(names.tokens_read(), 80u);
  EXPECT_EQ(strings(names.of(writer.run(a, end), nullptr)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(names.tokens_read(), 100u);
  EXPECT_TRUE(names.of(SharedTokens(), nullptr).empty());
}

}  // namespace
}  // namespace lumra::template_compiler
