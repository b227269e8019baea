// The language backends' parse operations: what the Python backend reports for
// template expressions and <c-for> loop headers, positioned in the text it was
// given, and the fixed answers of the other four backends.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "template/compiler/backend.h"
#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {
namespace {

using template_ast::Token;

Token T(std::string content, std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t column) {
  return Token{std::move(content), start, end, {line, column}};
}

struct LoopCase {
  const char* each;
  template_ast::List<Token> loop_variables;
  template_ast::List<Token> used_variables;
};

TEST(PythonLoopHeader, BoundAndReadNamesInEachCoordinates) {
  const std::vector<LoopCase> cases = {
      {"item in items", {T("item", 0, 4, 1, 1)}, {T("items", 8, 13, 1, 9)}},
      {"i, (a, *rest) in pairs",
       {T("i", 0, 1, 1, 1), T("a", 4, 5, 1, 5), T("rest", 8, 12, 1, 9)},
       {T("pairs", 17, 22, 1, 18)}},
      // The first iterable is read before its clause binds anything.
      {"x in x", {T("x", 0, 1, 1, 1)}, {T("x", 5, 6, 1, 6)}},
      // A later iterable sees earlier clauses; a condition sees its own clause.
      {"x in range(3) for y in range(x) if x > y",
       {T("x", 0, 1, 1, 1), T("y", 18, 19, 1, 19)},
       {T("range", 5, 10, 1, 6), T("range", 23, 28, 1, 24)}},
      {"x in\nitems if\n y", {T("x", 0, 1, 1, 1)}, {T("items", 5, 10, 2, 1), T("y", 15, 16, 3, 2)}},
      // A comment at the end must not swallow the closing parenthesis.
      {"x in xs  # rows", {T("x", 0, 1, 1, 1)}, {T("xs", 5, 7, 1, 6)}},
      // Targets are bound under their normalised names, so a later reading of
      // the same name in another spelling is not a context variable.
      {"\xef\xac\x81le in files if \xef\xac\x81le", {T("\xef\xac\x81le", 0, 5, 1, 1)}, {T("files", 9, 14, 1, 8)}},
      // Columns count characters, offsets bytes; only LF ends a line.
      {"\xc3\xa9 in xs\r if y", {T("\xc3\xa9", 0, 2, 1, 1)}, {T("xs", 6, 8, 1, 6), T("y", 13, 14, 1, 13)}},
  };
  for (const auto& c : cases) {
    auto result = python_extract_loop_variables(c.each);
    ASSERT_TRUE(std::holds_alternative<LoopVariables>(result)) << c.each << ": " << std::get<std::string>(result);
    const auto& vars = std::get<LoopVariables>(result);
    EXPECT_EQ(vars.loop_variables, c.loop_variables) << c.each;
    EXPECT_EQ(vars.used_variables, c.used_variables) << c.each;
  }
}

TEST(PythonLoopHeader, RefusedHeaders) {
  const std::string target = "Invalid expression type in loop variable: expected variable name, tuple, or starred "
                             "expression, but found: ";
  const std::string comprehension = "Tag '<c-for>' 'each' attribute must be a comprehension expression (e.g., "
                                    "'target in iterable' or 'x in range(3) for y in range(2) if x > y').";
  const std::pair<const char*, std::string> cases[] = {
      {"[a, b] in pairs", target + "Discriminant(29)"},
      {"a.b in pairs", target + "Discriminant(25)"},
      {"d[k] in pairs", target + "Discriminant(26)"},
      {"x in xs for *a.b in ys", target + "Discriminant(25)"},
      {"() in items", "Tag '<c-for>' 'each' attribute: each 'for ... in ...' clause must have at least one loop "
                      "variable."},
      // An `each` that closes the header's own parenthesis is no comprehension where the text parses...
      {"x in a) + (b", comprehension}, {"x in a)(b", comprehension}, {"x in a), (b", comprehension},
      {"x in a) or (b", comprehension}, {"x in xs if x) * (y", comprehension},
      // ... and keeps the parser's message where it does not.
      {"x in a) for y in (b", "Parse error: Unexpected token at the end of an expression at byte range 8..11: 'for'"},
      // Parser errors come back in `each` coordinates, quoting `each`.
      {"items", "Parse error: Expected `in`, found `)` at byte range 6..7"},
      {"x in y + z z", "Parse error: Expected `)`, found name at byte range 11..12: 'z'"},
  };
  for (const auto& [each, message] : cases) {
    auto result = python_extract_loop_variables(each);
    ASSERT_TRUE(std::holds_alternative<std::string>(result)) << each;
    EXPECT_EQ(std::get<std::string>(result), message) << each;
  }
}

TEST(PythonExpression, NamesAndCommentsInTextCoordinates) {
  auto parsed = [](const char* text) { return std::get<ParsedExpression>(python_parse_expression(text)); };
  EXPECT_EQ(parsed("a + a").used_variables, (template_ast::List<Token>{T("a", 0, 1, 1, 1), T("a", 4, 5, 1, 5)}));
  EXPECT_EQ(parsed("(y := 1)").assigned_variables, template_ast::List<Token>{T("y", 1, 2, 1, 2)});
  // A lone CR does not end a line of the template.
  const auto cr = parsed("a\r+ b # c");
  EXPECT_EQ(cr.used_variables, (template_ast::List<Token>{T("a", 0, 1, 1, 1), T("b", 4, 5, 1, 5)}));
  EXPECT_EQ(cr.comments, (template_ast::List<template_ast::Comment>{{T("# c", 6, 9, 1, 7), T(" c", 7, 9, 1, 8)}}));
  EXPECT_EQ(std::get<std::string>(python_parse_expression("x +")).rfind("Parse error: ", 0), 0u);
  // Names and comments view into one copy of the text, targets as written too.
  EXPECT_TRUE(cr.used_variables[0].content.shares_buffer_with(cr.comments[0].value.content));
  const auto fi = parsed("(\xef\xac\x81 := a)");
  EXPECT_EQ(fi.assigned_variables, template_ast::List<Token>{T("\xef\xac\x81", 1, 4, 1, 2)});
  EXPECT_TRUE(fi.assigned_variables[0].content.shares_buffer_with(fi.used_variables[0].content));
}

TEST(LanguageBackends, UnimplementedLanguagesAnswerTheirMessages) {
  const std::string go = " Expressions use Expr or CEL-Go syntax, not raw Go code.";
  const std::string rust = " Expressions use CEL-Rust, fasteval, or evalexpr syntax, not raw Rust code.";
  const std::string na = " is not yet implemented";
  struct Case {
    std::vector<std::uint8_t> codes;
    std::string parse, loop, generate;
  };
  const Case cases[] = {
      {{1}, "PHP expression parsing" + na, "PHP foreach loop variable extraction" + na, "PHP code generation" + na},
      {{2}, "JavaScript/TypeScript expression parsing" + na, "JavaScript for-loop variable extraction" + na,
       "JavaScript code generation" + na},
      {{3}, "Go expression parsing" + na + "." + go, "Go for-loop variable extraction" + na + "." + go,
       "Go code generation" + na},
      {{4, 5, 255}, "Rust expression parsing" + na + "." + rust, "Rust for-loop variable extraction" + na + "." + rust,
       "Rust code generation" + na},
  };
  for (const auto& c : cases) {
    for (const std::uint8_t code : c.codes) {
      const auto backend = language_backend_for(code);
      const auto parsed = backend->parse_expression("x");
      const auto loop = backend->extract_loop_variables("x in xs");
      const auto generated = backend->generate_code({});
      ASSERT_TRUE(std::holds_alternative<std::string>(parsed) && std::holds_alternative<std::string>(loop) &&
                  std::holds_alternative<CompileError>(generated))
          << int(code);
      EXPECT_EQ(std::get<std::string>(parsed), c.parse);
      EXPECT_EQ(std::get<std::string>(loop), c.loop);
      EXPECT_EQ(std::get<CompileError>(generated).message, c.generate);
      EXPECT_EQ(std::get<CompileError>(generated).kind, CompileError::Kind::Value);
    }
  }
  const auto python = language_backend_for(0)->extract_loop_variables("x in xs");
  ASSERT_TRUE(std::holds_alternative<LoopVariables>(python));
  EXPECT_EQ(std::get<LoopVariables>(python).used_variables, template_ast::List<Token>{T("xs", 5, 7, 1, 6)});
}

}  // namespace
}  // namespace lumra::template_compiler
