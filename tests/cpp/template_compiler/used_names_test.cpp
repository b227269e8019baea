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
// runs, then its own tokens. Some nodes leave names out of their range and of
// an attribute's tokens (a loop, a fill's binding: "file" leaves "ﬁle" out
// too); a short one is instead written out again after its range, skipped.
struct RandomRuns {
  explicit RandomRuns(unsigned seed) : random(seed) {}

  std::mt19937 random;
  tast::TokenStoreWriter writer;
  std::vector<SharedTokens> runs;  // children before their parents
  std::uint64_t position = 0;

  Token token() {
    static constexpr std::string_view kNames[] = {"a", "b", "c", "ﬁ", "fi", "x", "ﬁle", "file"};
    const std::string_view name = kNames[random() % std::size(kNames)];
    return Token{name, position, position + name.size(), {1, position++}};
  }
  void tokens(int count) {
    for (; count > 0; --count) writer.push_back(token());
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
    const int own = static_cast<int>(random() % 3 == 0 ? UsedNames::kShortRun + 4 : random() % 3);
    const unsigned kind = random() % 8;
    if (kind < 2 || kind == 3) {
      // Leaves one, two or many names out of the body and of an attribute.
      std::vector<Token> names;
      for (unsigned i = kind == 3 ? 12 : 1 + kind; i > 0; --i) names.push_back(token());
      const auto keys = writer.keep_keys(names);
      writer.leave_out(start.items, writer.mark().items, keys);
      const auto from = writer.mark().items;
      tokens(own);
      writer.leave_out(from, writer.mark().items, keys);
      tokens(static_cast<int>(random() % 2));
    } else if (kind == 2) {
      // Written out: the body's range is skipped, a filtered copy follows.
      const Token name = token();
      const tast::VariableKey left(name.content);
      std::vector<Token> copy;
      writer.run(start, writer.mark()).for_each([&](const Token& t) {
        if (tast::VariableKey(t.content).view() != left.view()) copy.push_back(t);
      });
      writer.skip(start.items, writer.mark().items);
      const auto list_start = writer.mark();
      writer.append(copy);
      tokens(own);
      runs.push_back(writer.run(list_start, writer.mark()));
      return;
    } else {
      tokens(own);
    }
    runs.push_back(writer.run(start, writer.mark()));
  }
};

TEST(UsedNames, NestedRunsGiveWhatTheirListsHold) {
  for (unsigned seed = 0; seed < 600; ++seed) {
    RandomRuns tree(seed);
    tree.node(6);
    UsedNames names;
    for (const SharedTokens& run : tree.runs) {
      // Some lists are never read (plain elements), so the runs around them meet theirs.
      if (seed % 2 == 1 && tree.random() % 3 == 0) continue;
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

// 45 runs opened together around 4000 uses of one store, closed from the
// innermost out as the test writes them.
struct Nest {
  static constexpr int kLevels = 45;
  static constexpr int kUses = 4000;

  explicit Nest(std::string (*name)(int)) {
    for (int i = 0; i < kLevels; ++i) starts.push_back(writer.mark());
    for (int i = 0; i < kUses; ++i) use(name(i));
  }
  Token token(std::string name) const { return Token{std::move(name), at, at + 1, {1, at}}; }
  void use(std::string name) {
    writer.push_back(token(std::move(name)));
    ++at;
  }
  SharedTokens run(int level) const { return writer.run(starts[level], writer.mark()); }

  tast::TokenStoreWriter writer;
  std::vector<tast::TokenStoreWriter::Mark> starts;
  std::uint64_t at = 0;
};

TEST(UsedNames, DeepLoopsAreReadOnce) {
  // Each loop over a name of its own, and using 40 names of its own.
  Nest nest([](int i) { return "v" + std::to_string(i % Nest::kLevels); });
  // The store is whole before it is read, as after a parse.
  std::vector<SharedTokens> runs;
  for (int level = Nest::kLevels - 1; level >= 0; --level) {
    const Token loop = nest.token("v" + std::to_string(level));
    nest.writer.leave_out(nest.starts[level].items, nest.writer.mark().items,
                          nest.writer.keep_keys(std::span(&loop, 1)));
    for (int i = 0; i < 40; ++i) nest.use("w" + std::to_string(level));
    runs.push_back(nest.run(level));
  }
  UsedNames names;
  for (const SharedTokens& run : runs) ASSERT_EQ(strings(names.of(run, nullptr)), read_whole(run, nullptr));
  EXPECT_EQ(names.of(nest.writer.run({}, nest.writer.mark()), nullptr).size(), std::size_t{Nest::kLevels});
  EXPECT_LE(names.tokens_read(), Nest::kUses + 40 * Nest::kLevels);
  EXPECT_LE(names.names_taken(), 2 * Nest::kLevels * Nest::kLevels);
}

TEST(UsedNames, DeepRunsAreReadOnce) {
  Nest nest([](int i) { return std::string(i % 2 ? "x" : "y"); });
  UsedNames names;
  for (int level = Nest::kLevels - 1; level >= 0; --level) {
    const Token own = nest.token("c");  // the level's own attribute
    nest.use("c");
    const UsedEdit edit{{own}, {own}};
    EXPECT_EQ(strings(names.of(nest.run(level), &edit)), (std::vector<std::string>{"y", "x", "c"}));
  }
  EXPECT_LE(names.tokens_read(), Nest::kUses + Nest::kLevels);
  EXPECT_LE(names.names_taken(), 3 * Nest::kLevels);
}

TEST(UsedNames, RunsThatDoNotNestAreReadTokenByToken) {
  tast::TokenStoreWriter writer;
  std::uint64_t at = 0;
  const auto write = [&](std::string_view name) {
    for (std::size_t i = 0; i < UsedNames::kShortRun; ++i, ++at) writer.push_back(Token{name, at, at + 1, {1, at}});
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
  EXPECT_EQ(names.tokens_read(), 4 * UsedNames::kShortRun);
  EXPECT_EQ(strings(names.of(writer.run(a, end), nullptr)), (std::vector<std::string>{"a", "b", "c"}));
  EXPECT_EQ(names.tokens_read(), 5 * UsedNames::kShortRun);
  EXPECT_TRUE(names.of(SharedTokens(), nullptr).empty());
}

}  // namespace
}  // namespace lumra::template_compiler
