// Node validation where the parse_template tests do not look: the per-node
// name sets past their inline size, fills found through deep control flow,
// and broken invariants of the walk. Messages and the order of checks are
// tested through parse_template (tests/python/test_parse_validation.py).
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "template/compiler/backend.h"
#include "template/parser/validate.h"

namespace lumra::template_parser {
namespace {

using namespace template_ast;

ParserContext context_for(const std::string& source, UserRules rules = {}) {
  return ParserContext{.user_rules = std::make_shared<const UserRules>(std::move(rules)),
                       .backend = template_compiler::language_backend_for(0),
                       .source = template_ast::TokenText(source)};
}

// The parsed tree, or the error's message and start offset.
ParseResult parse(const std::string& source, UserRules rules, std::string* message, std::size_t* start) {
  ParserContext context = context_for(source, std::move(rules));
  ParseResult result = parse_template_text(context.source, context);
  if (const auto* error = std::get_if<TemplateParseError>(&result)) {
    *message = error->message();
    *start = error->grammar_error() ? error->grammar_error()->start() : std::string::npos;
  }
  return result;
}

// Many attributes move the per-node name sets to their hash form, at the
// boundary and well past it: a repeat is still found, distinct names pass.
TEST(Validate, ManyAttributes) {
  for (const int count : {16, 40}) {
    for (const int repeat : {-1, 0, count - 1}) {
      std::string source = "<div";
      for (int i = 0; i < count; ++i) source += " a" + std::to_string(i) + "=\"v\"";
      if (repeat >= 0) source += " a" + std::to_string(repeat) + "=\"w\"";
      source += "></div>";
      std::string message;
      std::size_t start = 0;
      (void)parse(source, {}, &message, &start);
      const std::string expected =
          repeat < 0 ? ""
                     : "Duplicate attribute 'a" + std::to_string(repeat) +
                           "' found. Each attribute name can only appear once (except 'c-bind').";
      EXPECT_EQ(message, expected) << count << " " << repeat;
      if (repeat >= 0) {
        EXPECT_EQ(start, source.rfind(" a") + 1);
      }
    }
  }
}

// A fill under many control-flow levels is found once, by its component; every
// level reports contains_fills.
TEST(Validate, DeepControlFlowFills) {
  constexpr int kDepth = 400;
  std::string source = "<c-card>";
  for (int i = 0; i < kDepth; ++i) source += "<c-for each=\"x" + std::to_string(i) + " in xs\">";
  source += "<c-fill name=\"zz\"></c-fill>";
  for (int i = 0; i < kDepth; ++i) source += "</c-for>";
  source += "</c-card>";
  UserRules rules;
  rules["c-card"].allowed_slots = std::vector<std::string>{"a"};
  std::string message;
  std::size_t start = 0;
  (void)parse(source, rules, &message, &start);
  EXPECT_EQ(message, "Tag '<c-card>' does not allow a slot named 'zz'.");
  EXPECT_EQ(start, source.find("<c-fill"));

  ParseResult accepted = parse(source, {}, &message, &start);
  ASSERT_TRUE(std::holds_alternative<Template>(accepted)) << message;
  const Node* node = std::get<Template>(accepted).elements.at(0).node();
  for (int level = 0; node && level <= kDepth; ++level) {
    EXPECT_TRUE(node->contains_fills()) << level;
    node = node->with_body()->body->elements.at(0).node();
  }
}

// What the walk must hand over: a body's checks with its node, and every
// control-flow tag filed through validation. Without them the node is refused
// with an internal error instead of being checked against wrong facts.
TEST(Validate, BrokenWalkInvariants) {
  const ParserContext context = context_for("<c-x><c-if cond=\"a\"></c-if><c-fill name=\"f\"/></c-x>");
  auto node = [](std::string name, bool with_body) {
    HtmlStartTag tag;
    tag.name.content = std::move(name);
    if (with_body) return Node(Node::WithBody{std::move(tag), {}, {}, {}, {}, {}, false});
    return Node(Node::SelfClosing{std::move(tag), {}, {}, {}, false});
  };
  Collector top;
  std::vector<OpenElement> none;
  Status error = validate_template(node("p", true), none, top, nullptr, context);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "Internal error: '<p>' has a body but reached validation without its body's checks");

  std::vector<OpenElement> stack(1);
  stack[0].start_tag.name.content = "c-x";
  stack[0].body.tmpl.elements.emplace_back(node("c-if", true));  // filed around validation
  Node fill = node("c-fill", false);
  HtmlAttr bind;
  bind.key.content = "c-bind";
  bind.inner_value = Token{"x", 0, 1, {1, 1}};
  bind.kind = HtmlAttrKind::Expression;
  fill.start_tag().attrs.push_back(std::move(bind));
  error = validate_template(std::move(fill), stack, stack[0].body, nullptr, context);
  ASSERT_TRUE(error);
  EXPECT_EQ(error->message(), "Internal error: '<c-if>' was filed without passing validation");
  EXPECT_TRUE(top.tmpl.elements.empty());
  EXPECT_EQ(stack[0].body.tmpl.elements.size(), 1u);
}

// Every token read from the text views into the one buffer of the input,
// nested templates and <c-fill> bindings included, and holds the bytes at its
// span. (Variables and expression comments come from the expression backend.)
TEST(Parse, TokensViewIntoTheInput) {
  const std::string source =
      "<c-card title=\"<b>{{ t }}</b>\">{# note #}<c-fill name=\"row\" data=\"{ id as key, **rest }\">"
      "<c-for each=\"r in rows\"><p class=\"{{ r.kind }}\">{{ r.name  # who }}</p></c-for></c-fill></c-card>"
      "<!-- plain -->tail";
  std::string message;
  std::size_t start = 0;
  ParseResult result = parse(source, {}, &message, &start);
  ASSERT_EQ(message, "");
  std::size_t shared = 0;
  const TokenText* first = nullptr;
  auto check = [&](const Token& token, bool from_text = true) {
    EXPECT_EQ(token.content, std::string_view(source).substr(token.start_index, token.end_index - token.start_index));
    if (!from_text || token.content.empty()) return;
    if (!first) first = &token.content;
    EXPECT_TRUE(token.content.shares_buffer_with(*first)) << token.content;
    ++shared;
  };
  std::vector<const Template*> pending{&std::get<Template>(result)};
  while (!pending.empty()) {
    const Template* t = pending.back();
    pending.pop_back();
    t->comments.for_each([&](const Comment& c) { check(c.token, false), check(c.value, false); });
    t->used_variables.for_each([&](const Token& used) { check(used, false); });
    for (const TemplateElement& element : t->elements) {
      if (const Node* node = element.node()) {
        const HtmlStartTag& tag = node->start_tag();
        check(tag.token), check(tag.name);
        for (const HtmlAttr& attr : tag.attrs) {
          check(attr.token), check(attr.key);
          if (attr.value) check(*attr.value), check(*attr.inner_value);
          if (attr.fill_data_pattern) {
            for (const FillDataField& f : attr.fill_data_pattern->fields) check(f.source), check(f.target);
          }
        }
        if (const auto* with_body = node->with_body()) pending.push_back(&*with_body->body);
      } else if (const Expr* expr = element.expr()) {
        check(expr->token), check(expr->value);
      } else {
        check(element.text()->token);
      }
    }
  }
  EXPECT_GT(shared, 30u);
}

}  // namespace
}  // namespace lumra::template_parser
