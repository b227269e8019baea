// The layout of the lists each level holds of its descendants: one store per
// parse and kind holds each item once, however many levels enclose it; what
// the lists read is tested through parse_template
// (tests/python/test_used_variables.py).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>

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

}  // namespace
}  // namespace lumra::template_parser
