#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "template/compiler/compiler.h"
#include "template/compiler/lowering.h"

namespace lumra::template_compiler {
namespace {

tast::Token tok(std::string content) {
  const std::uint64_t n = content.size();
  return tast::Token{std::move(content), 0, n, {1, 1}};
}

tast::TemplateElement node(const std::string& name, std::vector<tast::TemplateElement> body) {
  tast::Node::WithBody n;
  n.start_tag = tast::HtmlStartTag{tok("<" + name + ">"), tok(name), {}, false, {}};
  n.end_tag = tast::HtmlEndTag{tok("</" + name + ">"), tok(name), {}};
  tast::Template t;
  t.elements = std::move(body);
  n.body = tast::Body(std::move(t));
  return tast::Node(std::move(n));
}

tast::TemplateElement text(std::string s) { return tast::Text{tok(std::move(s))}; }

// `depth` levels of `name` around a text.
tast::Template nested(const std::string& name, std::size_t depth) {
  std::vector<tast::TemplateElement> body{text("leaf")};
  for (std::size_t i = 0; i < depth; ++i) {
    std::vector<tast::TemplateElement> outer;
    outer.push_back(node(name, std::move(body)));
    body = std::move(outer);
  }
  tast::Template t;
  t.elements = std::move(body);
  return t;
}

// Plain elements write into their parent's list: no depth at all, and no
// recursion either, however deep the tree.
TEST(CompileWalk, DeepPlainElementsMergeIntoOneText) {
  constexpr std::size_t kDepth = 200'000;
  CompileResult r = compile_elements(nested("b", kDepth));
  ASSERT_TRUE(std::holds_alternative<std::vector<IrNode>>(r));
  const auto& nodes = std::get<std::vector<IrNode>>(r);
  ASSERT_EQ(nodes.size(), 1u);
  std::string expected;
  for (std::size_t i = 0; i < kDepth; ++i) expected += "<b>";
  expected += "leaf";
  for (std::size_t i = 0; i < kDepth; ++i) expected += "</b>";
  EXPECT_TRUE(nodes[0].text() == expected);
}

TEST(CompileWalk, ChainMembersGatherEveryBlankRun) {
  const tast::TemplateElement els[] = {text(" "), text("\n"), node("c-elif", {}), text("\n"), node("c-else", {}),
                                       text(" "), text("\n"), node("p", {}), text("x"), node("c-empty", {})};
  const tast::Text* t[10] = {};
  const tast::Node* n[10] = {};
  std::vector<StreamItem> items;
  for (std::size_t i = 0; i < std::size(els); ++i) {
    t[i] = els[i].text();
    n[i] = els[i].node();
    items.push_back(StreamItem{n[i], nullptr, t[i]});
  }
  const ControlGroup& ifs = *control_group_of("c-if");
  const ControlGroup& fors = *control_group_of("c-for");
  const struct {
    std::size_t from;
    const ControlGroup& group;
    std::vector<const tast::Node*> members;
    std::size_t held_from, held_to;
  } cases[] = {
      {0, ifs, {n[2], n[4]}, 5, 7},  // two texts before the first member, two after the last
      {5, ifs, {}, 5, 7},            // blank texts and then a paragraph
      {8, ifs, {}, 8, 8},            // a text that is not blank ends the group at once
      {8, fors, {}, 8, 8},
      {9, fors, {n[9]}, 10, 10},
      {0, fors, {}, 0, 2},
  };
  for (const auto& c : cases) {
    std::size_t next = c.from;
    std::vector<const tast::Node*> members;
    auto [held_from, held_to] = collect_chain_members(items, next, c.group, members);
    EXPECT_EQ(members, c.members) << c.from;
    EXPECT_EQ(held_from, c.held_from) << c.from;
    EXPECT_EQ(held_to, c.held_to) << c.from;
    EXPECT_EQ(next, c.held_to) << c.from;
  }
}

}  // namespace
}  // namespace lumra::template_compiler
