// Nesting and chain limits: deep or long inputs end in an error, never in a
// stack overflow, and every accepted tree stays within kMaxTreeHeight.
#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <string>

#include "parser_test_util.h"

namespace lumra::pyexpr {
namespace {

constexpr const char* kTooDeep = "Expression is too deeply nested at byte range ";

std::string repeat(std::string_view part, size_t count) {
    std::string out;
    out.reserve(part.size() * count);
    for (size_t i = 0; i < count; ++i) out += part;
    return out;
}

std::string nested(std::string_view open, std::string_view inner, std::string_view close, size_t depth) {
    return repeat(open, depth) + std::string(inner) + repeat(close, depth);
}

std::string chain(std::string_view head, std::string_view link, size_t count) {
    return std::string(head) + repeat(link, count);
}

size_t tree_height(const Expr& e) {
    size_t below = 0;
    for_each_child(e, [&](const Expr& child) { below = std::max(below, tree_height(child)); });
    return below + 1;
}

struct LimitCase {
    const char* name;
    std::string source;
    const char* expected;  // the reported error, or "ok"
};

TEST(ParserLimits, NestingDepthBoundary) {
    const std::vector<LimitCase> cases = {
        // CPython accepts 200 nested brackets and refuses 201.
        {"200 parentheses", nested("(", "a", ")", 200), "ok"},
        {"201 parentheses", nested("(", "a", ")", 201), "Expression is too deeply nested at byte range 201..202"},
        {"200 brackets", nested("[", "a", "]", 200), "ok"},
        {"201 brackets", nested("[", "a", "]", 201), "Expression is too deeply nested at byte range 201..202"},
        {"201 braces", nested("{", "a", "}", 201), "Expression is too deeply nested at byte range 201..202"},
        {"201 calls", nested("f(", "a", ")", 201), "Expression is too deeply nested at byte range 402..403"},
        {"200 minus signs", repeat("-", 200) + "a", "ok"},
        {"201 minus signs", repeat("-", 201) + "a", "Expression is too deeply nested at byte range 201..202"},
        {"201 subscripts", nested("x[", "a", "]", 201), "Expression is too deeply nested at byte range 402..403"},
        // Format specs nest replacement fields: `{x:{y:{z}}}` puts `z` three levels deep.
        {"200 format specs", "f'{x:" + nested("{y:", "z", "}", 199) + "}'", "ok"},
        {"201 format specs", "f'{x:" + nested("{y:", "z", "}", 200) + "}'",
         "Expression is too deeply nested at byte range 603..604"},
        {"201 t-string format specs", "t'{x:" + nested("{y:", "z", "}", 200) + "}'",
         "Expression is too deeply nested at byte range 603..604"},
    };
    for (const LimitCase& c : cases) EXPECT_EQ(test::first_error(c.source), c.expected) << c.name;
}

TEST(ParserLimits, ChainHeightBoundary) {
    // `a` plus 999 operators is 1000 nodes tall; one more is refused at the
    // token after the operand that made the tree too tall.
    EXPECT_EQ(test::first_error(chain("a", "+a", 999)), "ok");
    EXPECT_EQ(test::first_error(chain("a", "+a", 1000)), "Expression is too deeply nested at byte range 2001..2001");
    EXPECT_EQ(test::first_error(chain("a", "+a", 1001)), "Expression is too deeply nested at byte range 2001..2002");
    EXPECT_EQ(test::first_error(chain("x", ".a", 999)), "ok");
    EXPECT_EQ(test::first_error(chain("x", ".a", 1000)).rfind(kTooDeep, 0), 0u);
    // Chains nested in chains add up.
    const std::string inner = "(" + chain("a", "+a", 600) + ")";
    EXPECT_EQ(test::first_error(inner + repeat("+a", 300)), "ok");
    EXPECT_EQ(test::first_error(inner + repeat("+a", 500)).rfind(kTooDeep, 0), 0u);
    EXPECT_EQ(test::first_error(inner + repeat(".b", 500)).rfind(kTooDeep, 0), 0u);
}

// 100,000-fold inputs of every recursive or chained form: an error, no crash.
TEST(ParserLimits, HugeInputsEndInAnError) {
    const size_t n = 100000;
    const std::vector<LimitCase> cases = {
        {"parentheses", nested("(", "a", ")", n), nullptr},
        {"brackets", nested("[", "a", "]", n), nullptr},
        {"braces", nested("{", "a", "}", n), nullptr},
        {"unclosed parentheses", repeat("(", n), nullptr},
        {"a+a+...", chain("a", "+a", n), nullptr},
        {"mixed postfix chain", chain("x", "(a)[b].c", n), nullptr},
        {"mixed operator chain", chain("a", "-a*a", n), nullptr},
        {"f()()...", chain("f", "()", n), nullptr},
        {"x.a.b...", chain("x", ".a", n), nullptr},
        {"x[0][0]...", chain("x", "[0]", n), nullptr},
        {"unary minus", repeat("-", n) + "a", nullptr},
        {"not", repeat("not ", n) + "a", nullptr},
        {"await", repeat("await ", n) + "a", nullptr},
        {"power", chain("a", "**a", n), nullptr},
        {"conditional", repeat("a if b else ", n) + "c", nullptr},
        {"lambda", repeat("lambda: ", n) + "a", nullptr},
        {"lambda defaults", repeat("lambda a=", n) + "1", nullptr},
        {"starred", "[" + repeat("* ", n) + "a]", nullptr},
        {"calls", nested("f(", "a", ")", n), nullptr},
        {"keyword values", nested("f(a=", "a", ")", n), nullptr},
        {"subscripts", nested("x[", "a", "]", n), nullptr},
        {"slices", nested("x[1:", "a", "]", n), nullptr},
        {"dict values", nested("{1:", "a", "}", n), nullptr},
        {"generators", nested("(x for x in ", "a", ")", n), nullptr},
        {"f-string fields", nested("f'{", "a", "}'", 5000), nullptr},
        {"format specs", "f'{x:" + nested("{y:", "z", "}", n) + "}'", nullptr},
        {"f-strings in format specs", nested("f'{x:{", "y", "}}'", n), nullptr},
        {"named values", nested("(a:=", "a", ")", n), nullptr},
    };
    for (const LimitCase& c : cases) {
        const std::string error = test::first_error(c.source);
        EXPECT_NE(error, "ok") << c.name;
        if (c.source.size() > 100000 && error.find("too deeply nested") == std::string::npos) {
            ADD_FAILURE() << c.name << ": " << error;
        }
    }
}

// Accepted trees near both limits stay within the documented height.
TEST(ParserLimits, AcceptedTreesAreBounded) {
    const std::vector<std::string> sources = {
        chain("a", "+a", 999),
        nested("(", chain("a", "*a", 900), ")", 150),
        "(" + chain("a", "+a", 600) + ")" + repeat("+a", 300),
        nested("[", "a", "]", 200),
        nested("f(", "x", ")", 200) + repeat("()", 500),
        repeat("-", 200) + "a",
        nested("(lambda: ", "a", ")", 90),
    };
    for (const std::string& source : sources) {
        ExpressionParse parse = parse_python_expression_full(source);
        ASSERT_TRUE(parse.errors.empty()) << source.substr(0, 60) << ": " << parse.errors.front().to_string();
        EXPECT_LE(tree_height(parse.expr), kMaxTreeHeight) << source.substr(0, 60);
    }
}

}  // namespace
}  // namespace lumra::pyexpr
