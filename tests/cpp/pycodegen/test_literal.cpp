// String, bytes and number literal text.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <fstream>
#include <limits>

#include "builders.h"
#include "pycodegen/generator.h"
#include "pycodegen/literal.h"

namespace lumra::codegen::test {
namespace {

std::string print(const Expr& e) {
    Generator g;
    unparse_expr(g, e, 0);
    return g.take();
}

constexpr auto S = QuoteStyle::Single;
constexpr auto D = QuoteStyle::Double;

TEST(StringLiterals, QuoteChoiceAndEscapes) {
    struct Case {
        const char* what;
        StringLiteral part;
        std::string expected;
    } cases[] = {
        {"rewriter literal", str_part("my_var"), "'my_var'"},
        {"single quote inside", str_part("it's"), "\"it's\""},
        {"both quotes", str_part("a'b\"c"), "'a\\'b\"c'"},
        {"double style kept", str_part("x", D), "\"x\""},
        {"double style, double inside", str_part("say \"hi\"", D), "'say \"hi\"'"},
        {"double style, both inside", str_part("'\"", D), "\"'\\\"\""},
        {"u prefix", str_part("x", D, StrPrefix::unicode()), "u\"x\""},
        {"raw upper unchanged", str_part("\\d", D, StrPrefix::raw(true)), "R\"\\d\""},
        {"raw keeps quote style", str_part("it\\'s", S, StrPrefix::raw(false)), "r'it\\'s'"},
        {"raw triple with newline", str_part("a\nb", S, StrPrefix::raw(false), true), "r'''a\nb'''"},
        {"line feed", str_part("a\nb"), "'a\\nb'"},
        {"triple line feed", str_part("a\nb", D, {}, true), "\"\"\"a\\nb\"\"\""},
        {"triple switches quote", str_part("a\"", D, {}, true), "'''a\"'''"},
        {"tab cr backslash", str_part("\t\r\\"), "'\\t\\r\\\\'"},
        {"NUL and DEL", str_part(std::string("\0\x7f", 2)), "'\\x00\\x7f'"},
        {"other controls", str_part("\x01\x1b\x0b\x0c"), "'\\x01\\x1b\\x0b\\x0c'"},
        {"zero width space", str_part("\u200b"), "'\\u200b'"},
        {"e acute printable", str_part("\u00e9"), "'\u00e9'"},
        {"no-break space", str_part("\u00a0"), "'\\xa0'"},
        {"soft hyphen (format)", str_part("\u00ad"), "'\\xad'"},
        {"C1 control", str_part("\u0085"), "'\\x85'"},
        {"unassigned top", str_part("\U0010ffff"), "'\\U0010ffff'"},
        {"private use", str_part("\ue000"), "'\\ue000'"},
        {"line separator", str_part("\u2028"), "'\\u2028'"},
        {"astral printable", str_part("\U0001F600"), "'\U0001F600'"},
        {"CJK and combining", str_part("\u4e2d\u0301"), "'\u4e2d\u0301'"},
        {"ascii space kept", str_part("a b"), "'a b'"},
        {"empty", str_part(""), "''"},
    };
    for (const Case& c : cases) EXPECT_EQ(print(str_expr({c.part})), c.expected) << c.what;
}

TEST(StringLiterals, ImplicitConcatenationPrintsEachPart) {
    EXPECT_EQ(print(str_expr({str_part("a"), str_part("b", D, StrPrefix::raw(false)), str_part("it's")})),
              "'a' r\"b\" \"it's\"");
}

TEST(BytesLiterals, Forms) {
    struct Case {
        const char* what;
        Expr expr;
        std::string expected;
    } cases[] = {
        {"high byte", bytes_expr("\xff", D), "b\"\\xff\""},
        {"raw", bytes_expr("\\d", D, RawPrefix::raw_prefix(false)), "rb\"\\d\""},
        {"raw upper", bytes_expr("x", S, RawPrefix::raw_prefix(true)), "Rb'x'"},
        {"plain", bytes_expr("x"), "b'x'"},
        {"controls", bytes_expr(std::string("\t\n\r\0\x7f\\", 6)), "b'\\t\\n\\r\\x00\\x7f\\\\'"},
        {"quote choice", bytes_expr("it's"), "b\"it's\""},
        {"both quotes", bytes_expr("'\""), "b'\\'\"'"},
        {"raw but not text", bytes_expr("\xff'", S, RawPrefix::raw_prefix(false)), "b\"\\xff'\""},
        {"triple", bytes_expr("a\nb", S, {}, true), "b'''a\\nb'''"},
    };
    for (const Case& c : cases) EXPECT_EQ(print(c.expr), c.expected) << c.what;
}

TEST(EscapeLayout, CountsAndLength) {
    struct Case {
        std::string text;
        QuoteStyle preferred;
        uint32_t singles, doubles;
        QuoteStyle chosen;
        size_t len;
    } cases[] = {
        {"abc", S, 0, 0, S, 3},
        {"it's", S, 1, 0, D, 4},
        {"a'b\"c", S, 1, 1, S, 6},
        {"a'b\"c", D, 1, 1, D, 6},
        {"\t\\", S, 0, 0, S, 4},
        {std::string("\0", 1), S, 0, 0, S, 4},
        {"\u00e9", S, 0, 0, S, 2},
        {"\u00a0", S, 0, 0, S, 4},
        {"\u200b", S, 0, 0, S, 6},
        {"\U0010ffff", S, 0, 0, S, 10},
        {"\U0001F600", S, 0, 0, S, 4},
    };
    for (const auto& c : cases) {
        EscapeLayout layout = str_escape_layout(c.text, c.preferred);
        EXPECT_EQ(layout.single_quotes, c.singles) << c.text;
        EXPECT_EQ(layout.double_quotes, c.doubles) << c.text;
        EXPECT_EQ(layout.quote, c.chosen) << c.text;
        EXPECT_EQ(layout.body_len, std::optional<size_t>(c.len)) << c.text;
    }
    EXPECT_EQ(bytes_escape_layout("\xff\x80", S).body_len, std::optional<size_t>(8));
    EXPECT_EQ(str_escape_layout_fixed("it's", S).body_len, std::optional<size_t>(5));
}

TEST(Printable, GeneralCategories) {
    struct Case {
        char32_t c;
        bool printable;
    } cases[] = {
        {U'a', true},     {U'~', true},      {U' ', false},     {U'\u00e9', true}, {U'\u0301', true},
        {U'\u00a0', false}, {U'\u200b', false}, {U'\u2028', false}, {U'\ue000', false}, {U'\U0010ffff', false},
        {U'\u0378', false}, {U'\u20ac', true}, {U'\U0001F600', true}, {U'\u3000', false}, {0x110000, false},
    };
    for (const auto& c : cases) EXPECT_EQ(is_printable(c.c), c.printable) << static_cast<uint32_t>(c.c);
}

TEST(Numbers, Floats) {
    struct Case {
        double value;
        const char* expected;
    } cases[] = {
        {1e16, "1e+16"},        {1e15, "1000000000000000.0"}, {0.0001, "0.0001"}, {0.00001, "1e-05"},
        {2.5, "2.5"},           {3.0, "3.0"},                 {1e22, "1e+22"},    {1.5e-7, "1.5e-07"},
        {1e100, "1e+100"},      {5e-324, "5e-324"},           {0.0, "0.0"},       {-0.0, "-0.0"},
        {100.0, "100.0"},       {0.1, "0.1"},                 {123456.789, "123456.789"},
        {0.9999999999999999, "0.9999999999999999"},           {1.0000000000000002, "1.0000000000000002"},
        {999999999999999.9, "999999999999999.9"},             {9999999999999998.0, "9999999999999998.0"},
        {std::nan(""), "nan"},  {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"},
    };
    for (const auto& c : cases) EXPECT_EQ(float_to_string(c.value), c.expected) << c.expected;
    EXPECT_EQ(print(flt(std::numeric_limits<double>::infinity())), "1e309");
    EXPECT_EQ(print(flt(2.5)), "2.5");
}

TEST(Numbers, FloatsMatchPythonRepr) {
    // Bit patterns with the text Python 3.12's repr gives them (data/gen_floats.py).
    std::ifstream in(std::string(LUMRA_TEST_DATA_DIR) + "/floats.txt");
    ASSERT_TRUE(in) << "missing floats.txt";
    std::string line;
    size_t count = 0, mismatches = 0;
    while (std::getline(in, line)) {
        ASSERT_GT(line.size(), 17u);
        uint64_t bits = std::stoull(line.substr(0, 16), nullptr, 16);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        std::string expected = line.substr(17);
        ++count;
        if (float_to_string(value) != expected && ++mismatches <= 10) {
            ADD_FAILURE() << line << " printed as " << float_to_string(value);
        }
    }
    EXPECT_GE(count, 20000u);
    EXPECT_EQ(mismatches, 0u);
}

TEST(Numbers, IntegersAndComplex) {
    const double inf = std::numeric_limits<double>::infinity();
    struct Case {
        Expr expr;
        const char* expected;
    } cases[] = {
        {num(16), "16"},
        {num(1000), "1000"},
        {num(0), "0"},
        {num(UINT64_MAX), "18446744073709551615"},
        {big("0xFFFFFFFFFFFFFFFFFFFF"), "0xFFFFFFFFFFFFFFFFFFFF"},
        {big("123456789012345678901234567890"), "123456789012345678901234567890"},
        {cplx(0, 2), "2j"},
        {cplx(0, 1.5), "1.5j"},
        {cplx(0, 1e20), "100000000000000000000j"},
        {cplx(0, 1e-7), "0.0000001j"},
        {cplx(-0.0, 3), "3j"},
        {cplx(1, 2), "(1+2j)"},
        {cplx(1.5, -0.5), "(1.5-0.5j)"},
        {cplx(0, inf), "1e309j"},
        {cplx(1, inf), "(1+1e309j)"},
        {cplx(-inf, 1), "(-1e309+1j)"},
    };
    for (const auto& c : cases) EXPECT_EQ(print(c.expr), c.expected);
    EXPECT_EQ(replace_infinity("(inf-infj)"), "(1e309-1e309j)");
    EXPECT_EQ(replace_infinity("x"), "x");
}

}  // namespace
}  // namespace lumra::codegen::test
