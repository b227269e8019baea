// Printing what the parser read: canonical text, and a second round that
// changes nothing.
#include <gtest/gtest.h>

#include "pycodegen/generator.h"
#include "pyexpr/parser.h"

namespace lumra::codegen::test {
namespace {

std::string parse_and_print(const std::string& source, bool keep_source = false) {
    auto parsed = pyexpr::parse_python_expression(source);
    if (!parsed.ok()) {
        ADD_FAILURE() << source << ": " << parsed.error().to_string();
        return {};
    }
    auto printed = keep_source ? expression_to_source(parsed.expr(), source) : expression_to_source(parsed.expr());
    if (!printed) {
        ADD_FAILURE() << source << ": too deep";
        return {};
    }
    return *printed;
}

TEST(ParsedExamples, CanonicalText) {
    struct Case {
        std::string source;
        std::string expected;
    } cases[] = {
        {"a+b", "a + b"},
        {"((x))", "x"},
        {"(x := 1)", "x := 1"},
        {"f((x := 1))", "f((x := 1))"},
        {"f(x := 1)", "f((x := 1))"},
        {"(lambda: 1) + 2", "(lambda: 1) + 2"},
        {"a if b else (c if d else e)", "a if b else c if d else e"},
        {"(a if b else c) if d else e", "(a if b else c) if d else e"},
        {"-1 ** 2", "-1 ** 2"},
        {"(-1) ** 2", "(-1) ** 2"},
        {"1 .real", "(1).real"},
        {"1.5.real", "1.5.real"},
        {"{**a, 'b': 1}", "{**a, 'b': 1}"},
        {"{}", "{}"},
        {"a < b <= c", "a < b <= c"},
        {"f(*a, k=1, **b)", "f(*a, k=1, **b)"},
        {"(await x).y", "(await x).y"},
        {"await x ** 2", "await x ** 2"},
        {"lambda a, /, b=1, *c, d, **e: 0", "lambda a, /, b=1, *c, d, **e: 0"},
        {"lambda *, k: 0", "lambda *, k: 0"},
        {"x[::2]", "x[::2]"},
        {"x[:]", "x[:]"},
        {"x[a, b]", "x[a, b]"},
        {"(a, *b)", "(a, *b)"},
        {"(*a,)", "(*a,)"},
        {"x[a, *b]", "x[a, *b]"},
        {"[x for *a, b in y]", "[x for *a, b in y]"},
        {"[x for (a, b) in y]", "[x for a, b in y]"},
        {"f((x for x in y))", "f(x for x in y)"},
        {"(x := (1, 2))", "x := (1, 2)"},
        {"x[(a, b):c]", "x[(a, b):c]"},
        {"\"x\"", "\"x\""},
        {"u\"x\"", "u\"x\""},
        {"R\"\\d\"", "R\"\\d\""},
        {"'it\\'s'", "\"it's\""},
        {"\"\"\"a\nb\"\"\"", "\"\"\"a\\nb\"\"\""},
        {"'\\0\\x7f'", "'\\x00\\x7f'"},
        {"'\\u200b\\u00e9'", "'\\u200b\u00e9'"},
        {"'\\U0010ffff'", "'\\U0010ffff'"},
        {"b\"\\xff\"", "b\"\\xff\""},
        {"rb\"\\d\"", "rb\"\\d\""},
        {"B'x'", "b'x'"},
        {"'a' \"b\"", "'a' \"b\""},
        {"f\"{x!r:>{w}}\"", "f\"{x!r:>{w}}\""},
        {"f\"{x=}\"", "f\"{x=}\""},
        {"f\"{{}}\"", "f\"{{}}\""},
        {"f\"{ {1: 2} }\"", "f\"{ {1: 2}}\""},
        {"f'it\\'s {x}'", "f'it\\'s {x}'"},
        {"f'{(lambda: 1)}'", "f'{(lambda: 1)}'"},
        {"F'{x}' 'y'", "f'{x}' 'y'"},
        {"1e16", "1e+16"},
        {"1e15", "1000000000000000.0"},
        {"0.0001", "0.0001"},
        {"0.00001", "1e-05"},
        {"1e309", "1e309"},
        {"1e400j", "1e309j"},
        {"2.5", "2.5"},
        {"3.0", "3.0"},
        {"1e22", "1e+22"},
        {"0x10", "16"},
        {"1_000", "1000"},
        {"0.9999999999999999", "0.9999999999999999"},
        {"123456789012345678901234567890", "123456789012345678901234567890"},
        {"0xFFFFFFFFFFFFFFFFFFFF", "0xFFFFFFFFFFFFFFFFFFFF"},
        {"1e20j", "100000000000000000000j"},
    };
    for (const Case& c : cases) {
        std::string printed = parse_and_print(c.source);
        EXPECT_EQ(printed, c.expected) << c.source;
        // The canonical text is a fixed point (read as the rewriter reads
        // expressions, in parentheses, so that "x := 1" stands alone).
        EXPECT_EQ(parse_and_print("(\n" + printed + "\n)"), printed) << c.source;
    }
}

TEST(ParsedExamples, DebugFieldsKeepTheirTextWhenTheSourceIsKnown) {
    struct Case {
        std::string source;
        std::string canonical;
        std::string with_source;
    } cases[] = {
        {"f'{a+b=}'", "f'{a + b=}'", "f'{a+b=}'"},
        {"f'{ (a)  = !r:>4}'", "f'{ (a)  = !r:>4}'", "f'{ (a)  = !r:>4}'"},
        {"f'{x=} and {y}'", "f'{x=} and {y}'", "f'{x=} and {y}'"},
        {"f'{f\"{b*2=}\"=}'", "f'{f\"{b * 2=}\"=}'", "f'{f\"{b*2=}\"=}'"},
        // In a format spec "{{" opens a field: no space may join the debug text.
        {"f'{x:{{lit}=}}'", "f'{x:{{lit}=}}'", "f'{x:{{lit}=}}'"},
        {"f'{x:{ {lit}=}}'", "f'{x:{ {lit}=}}'", "f'{x:{ {lit}=}}'"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(parse_and_print(c.source), c.canonical) << c.source;
        EXPECT_EQ(parse_and_print(c.source, true), c.with_source) << c.source;
    }
}

// Python reads no NUL in a source, so a raw part holding one is written
// escaped (a CR of the source is a line feed in the value already, which a
// raw triple-quoted part keeps as it is); and it tells keywords apart before
// it normalises names, so a name stored as a keyword is written as the source
// spelled it, or not at all without one.
TEST(ParsedExamples, WrittenSoThatPythonReadsTheSameBack) {
    using namespace std::string_literals;
    // U+2115 "one", bold "if" and bold "i" "f": stored as None and if.
    const std::string names =
        "lambda \xe2\x84\x95one, *\xf0\x9d\x90\xa2\xf0\x9d\x90\x9f: f(\xe2\x84\x95one=a.\xf0\x9d\x90\xa2" "f)";
    const std::pair<std::string, std::string> cases[] = {
        {"r'a\\d\0'"s, "'a\\\\d\\x00'"}, {"R'''a\r\nb'''", "R'''a\nb'''"},
        {"rb\"\"\"\\d\r\"\"\"", "rb\"\"\"\\d\n\"\"\""}, {"Rt'''{x}\r''' t'{y!r}'", "Rt'''{x}\n''' t'{y!r}'"},
        {"rf'\\d{x:\0}' Rf'\\d{y}'"s, "f'\\\\d{x:\\x00}' Rf'\\d{y}'"}, {names, names},
    };
    for (const auto& [source, expected] : cases) {
        const std::string printed = parse_and_print(source, true);
        EXPECT_EQ(printed, expected) << source;
        EXPECT_EQ(parse_and_print(printed, true), printed) << source;
    }
    const auto parsed = pyexpr::parse_python_expression("x.\xe2\x84\x95one");
    ASSERT_TRUE(parsed.ok());
    EXPECT_FALSE(expression_to_source(parsed.expr()).has_value());
}

}  // namespace
}  // namespace lumra::codegen::test
