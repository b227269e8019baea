#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <vector>

#include "template/compiler/python_backend.h"
#include "template/compiler/render_python.h"

namespace lumra::template_compiler {
namespace {

using V = std::vector<IrNode>;

std::string render(const IrNode& node) { return python_render_values(std::span<const IrNode>(&node, 1)).at(0); }

// The forms that generated templates rarely show; the rest is pinned by the
// exact sources of compiled templates.
TEST(RenderPython, Values) {
  IrArena arena;
  const IrArena::Scope scope(arena);
  V pair;
  pair.push_back(IrNode::raw("source"));
  pair.push_back(IrNode::tuple([] { V t; t.push_back(IrNode::integer(5)); return t; }()));
  const struct {
    IrNode node;
    std::string text;
  } cases[] = {
      {IrNode::str("a\\b\"c"), R"("""a\\b\"c""")"},
      {IrNode::str("\r\n"), "\"\"\"\\r\n\"\"\""},
      {IrNode::str(std::string("a\0b", 3)), R"("""a\x00b""")"},
      {IrNode::quoted("a\"b\\c\nd\re"), R"("a\"b\\c\nd\re")"},
      {IrNode::integer(std::numeric_limits<std::uint64_t>::max()), "18446744073709551615"},
      {IrNode::span(0, std::numeric_limits<std::uint64_t>::max()), "(0, 18446744073709551615,)"},
      {IrNode::call("IfNode", {}), "IfNode()"},
      {IrNode::list([] { V v; v.push_back(IrNode::list({})); return v; }()), "[[],]"},
      {IrNode::call("f", std::move(pair)), "f(source, (5,))"},
  };
  for (const auto& c : cases) EXPECT_EQ(render(c.node), c.text);
  V one;
  one.push_back(IrNode::str("<p>"));
  EXPECT_EQ(python_literal_list(one), R"(["""<p>""",])");
}

// Depth is counted as values are built; the renderer refuses what Python
// could not compile, whoever built it.
TEST(RenderPython, BracketDepth) {
  IrArena arena;
  const IrArena::Scope scope(arena);
  IrNode node = IrNode::integer(1);
  EXPECT_EQ(node.depth(), 0u);
  EXPECT_EQ(IrNode::span(1, 2).depth(), 1u);
  for (std::uint32_t d = 1; d < kMaxBracketDepth; ++d) {
    V v;
    v.push_back(std::move(node));
    node = (d % 3 == 0) ? IrNode::call("f", std::move(v)) : IrNode::tuple(std::move(v));
    ASSERT_EQ(node.depth(), d);
  }
  V fits;
  fits.push_back(node);
  auto ok = wrap_generate_template(std::move(fits));
  ASSERT_TRUE(std::holds_alternative<std::string>(ok));
  const std::string& text = std::get<std::string>(ok);
  // The body list and every level of the value: the deepest accepted source
  // (and the parentheses of "generate_template()").
  EXPECT_EQ(std::count(text.begin(), text.end(), '[') + std::count(text.begin(), text.end(), '('),
            kMaxBracketDepth + 1);

  V deeper;
  deeper.push_back(std::move(node));
  V too_deep;
  too_deep.push_back(IrNode::list(std::move(deeper)));
  auto refused = wrap_generate_template(std::move(too_deep));
  ASSERT_TRUE(std::holds_alternative<CompileError>(refused));
  EXPECT_EQ(std::get<CompileError>(refused).kind, CompileError::Kind::Value);
  EXPECT_NE(std::get<CompileError>(refused).message.find("nested too deeply"), std::string::npos);
}

}  // namespace
}  // namespace lumra::template_compiler
