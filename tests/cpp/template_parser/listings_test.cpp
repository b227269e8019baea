// The layout of the lists each level holds of its descendants: one store per
// parse and kind holds each item once, however many levels enclose it; what
// the lists read is tested through parse_template
// (tests/python/test_used_variables.py).
#include <gtest/gtest.h>

#include <memory>
#include <regex>
#include <string>
#include <variant>

#include "template/ast/list_equality.h"
#include "template/compiler/backend.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {
namespace {

using namespace template_ast;

Template parse_ok(const std::string& source) {
  ParserContext context{.user_rules = std::make_shared<const UserRules>(),
                        .backend = template_compiler::language_backend_for(0),
                        .source = TokenText(source)};
  ParseResult result = parse_template_text(context.source, context);
  if (const auto* error = std::get_if<TemplateParseError>(&result)) ADD_FAILURE() << error->text();
  return std::get<Template>(std::move(result));
}

TEST(Listings, EachItemIsStoredOnceUnderAnyNumberOfScopes) {
  constexpr int kUses = 300;
  for (const int depth : {1, 20, 200}) {
    for (const bool on_elements : {false, true}) {
      std::string source;
      for (int i = 0; i < depth; ++i) {
        source += on_elements ? "<p c-for=\"v" + std::to_string(i) + " in xs\">"
                              : "<c-for each=\"v" + std::to_string(i) + " in xs\">";
      }
      for (int i = 0; i < kUses; ++i) source += i % 2 ? "{{ x }}<!-- c -->" : "{{ v0 }}<c-slot name=\"s\"/>";
      for (int i = 0; i < depth; ++i) source += on_elements ? "</p>" : "</c-for>";
      const Template top = parse_ok(source);
      SCOPED_TRACE(source.substr(0, 40));

      // The uses, and each loop's iterable once; each comment and slot once.
      EXPECT_EQ(top.used_variables.stored_items(), static_cast<std::size_t>(kUses + depth));
      EXPECT_EQ(top.comments.stored_items(), static_cast<std::size_t>(kUses / 2));
      EXPECT_EQ(top.slots.stored_items(), static_cast<std::size_t>(kUses / 2));
      EXPECT_EQ(top.slots.size(), static_cast<std::size_t>(kUses / 2));
      // The x uses and every iterable reach the top; v0 is bound there.
      EXPECT_EQ(top.used_variables.size(), static_cast<std::size_t>(kUses / 2 + depth));
      const Node* node = top.elements.front().node();
      for (int level = 1; level < depth; ++level) {
        EXPECT_TRUE(node->used_variables().shares_store_with(top.used_variables)) << level;
        node = node->with_body()->body->elements.front().node();
      }
      const auto& innermost = node->with_body()->body->used_variables;
      EXPECT_TRUE(innermost.shares_store_with(top.used_variables));
      EXPECT_EQ(innermost.size(), static_cast<std::size_t>(kUses));
      // The innermost loop leaves out only its own name.
      EXPECT_EQ(node->used_variables().size(), static_cast<std::size_t>(kUses + 1) - (depth == 1 ? kUses / 2 : 0));
    }
  }
}

// Two trees parsed apart compare equal reading each stored item and record
// at most once, however deep: only short lists are read whole. A difference
// at the innermost level, or in a list written whole, is still found.
TEST(Listings, EqualityReadsEachStoredItemOnce) {
  const auto nest = [](int depth, const std::string& open, const std::string& inner, const std::string& close) {
    std::string out;
    for (int i = 0; i < depth; ++i) out += std::regex_replace(open, std::regex("#"), std::to_string(i));
    out += inner;
    for (int i = 0; i < depth; ++i) out += close;
    return out;
  };
  std::string uses;
  for (int i = 0; i < 300; ++i) uses += i % 3 ? "{{ x }}<!-- c -->" : "{{ v0 }}<c-slot name=\"s\"/>";
  const std::string few = "{{ v0 }}{{ x }}<!-- c -->";
  for (const int depth : {1, 20, 200}) {
    const std::string sources[] = {
        nest(depth, "<c-for each=\"v# in xs\">", uses, "</c-for>"),
        nest(depth, "<p c-for=\"v# in xs\" c-t=\"v#\">", uses, "</p>"),
        nest(depth, "<c-for each=\"v# in xs\">", few, "</c-for>"),
        nest(depth, "<div>", uses, "</div>"),
        nest(depth, "<c-card><c-fill name=\"s\" data=\"{ v# }\">", uses, "</c-fill></c-card>"),
    };
    for (const std::string& source : sources) {
      SCOPED_TRACE(source.substr(0, 60) + " depth " + std::to_string(depth));
      const Template a = parse_ok(source);
      const Template b = parse_ok(source);
      ListReads reads;
      EXPECT_TRUE(equal_trees(a, b, &reads));
      const std::size_t stored =
          a.used_variables.stored_items() + a.comments.stored_items() + a.slots.stored_items();
      // Items, plus at most two records per level (the body, an attribute
      // that reads the loop's names).
      EXPECT_LE(reads.stored, stored + 2 * static_cast<std::size_t>(depth));
      EXPECT_LE(reads.listed, 2 * 16 * reads.lists);

      // One name changed at the innermost level.
      const std::size_t at = source.rfind("{{ x }}");
      std::string other = source;
      other.replace(at, 7, "{{ y }}");
      const Template other_tree = parse_ok(other);
      EXPECT_FALSE(equal_trees(a, other_tree));
      // Equal elements, lists of another parse that differ in one item.
      Template mixed = a;
      mixed.used_variables = other_tree.used_variables;
      EXPECT_FALSE(equal_trees(mixed, b));
      // The same lists written whole compare by their items.
      Template whole = a;
      const SharedTokens flat = a.used_variables.flat();
      whole.used_variables = template_ast::List<Token>(flat.span().begin(), flat.span().end());
      EXPECT_TRUE(equal_trees(whole, b));
      whole.used_variables.mut().back().content = TokenText("z");
      EXPECT_FALSE(equal_trees(whole, b));
    }
  }
}

}  // namespace
}  // namespace lumra::template_parser
