// transform_expression end to end over the parser: positions of names and
// comments in the caller's text, and the error paths.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pyexpr/line_index.h"
#include "safe_eval/transform.h"
#include "tree_support.h"

namespace lumra::safe_eval {
namespace {

ExprToken T(std::string content, std::uint64_t start, std::uint64_t end, std::uint64_t line, std::uint64_t column) {
    return ExprToken{std::move(content), start, end, line, column};
}

struct NamesCase {
    const char* source;
    std::vector<ExprToken> used;
    std::vector<ExprToken> assigned;
};

TEST(Transform, NamesInTheCallersCoordinates) {
    const std::vector<NamesCase> cases = {
        {"x", {T("x", 0, 1, 1, 1)}, {}},
        {"a + a", {T("a", 0, 1, 1, 1), T("a", 4, 5, 1, 5)}, {}},
        {"a +\n  bb", {T("a", 0, 1, 1, 1), T("bb", 6, 8, 2, 3)}, {}},
        {"a +\r\n  bb", {T("a", 0, 1, 1, 1), T("bb", 7, 9, 2, 3)}, {}},
        {"a +\r  bb", {T("a", 0, 1, 1, 1), T("bb", 6, 8, 2, 3)}, {}},
        // Columns count characters, offsets bytes.
        {"\xc3\xa9 + b", {T("\xc3\xa9", 0, 2, 1, 1), T("b", 5, 6, 1, 5)}, {}},
        // The content is the text as written, not the normalised name.
        {"\xef\xac\x81", {T("\xef\xac\x81", 0, 3, 1, 1)}, {}},
        // Sorted by position, not by walk order.
        {"[y for x in xs]", {T("y", 1, 2, 1, 2), T("xs", 12, 14, 1, 13)}, {}},
        {"x if y else z", {T("x", 0, 1, 1, 1), T("y", 5, 6, 1, 6), T("z", 12, 13, 1, 13)}, {}},
        {"(y := 1) + y", {T("y", 11, 12, 1, 12)}, {T("y", 1, 2, 1, 2)}},
        {"[(a := b) for c in d] and (e := a)", {T("b", 7, 8, 1, 8), T("d", 19, 20, 1, 20), T("a", 32, 33, 1, 33)},
         {T("a", 2, 3, 1, 3), T("e", 27, 28, 1, 28)}},
        {"lambda x: x + my_var", {T("my_var", 14, 20, 1, 15)}, {}},
        {"[x for x in x]", {T("x", 12, 13, 1, 13)}, {}},
        // A name that is not a target may be assigned in the first iterable.
        {"[x for x in (y := x)]", {T("x", 18, 19, 1, 19)}, {T("y", 13, 14, 1, 14)}},
        // A name bound again in an inner scope stays bound until its outer binder
        // ends, and is free again after that.
        {"[[x for x in a] + [x] for x in b] + [x]", {T("a", 13, 14, 1, 14), T("b", 31, 32, 1, 32), T("x", 37, 38, 1, 38)},
         {}},
        {"[(lambda y: y) + y for y in z] + y", {T("z", 28, 29, 1, 29), T("y", 33, 34, 1, 34)}, {}},
        {"[[y for y in x] for x in x]", {T("x", 25, 26, 1, 26)}, {}},
        {"[x for x in y] + (x := 1)", {T("y", 12, 13, 1, 13)}, {T("x", 18, 19, 1, 19)}},
        {"1 + 'a'", {}, {}},
    };
    for (const auto& c : cases) {
        auto result = transform_expression(c.source);
        ASSERT_TRUE(result.ok()) << c.source << ": " << result.error();
        EXPECT_EQ(result.value().used_variables, c.used) << c.source;
        EXPECT_EQ(result.value().assigned_variables, c.assigned) << c.source;
    }
}

// Many names on long lines, some with non-ASCII text before them: every
// position agrees with the line index's, which counts each one afresh.
TEST(Transform, PositionsOfManyNamesAgreeWithTheLineIndex) {
    std::string source = "f(";
    for (int i = 0; i < 600; ++i) {
        source += i % 7 == 0 ? "'\xc3\xa9', " : "";
        source += "n" + std::to_string(i % 50) + (i % 97 == 0 ? ",\n" : i % 131 == 0 ? ",\r\n" : ", ");
    }
    source += "n)";
    auto result = transform_expression(source);
    ASSERT_TRUE(result.ok()) << result.error();
    const auto& used = result.value().used_variables;
    ASSERT_EQ(used.size(), 602u);  // f, 600 names and the last one
    const auto index = pyexpr::line_index_from_source(source);
    for (const ExprToken& token : used) {
        const auto want = index.line_column(pyexpr::TextSize(static_cast<std::uint32_t>(token.start_index)), source);
        ASSERT_EQ(token.line, want.line) << token.content << " at " << token.start_index;
        ASSERT_EQ(token.column, want.column) << token.content << " at " << token.start_index;
    }
}

struct CommentsCase {
    const char* source;
    std::vector<ExprComment> comments;
};

TEST(Transform, Comments) {
    const std::vector<CommentsCase> cases = {
        {"x", {}},
        // The last line's comment ends at the line feed the wrapping adds.
        {"x # note", {{T("# note", 2, 8, 1, 3), T(" note", 3, 8, 1, 4)}}},
        {"\"a # b\"", {}},
        {"'''a ' # '''", {}},
        {"'\\'' # c", {{T("# c", 5, 8, 1, 6), T(" c", 6, 8, 1, 7)}}},
        {"(a  # one\n + b)#two", {{T("# one", 4, 9, 1, 5), T(" one", 5, 9, 1, 6)}, {T("#two", 15, 19, 2, 6), T("two", 16, 19, 2, 7)}}},
        {"a #\r\n+ b", {{T("#", 2, 3, 1, 3), T("", 3, 3, 1, 4)}}},
        {"\xc3\xa9 # \xc3\xa9", {{T("# \xc3\xa9", 3, 7, 1, 3), T(" \xc3\xa9", 4, 7, 1, 4)}}},
    };
    for (const auto& c : cases) {
        auto result = transform_expression(c.source);
        ASSERT_TRUE(result.ok()) << c.source << ": " << result.error();
        EXPECT_EQ(result.value().comments, c.comments) << c.source;
    }
}

TEST(Transform, RewritesTheTree) {
    auto result = transform_expression("obj.attr(k=v)");
    ASSERT_TRUE(result.ok()) << result.error();
    EXPECT_EQ(testing::print(result.value().expression),
              "call(context, source, (0, 13), attribute(context, source, (0, 8), variable(context, source, (0, 3), "
              "'obj'), 'attr'), k=variable(context, source, (11, 12), 'v'))");
    // Ranges in the tree stay in wrapped coordinates.
    const auto& call = result.value().expression.as<pyexpr::ExprCall>();
    EXPECT_EQ(call.arguments.keywords.at(0).range, pyexpr::TextRange(11, 14));
}

struct ErrorCase {
    const char* source;
    const char* message;
};

TEST(Transform, ErrorsAreReturnedAlone) {
    const std::vector<ErrorCase> cases = {
        {"a b", "Parse error: Expected `)`, found name at byte range 2..3: 'b'"},
        {"x)", "Parse error: Unexpected token at the end of an expression at byte range 3..4"},
        {"lambda p: (p := 1) # c", "SyntaxError: assignment expression cannot rebind lambda parameter 'p'"},
        {"[x async for x in y]", "Validation Error: Async comprehensions are not allowed for security reasons"},
        // The first iterable is rewritten outside the comprehension, yet `:=` there
        // still may not rebind one of its targets.
        {"[x for x in (x := y)]", "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"},
        {"[x for x in (lambda: (x := 1))()]",
         "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"},
        {"[[(x := 1) for y in z] for x in w]",
         "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"},
        {"[lambda x: [(x := 1) for y in z] for y in w]",
         "SyntaxError: assignment expression cannot rebind lambda parameter 'x'"},
        {"[x for x, y in [(y := 1)]]",
         "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'y'"},
        {"[a for a.b in c]",
         "Validation Error: Unsupported target type in comprehension: Attribute(ExprAttribute { node_index: "
         "NodeIndex(None), range: 9..12, value: Name(ExprName { node_index: NodeIndex(None), range: 9..10, id: "
         "Name(\"a\"), ctx: Load }), attr: Identifier { id: Name(\"b\"), range: 11..12, node_index: NodeIndex(None) }, "
         "ctx: Store })"},
    };
    for (const auto& c : cases) {
        auto result = transform_expression(c.source);
        ASSERT_FALSE(result.ok()) << c.source;
        EXPECT_EQ(result.error(), c.message) << c.source;
    }
}

TEST(ParseExpression, ReportsTheFirstErrorInTheCallersText) {
    // The loop-clause form: "(None for " + each + ")".
    const std::string each = "x in";
    const std::string wrapped = "(None for " + each + ")";
    auto result = parse_expression(wrapped, each, 10);
    ASSERT_FALSE(result.ok());
    EXPECT_EQ(result.error().rfind("Parse error: ", 0), 0U) << result.error();
    EXPECT_NE(result.error().find("at byte range 4..5"), std::string::npos) << result.error();

    auto good = parse_expression("(None for x in y)", "x in y", 10);
    ASSERT_TRUE(good.ok());
    EXPECT_TRUE(good.value().is<pyexpr::ExprGenerator>());
}

}  // namespace
}  // namespace lumra::safe_eval

namespace lumra::safe_eval {
namespace {

// The lean entry must agree with the full one on every tree and every error.
TEST(RewriteExpression, AgreesWithTransformExpression) {
    const char* sources[] = {
        "my_var + 1", "a.b(c)[d:e]", "f\"{x!r:>{w}}\"", "t\"{x}\"", "[x for x in x]", "(y := 1) + y", "x # c",
        "a b", "x)", "lambda p: (p := 1)", "await x", "[a for [a] in b]", "[x async for x in y]", "",
    };
    for (const char* source : sources) {
        auto full = transform_expression(source);
        auto lean = rewrite_expression(source);
        ASSERT_EQ(full.ok(), lean.ok()) << source;
        if (full.ok()) {
            EXPECT_EQ(pyexpr::debug_string(full.value().expression), pyexpr::debug_string(lean.value())) << source;
        } else {
            EXPECT_EQ(full.error(), lean.error()) << source;
        }
    }
}

}  // namespace
}  // namespace lumra::safe_eval
