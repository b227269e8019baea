// Variable scopes over hand-built trees: the used variables of nodes, bodies
// and templates, and the binding checks (double definition, shadowing of the
// context variables, of enclosing bindings and inside nested templates).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "template/parser/scopes.h"

namespace lumra::template_parser {
namespace {

using namespace template_ast;

// Tokens are told apart by where they start.
Token var(std::string name, std::uint64_t at) {
  const std::uint64_t end = at + name.size();
  return Token{std::move(name), at, end, {1, at + 1}};
}

HtmlAttr attr(std::string key, std::vector<Token> used, std::uint64_t at = 0) {
  HtmlAttr a;
  a.key = Token{std::move(key), at, at, {1, 1}};
  a.token = Token{"", at, at + 1, {1, 1}};
  a.used_variables = std::move(used);
  return a;
}

TemplateElement expr(std::vector<Token> used) {
  Expr e;
  e.used_variables = std::move(used);
  return e;
}

TemplateElement node(std::string name, std::vector<HtmlAttr> attrs, std::vector<Token> introduced,
                     std::vector<TemplateElement> body) {
  Node::WithBody n;
  n.start_tag.name.content = std::move(name);
  n.start_tag.attrs = std::move(attrs);
  n.introduced_variables = std::move(introduced);
  Template t;
  t.elements = std::move(body);
  n.body = Body(std::move(t));
  return Node(std::move(n));
}

TemplateElement leaf(std::string name, std::vector<HtmlAttr> attrs, std::vector<Token> introduced) {
  Node::SelfClosing n;
  n.start_tag.name.content = std::move(name);
  n.start_tag.attrs = std::move(attrs);
  n.introduced_variables = std::move(introduced);
  return Node(std::move(n));
}

std::vector<std::uint64_t> starts(const std::vector<Token>& tokens) {
  std::vector<std::uint64_t> out;
  for (const Token& t : tokens) out.push_back(t.start_index);
  return out;
}

struct Scope {
  ParserContext context;
  Scope() {
    context.source = std::make_shared<const std::string>(std::string(200, ' '));
    context.user_rules = std::make_shared<UserRules>();
  }
};

TEST(UsedVariables, Table) {
  const struct {
    const char* what;
    std::vector<TemplateElement> elements;
    std::vector<std::uint64_t> top;
    std::vector<std::uint64_t> first_node;
  } cases[] = {
      {"duplicates are kept", {expr({var("x", 1)}), expr({var("x", 2)})}, {1, 2}, {}},
      {"a loop's body leaves out its variables; attributes follow the body",
       {node("c-for", {attr("each", {var("items", 3)})}, {var("item", 4)},
             {expr({var("item", 5), var("other", 6)})})},
       {6, 3},
       {6, 3}},
      {"NFKC names: 'ﬁle' binds 'file'",
       {node("c-for", {}, {var("\xEF\xAC\x81le", 4)}, {expr({var("file", 5), var("files", 6)})})},
       {6},
       {6}},
      {"a loop on an element: its other attributes may read the loop variable, control flow may not",
       {node("li", {attr("c-for", {var("xs", 1)}), attr("class", {var("x", 2), var("y", 3)}), attr("c-if", {var("x", 4)})},
             {var("x", 9)}, {expr({var("x", 5)})})},
       {1, 3, 4},
       {1, 3, 4}},
      {"the same without a c-for attribute keeps every attribute whole",
       {node("li", {attr("class", {var("x", 2)})}, {var("x", 9)}, {expr({var("x", 5)})})},
       {2},
       {2}},
      {"a self-closing loop element",
       {leaf("input", {attr("c-for", {var("xs", 1)}), attr("value", {var("x", 2)}), attr("c-else", {var("x", 3)})},
             {var("x", 9)})},
       {1, 3},
       {1, 3}},
      {"c-fill with a c-for attribute is not a loop on an element",
       {node("c-fill", {attr("c-for", {var("xs", 1)}), attr("class", {var("d", 2)})}, {var("d", 9)},
             {expr({var("d", 5)})})},
       {1, 2},
       {1, 2}},
      {"nested bodies accumulate in element order",
       {expr({var("a", 1)}), node("div", {attr("title", {var("t", 2)})}, {},
                                  {node("p", {}, {}, {expr({var("b", 3)})}), expr({var("c", 4)})}),
        expr({var("d", 5)})},
       {1, 3, 4, 2, 5},
       {3, 4, 2}},
  };
  for (const auto& c : cases) {
    Template t;
    t.elements = c.elements;
    Scope scope;
    // The lists are computed before the binding check, which some of these
    // trees fail (a loop variable read by a control-flow attribute is in use).
    (void)resolve_scopes(t, scope.context);
    EXPECT_EQ(starts(t.used_variables), c.top) << c.what;
    for (const auto& element : t.elements) {
      if (const Node* n = element.node()) {
        EXPECT_EQ(starts(n->used_variables()), c.first_node) << c.what;
        if (const auto* wb = n->with_body()) {
          // The body lists what its elements use, before any exclusion.
          std::vector<std::uint64_t> body;
          for (const auto& inner : wb->body->elements) {
            if (const Expr* e = inner.expr()) {
              for (auto s : starts(e->used_variables)) body.push_back(s);
            } else if (const Node* m = inner.node()) {
              for (auto s : starts(m->used_variables())) body.push_back(s);
            }
          }
          EXPECT_EQ(starts(wb->body->used_variables), body) << c.what;
        }
        break;
      }
    }
  }
}

TEST(BindingChecks, Table) {
  const std::string taken = "Cannot define variable '{}' in {} - variable name is already taken. Variable shadowing is "
                            "not allowed, use a different name.";
  const auto taken_in = [&](const std::string& name, const std::string& where) {
    std::string m = taken;
    m.replace(m.find("{}"), 2, name);
    m.replace(m.find("{}"), 2, where);
    return m;
  };
  const struct {
    const char* what;
    std::vector<TemplateElement> elements;
    // Registry entries: attribute start -> introduced tokens.
    std::vector<std::pair<std::uint64_t, std::vector<Token>>> nested;
    std::string message;  // empty: accepted
    std::uint64_t at;
  } cases[] = {
      {"twice in one binding",
       {node("c-for", {}, {var("a", 10), var("b", 12), var("a", 14)}, {})},
       {},
       "Cannot define variable 'a' more than once in tag '<c-for>'. Use a distinct name for each binding.",
       14},
      {"twice by NFKC", {node("c-for", {}, {var("\xEF\xAC\x81", 10), var("fi", 14)}, {})}, {},
       "Cannot define variable 'fi' more than once in tag '<c-for>'. Use a distinct name for each binding.", 14},
      {"a context variable", {expr({var("item", 1)}), node("c-for", {}, {var("item", 20)}, {})}, {},
       taken_in("item", "tag '<c-for>'"), 20},
      {"a context variable read later, inside the loop's sibling",
       {node("c-fill", {}, {var("\xEF\xAC\x81le", 20)}, {}), expr({var("file", 30)})}, {},
       taken_in("\xEF\xAC\x81le", "tag '<c-fill>'"), 20},
      {"an enclosing binding",
       {node("c-for", {}, {var("x", 10)}, {node("div", {}, {}, {node("c-for", {}, {var("x", 40)}, {})})})}, {},
       taken_in("x", "tag '<c-for>'"), 40},
      {"siblings may reuse a name",
       {node("c-for", {}, {var("x", 10)}, {}), node("c-for", {}, {var("x", 40)}, {node("c-for", {}, {var("y", 50)}, {})}),
        node("c-for", {}, {var("y", 60)}, {})},
       {}, "", 0},
      {"a nested template inside a loop",
       {node("c-for", {}, {var("item", 10)}, {node("div", {attr("c-x", {}, 30)}, {}, {})})},
       {{30, {var("item", 33)}}},
       taken_in("item", "nested template attribute"), 33},
      {"a nested template shadowing a context variable",
       {expr({var("v", 1)}), leaf("div", {attr("c-x", {}, 30)}, {})}, {{30, {var("w", 32), var("v", 34)}}},
       taken_in("v", "nested template attribute"), 34},
      {"a loop on an element: its other attributes see the loop variable",
       {node("li", {attr("c-for", {}, 20), attr("c-x", {}, 30)}, {var("x", 25)}, {})}, {{30, {var("x", 33)}}},
       taken_in("x", "nested template attribute"), 33},
      {"... its control-flow attributes do not",
       {node("li", {attr("c-for", {}, 20), attr("c-if", {}, 30)}, {var("x", 25)}, {})}, {{30, {var("x", 33)}}}, "",
       0},
  };
  for (const auto& c : cases) {
    Template t;
    t.elements = c.elements;
    Scope scope;
    for (const auto& [at, tokens] : c.nested) (*scope.context.attribute_variables)[{at, at + 1}] = tokens;
    const Status result = resolve_scopes(t, scope.context);
    if (c.message.empty()) {
      EXPECT_FALSE(result) << c.what << ": " << (result ? result->message() : "");
      continue;
    }
    ASSERT_TRUE(result) << c.what;
    EXPECT_EQ(result->message(), c.message) << c.what;
    ASSERT_NE(result->grammar_error(), nullptr) << c.what;
    EXPECT_EQ(result->grammar_error()->start(), c.at) << c.what;
  }
}

}  // namespace
}  // namespace lumra::template_parser
