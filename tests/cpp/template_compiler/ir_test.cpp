// The value tree's storage: nodes outlive the lists they were built from,
// texts merge whether or not they can grow in place, and large lists get
// blocks of their own.
#include <gtest/gtest.h>

#include <stdexcept>
#include <string>
#include <vector>

#include "template/compiler/ir.h"

namespace lumra::template_compiler {
namespace {

TEST(IrArena, FactoriesNeedAScopeAndScopesNest) {
  EXPECT_THROW(IrNode::str("x"), std::logic_error);
  EXPECT_EQ(IrNode::raw("source").text(), "source");  // static names need no storage
  IrArena outer;
  const IrArena::Scope outer_scope(outer);
  {
    IrArena inner;
    const IrArena::Scope inner_scope(inner);
    EXPECT_EQ(&IrArena::current(), &inner);
  }
  EXPECT_EQ(&IrArena::current(), &outer);
}

TEST(IrArena, TreesOutliveTheirBuildingListsAndTextsMerge) {
  IrArena arena;
  const IrArena::Scope scope(arena);
  IrNode tree = IrNode::integer(0);
  {
    std::vector<IrNode> items;
    std::string text = "head";
    IrNode grown = IrNode::str(text);
    IrNode quoted = IrNode::quoted("q");
    for (int i = 0; i < 3000; ++i) {
      // Other texts land between some of the merges: the text moves, whole.
      if (i % 7 == 0) items.push_back(IrNode::str(std::string(i % 50, 'x')));
      const std::string piece = std::to_string(i) + ",";
      grown.append_text(piece);
      quoted.append_text(piece);
      text += piece;
    }
    ASSERT_EQ(grown.text(), text);
    ASSERT_EQ(quoted.text(), "q" + text.substr(4));
    items.push_back(grown);
    items.push_back(IrNode::call("f", {}));
    // A list larger than a block: a block of its own, the open block kept.
    std::vector<IrNode> many(20000, IrNode::span(1, 2));
    items.push_back(IrNode::list(many));
    items.push_back(IrNode::str("after"));
    tree = IrNode::tuple(items);
  }
  const auto items = tree.items();
  ASSERT_EQ(items.size(), 3000 / 7 + 1 + 4);
  EXPECT_TRUE(items[items.size() - 4].text().starts_with("head0,1,2,"));
  EXPECT_TRUE(items[items.size() - 4].text().ends_with("2999,"));
  EXPECT_EQ(items[items.size() - 3].text(), "f");
  EXPECT_TRUE(items[items.size() - 3].items().empty());
  EXPECT_EQ(items[items.size() - 2].items().size(), 20000u);
  EXPECT_EQ(items[items.size() - 2].items().back().span_end(), 2u);
  EXPECT_EQ(items.back().text(), "after");
  EXPECT_EQ(tree.depth(), 3u);
  // Items made in place, in order, each free to build in the arena itself.
  const IrNode made = IrNode::tuple_of(3, [](std::size_t i) {
    return i == 1 ? IrNode::tuple_of(2, [](std::size_t j) { return IrNode::quoted(std::to_string(j)); })
                  : IrNode::integer(i);
  });
  ASSERT_EQ(made.items().size(), 3u);
  EXPECT_EQ(made.items()[2].number(), 2u);
  EXPECT_EQ(made.items()[1].items()[1].text(), "1");
  EXPECT_EQ(made.depth(), 2u);
  EXPECT_EQ(IrNode::tuple_of(0, [](std::size_t) { return IrNode::integer(0); }), IrNode::tuple({}));
  // Copies are views of the same storage and compare equal, deeply.
  const IrNode copy = tree;
  EXPECT_EQ(copy, tree);
}

// Blocks freed by one tree serve the next: nothing of the old tree shows.
TEST(IrArena, ReusedBlocksHoldOnlyTheNewTree) {
  for (int round = 0; round < 3; ++round) {
    IrArena arena;
    const IrArena::Scope scope(arena);
    std::vector<IrNode> items;
    for (int i = 0; i < 5000; ++i) items.push_back(IrNode::quoted(std::to_string(round * 10000 + i)));
    const IrNode list = IrNode::list(items);
    for (int i = 0; i < 5000; i += 499) EXPECT_EQ(list.items()[i].text(), std::to_string(round * 10000 + i));
  }
}

}  // namespace
}  // namespace lumra::template_compiler
