#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "template/compiler/compiler.h"
#include "template/compiler/lowering.h"
#include "template/compiler/render_python.h"

namespace lumra::template_compiler {
namespace {

tast::Token tok(std::string content) {
  const std::uint64_t n = content.size();
  return tast::Token{std::move(content), 0, n, {1, 1}};
}

tast::HtmlStartTag start(const std::string& name, std::vector<tast::HtmlAttr> attrs = {}) {
  return tast::HtmlStartTag{tok("<" + name + ">"), tok(name), std::move(attrs), false, {}};
}

tast::TemplateElement node(const std::string& name, std::vector<tast::TemplateElement> body,
                           std::vector<tast::HtmlAttr> attrs = {}) {
  tast::Node::WithBody n;
  n.start_tag = start(name, std::move(attrs));
  n.end_tag = tast::HtmlEndTag{tok("</" + name + ">"), tok(name), {}};
  tast::Template t;
  t.elements = std::move(body);
  n.body = tast::Body(std::move(t));
  return tast::Node(std::move(n));
}

tast::TemplateElement text(std::string s) { return tast::Text{tok(std::move(s))}; }

tast::HtmlAttr attr(std::string key, tast::HtmlAttrKind kind) {
  tast::HtmlAttr a;
  a.token = tok(key);
  a.key = tok(std::move(key));
  a.kind = kind;
  return a;
}

// `depth` levels of `name` around a text.
tast::Template nested(const std::string& name, std::size_t depth, std::vector<tast::HtmlAttr> attrs = {}) {
  std::vector<tast::TemplateElement> body{text("leaf")};
  for (std::size_t i = 0; i < depth; ++i) {
    std::vector<tast::TemplateElement> outer;
    outer.push_back(node(name, std::move(body), attrs));
    body = std::move(outer);
  }
  tast::Template t;
  t.elements = std::move(body);
  return t;
}

std::uint32_t depth_of(const std::vector<IrNode>& nodes) {
  std::uint32_t d = 0;
  for (const IrNode& n : nodes) d = std::max(d, n.depth());
  return d + 1;  // the body list
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

// Bodies that are lists of their own cost brackets; the bound is exact.
TEST(CompileWalk, NestingBoundIsTheBracketBound) {
  const struct {
    const char* name;
    std::vector<tast::HtmlAttr> attrs;
  } cases[] = {
      {"c-card", {}},
      {"c-slot", {}},
      {"c-if", {attr("cond", tast::HtmlAttrKind::Expression)}},
      {"div", {attr("c-for", tast::HtmlAttrKind::Expression)}},
  };
  for (const auto& c : cases) {
    std::size_t depth = 1;
    std::uint32_t last = 0;
    for (;; ++depth) {
      CompileResult r = compile_elements(nested(c.name, depth, c.attrs));
      if (auto* e = std::get_if<CompileError>(&r)) {
        EXPECT_EQ(e->kind, CompileError::Kind::Value);
        EXPECT_NE(e->message.find("nested too deeply"), std::string::npos) << e->message;
        break;
      }
      last = depth_of(std::get<std::vector<IrNode>>(r));
      ASSERT_LE(last, kMaxBracketDepth) << c.name;
    }
    EXPECT_GT(depth, 20u) << c.name;
    EXPECT_GT(last + 8, kMaxBracketDepth) << c.name;  // refused only near the bound
    // Far past the bound the refusal comes as early.
    EXPECT_TRUE(std::holds_alternative<CompileError>(compile_elements(nested(c.name, 100'000, c.attrs))));
  }
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

TEST(CompileWalk, StaticTextMergesAcrossElements) {
  std::vector<tast::TemplateElement> body;
  body.push_back(text("a"));
  body.push_back(node("c-raw", {text("{{ raw }}"), text("!")}));
  body.push_back(node("i", {text("b")}));
  tast::Template t;
  t.elements.push_back(node("p", std::move(body)));
  CompileResult r = compile_elements(t);
  ASSERT_TRUE(std::holds_alternative<std::vector<IrNode>>(r));
  EXPECT_EQ(python_literal_list(std::get<std::vector<IrNode>>(r)), R"(["""<p>a{{ raw }}!<i>b</i></p>""",])");
}

}  // namespace
}  // namespace lumra::template_compiler
