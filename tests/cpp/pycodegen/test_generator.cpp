// Printed forms of expression trees: precedence, parentheses and every variant.
#include <gtest/gtest.h>

#include "builders.h"
#include "pycodegen/generator.h"

namespace lumra::codegen::test {
namespace {

std::string print(const Expr& e, uint8_t level = 0) {
    Generator g;
    unparse_expr(g, e, level);
    EXPECT_FALSE(g.too_deep());
    return g.take();
}

struct Case {
    const char* what;
    Expr expr;
    uint8_t level;
    std::string expected;
};

void run(const std::vector<Case>& cases) {
    for (const Case& c : cases) EXPECT_EQ(print(c.expr, c.level), c.expected) << c.what;
}

constexpr auto Add = Operator::Add;
constexpr auto Sub = Operator::Sub;
constexpr auto Mult = Operator::Mult;
constexpr auto Pow = Operator::Pow;

TEST(Precedence, BinaryOperators) {
    run({
        {"a+b", bin(name("a"), Add, name("b")), 0, "a + b"},
        {"left assoc", bin(bin(name("a"), Sub, name("b")), Sub, name("c")), 0, "a - b - c"},
        {"right grouping kept", bin(name("a"), Sub, bin(name("b"), Sub, name("c"))), 0, "a - (b - c)"},
        {"mixed levels", bin(bin(name("a"), Add, name("b")), Mult, name("c")), 0, "(a + b) * c"},
        {"no parens needed", bin(name("a"), Add, bin(name("b"), Mult, name("c"))), 0, "a + b * c"},
        {"pow right assoc", bin(name("a"), Pow, bin(name("b"), Pow, name("c"))), 0, "a ** b ** c"},
        {"pow left grouping", bin(bin(name("a"), Pow, name("b")), Pow, name("c")), 0, "(a ** b) ** c"},
        {"-(1**2)", unary(UnaryOp::USub, bin(num(1), Pow, num(2))), 0, "-1 ** 2"},
        {"(-1)**2", bin(unary(UnaryOp::USub, num(1)), Pow, num(2)), 0, "(-1) ** 2"},
        {"2**(-x)", bin(num(2), Pow, unary(UnaryOp::USub, name("x"))), 0, "2 ** (-x)"},
        {"bit ops", bin(bin(name("a"), Operator::BitOr, name("b")), Operator::BitXor, name("c")), 0, "(a | b) ^ c"},
        {"shift in and", bin(bin(name("a"), Operator::LShift, name("b")), Operator::BitAnd, name("c")), 0,
         "a << b & c"},
        {"all texts", bin(bin(bin(name("a"), Operator::MatMult, name("b")), Operator::FloorDiv, name("c")),
                          Operator::Mod, name("d")),
         0, "a @ b // c % d"},
        {"div/rshift", bin(bin(name("a"), Operator::Div, name("b")), Operator::RShift, name("c")), 0, "a / b >> c"},
        {"in a call argument", call(name("f"), {bin(name("a"), Add, name("b"))}), 0, "f(a + b)"},
    });
}

TEST(Precedence, UnaryBooleanAndComparison) {
    run({
        {"not not", unary(UnaryOp::Not, unary(UnaryOp::Not, name("x"))), 0, "not not x"},
        {"--x", unary(UnaryOp::USub, unary(UnaryOp::USub, name("x"))), 0, "--x"},
        {"~+x", unary(UnaryOp::Invert, unary(UnaryOp::UAdd, name("x"))), 0, "~+x"},
        {"not in operand", bin(unary(UnaryOp::Not, name("a")), Add, name("b")), 0, "(not a) + b"},
        {"not of compare", unary(UnaryOp::Not, compare(name("a"), {{CmpOp::Eq, name("b")}})), 0, "not a == b"},
        {"compare of not", compare(unary(UnaryOp::Not, name("a")), {{CmpOp::Eq, name("b")}}), 0, "(not a) == b"},
        {"chain", compare(name("a"), {{CmpOp::Lt, name("b")}, {CmpOp::LtE, name("c")}}), 0, "a < b <= c"},
        {"all compare ops",
         compare(name("a"), {{CmpOp::NotEq, name("b")}, {CmpOp::Gt, name("c")}, {CmpOp::GtE, name("d")},
                             {CmpOp::Is, name("e")}, {CmpOp::IsNot, name("f")}, {CmpOp::In, name("g")},
                             {CmpOp::NotIn, name("h")}}),
         0, "a != b > c >= d is e is not f in g not in h"},
        {"nested compare", compare(name("a"), {{CmpOp::Lt, compare(name("b"), {{CmpOp::Lt, name("c")}})}}), 0,
         "a < (b < c)"},
        {"and in or", boolop(BoolOp::Or, {boolop(BoolOp::And, {name("a"), name("b")}), name("c")}), 0,
         "a and b or c"},
        {"or in and", boolop(BoolOp::And, {boolop(BoolOp::Or, {name("a"), name("b")}), name("c")}), 0,
         "(a or b) and c"},
        {"and in and", boolop(BoolOp::And, {name("a"), boolop(BoolOp::And, {name("b"), name("c")})}), 0,
         "a and (b and c)"},
        {"three values", boolop(BoolOp::And, {name("a"), name("b"), name("c")}), 0, "a and b and c"},
    });
}

TEST(Precedence, NamedLambdaConditional) {
    run({
        {"named at top", named("x", num(1)), 0, "x := 1"},
        {"named as argument", call(name("f"), {named("x", num(1))}), 0, "f((x := 1))"},
        {"named in named", named("x", named("y", num(1))), 0, "x := (y := 1)"},
        {"named of tuple", named("x", tuple({num(1), num(2)})), 0, "x := (1, 2)"},
        {"named of yield", named("x", ExprYield{{}, {}, boxed(num(1))}), 0, "x := (yield 1)"},
        {"named of lambda", named("x", lambda(num(1))), 0, "x := lambda: 1"},
        {"named of conditional", named("x", cond(name("a"), name("b"), name("c"))), 0, "x := a if b else c"},
        {"lambda argument", call(name("f"), {lambda(num(1))}), 0, "f(lambda: 1)"},
        {"lambda operand", bin(lambda(num(1)), Add, num(2)), 0, "(lambda: 1) + 2"},
        {"lambda: 0", lambda(num(0)), 0, "lambda: 0"},
        {"lambda of named", lambda(named("x", num(1))), 0, "lambda: (x := 1)"},
        {"lambda of tuple", lambda(tuple({num(1), num(2)})), 0, "lambda: (1, 2)"},
        {"else nested", cond(name("a"), name("b"), cond(name("c"), name("d"), name("e"))), 0,
         "a if b else c if d else e"},
        {"body nested", cond(cond(name("a"), name("b"), name("c")), name("d"), name("e")), 0,
         "(a if b else c) if d else e"},
        {"test nested", cond(name("a"), cond(name("b"), name("c"), name("d")), name("e")), 0,
         "a if (b if c else d) else e"},
        {"lambda in else", cond(name("a"), name("b"), lambda(num(1))), 0, "a if b else lambda: 1"},
        {"lambda in body", cond(lambda(num(1)), name("b"), name("c")), 0, "(lambda: 1) if b else c"},
        {"await pow", bin(ExprAwait{{}, {}, boxed(name("x"))}, Pow, num(2)), 0, "await x ** 2"},
        {"await attr", attr(ExprAwait{{}, {}, boxed(name("x"))}, "y"), 0, "(await x).y"},
        {"await of neg", ExprAwait{{}, {}, boxed(unary(UnaryOp::USub, name("x")))}, 0, "await (-x)"},
        {"yield", ExprYield{{}, {}, boxed(tuple({num(1), num(2)}))}, 0, "yield 1, 2"},
        {"bare yield in call", call(name("f"), {ExprYield{{}, {}, {}}}), 0, "f((yield))"},
        {"yield from", ExprYieldFrom{{}, {}, boxed(bin(name("a"), Add, name("b")))}, 0, "yield from (a + b)"},
        {"yield from as operand", bin(ExprYieldFrom{{}, {}, boxed(name("a"))}, Add, num(1)), 0,
         "(yield from a) + 1"},
    });
}

TEST(Precedence, TuplesAndLevels) {
    run({
        {"top tuple", tuple({num(1), num(2)}), 0, "1, 2"},
        {"one at top", tuple({num(1)}), 0, "1,"},
        {"one as item", tuple({num(1)}), 21, "(1,)"},
        {"empty", tuple({}), 0, "()"},
        {"subscript key", subscript(name("x"), tuple({name("a"), name("b")})), 0, "x[a, b]"},
        {"call argument", call(name("f"), {tuple({name("a"), name("b")})}), 0, "f((a, b))"},
        {"list item", list({tuple({num(1)}), num(2)}), 0, "[(1,), 2]"},
        {"nested", tuple({tuple({num(1), num(2)}), num(3)}), 0, "(1, 2), 3"},
        // "*a, b" alone is not an expression.
        {"starred element", tuple({starred(name("a")), name("b")}), 0, "(*a, b)"},
        {"starred last", tuple({name("a"), starred(name("b"))}), 0, "(a, *b)"},
        {"starred as yield value", ExprYield{{}, {}, boxed(tuple({name("a"), starred(name("b"))}))}, 0,
         "yield a, *b"},
        {"starred in nested tuple", tuple({tuple({starred(name("a"))}), name("b")}), 0, "(*a,), b"},
        {"starred of or", starred(boolop(BoolOp::Or, {name("a"), name("b")})), 0, "*(a or b)"},
        {"level 0 never wraps", named("x", num(1)), 0, "x := 1"},
        {"level 1", named("x", num(1)), 1, "x := 1"},
        {"level 2", named("x", num(1)), 2, "(x := 1)"},
        {"if at 27", cond(name("a"), name("b"), name("c")), 27, "a if b else c"},
        {"if at 28", cond(name("a"), name("b"), name("c")), 28, "(a if b else c)"},
    });
}

TEST(Forms, Containers) {
    run({
        {"dict with unpack", dict({{std::nullopt, name("a")}, {str("b"), num(1)}}), 0, "{**a, 'b': 1}"},
        {"empty dict", dict({}), 0, "{}"},
        {"unpack of or", dict({{std::nullopt, boolop(BoolOp::Or, {name("a"), name("b")})}}), 0, "{**(a or b)}"},
        {"empty set", set({}), 0, "set()"},
        {"set", set({num(1), starred(name("x"))}), 0, "{1, *x}"},
        {"list", list({num(1), named("y", num(2))}), 0, "[1, (y := 2)]"},
        {"empty list", list({}), 0, "[]"},
        {"ellipsis true false none", list({ExprEllipsisLiteral{}, ExprBooleanLiteral{{}, {}, true},
                                           ExprBooleanLiteral{{}, {}, false}, none()}),
         0, "[..., True, False, None]"},
    });
}

TEST(Forms, PostfixAndSlices) {
    run({
        {"int attribute", attr(num(1), "real"), 0, "(1).real"},
        {"big int attribute", attr(big("123456789012345678901234567890"), "real"), 0,
         "(123456789012345678901234567890).real"},
        {"float attribute", attr(flt(1.5), "real"), 0, "1.5.real"},
        {"complex attribute", attr(cplx(0, 2), "imag"), 0, "2j.imag"},
        {"int method call", call(attr(num(1), "bit_length"), {}), 0, "(1).bit_length()"},
        {"chain", call(attr(subscript(attr(name("a"), "b"), num(0)), "c"), {name("x")}), 0, "a.b[0].c(x)"},
        {"base of operator", attr(bin(name("a"), Add, name("b")), "c"), 0, "(a + b).c"},
        {"x[:]", subscript(name("x"), slice(std::nullopt, std::nullopt)), 0, "x[:]"},
        {"x[::2]", subscript(name("x"), slice(std::nullopt, std::nullopt, num(2))), 0, "x[::2]"},
        {"x[1:2]", subscript(name("x"), slice(num(1), num(2))), 0, "x[1:2]"},
        {"slices in a tuple", subscript(name("x"), tuple({slice(num(1), std::nullopt), num(3)})), 0, "x[1:, 3]"},
        {"starred key", subscript(name("x"), tuple({starred(name("a"))})), 0, "x[*a,]"},
        {"named key", subscript(name("x"), named("y", num(1))), 0, "x[(y := 1)]"},
        {"lambda bound", subscript(name("x"), slice(lambda(num(1)), num(2))), 0, "x[lambda: 1:2]"},
        {"tuple bound", subscript(name("x"), slice(tuple({name("a"), name("b")}), name("c"))), 0, "x[(a, b):c]"},
        {"tuple step in tuple key",
         subscript(name("x"), tuple({slice(std::nullopt, std::nullopt, tuple({num(1)})), name("y")})), 0,
         "x[::(1,), y]"},
        {"attr of subscript of call", subscript(call(name("f"), {}), name("i")), 0, "f()[i]"},
    });
}

TEST(Forms, Calls) {
    run({
        {"source order", call(name("f"), {at(2, starred(name("a")))}, {kw("k", num(1), 6), kw(std::nullopt, name("b"), 11)}),
         0, "f(*a, k=1, **b)"},
        {"keyword before positional", call(name("f"), {at(8, starred(name("a")))}, {kw("k", num(1), 2)}), 0,
         "f(k=1, *a)"},
        {"tie puts positional first", call(name("f"), {name("a"), name("b")}, {kw("k", num(1))}), 0,
         "f(a, b, k=1)"},
        {"lone generator", call(name("f"), {generator(name("x"), {clause(name("x"), name("y"))})}), 0,
         "f(x for x in y)"},
        {"generator with keyword", call(name("f"), {at(2, generator(name("x"), {clause(name("x"), name("y"))}))},
                                        {kw("k", num(1), 20)}),
         0, "f((x for x in y), k=1)"},
        {"lone generator tuple element",
         call(name("f"), {generator(tuple({name("a"), name("b")}), {clause(name("a"), name("y"))})}), 0,
         "f((a, b) for a in y)"},
        {"keyword value", call(name("f"), {}, {kw("k", cond(name("a"), name("b"), name("c")))}), 0,
         "f(k=a if b else c)"},
        {"double star of call", call(name("f"), {}, {kw(std::nullopt, call(name("g"), {}))}), 0, "f(**g())"},
    });
}

TEST(Forms, Comprehensions) {
    Expr tuple_target = tuple({name("a"), name("b")});
    run({
        {"tuple target", listcomp(name("a"), {clause(tuple({name("a"), name("b")}), name("y"))}), 0,
         "[a for a, b in y]"},
        {"conditions", listcomp(name("x"), {clause(name("x"), name("y"), {name("p"), name("q")})}), 0,
         "[x for x in y if p if q]"},
        {"async and nested",
         listcomp(name("x"), {clause(name("x"), name("y"), {}, true), clause(name("z"), name("x"))}), 0,
         "[x async for x in y for z in x]"},
        {"iter conditional", listcomp(name("x"), {clause(name("x"), cond(name("a"), name("b"), name("c")))}), 0,
         "[x for x in (a if b else c)]"},
        {"iter or", listcomp(name("x"), {clause(name("x"), boolop(BoolOp::Or, {name("a"), name("b")}))}), 0,
         "[x for x in a or b]"},
        {"condition lambda", listcomp(name("x"), {clause(name("x"), name("y"), {lambda(name("x"))})}), 0,
         "[x for x in y if (lambda: x)]"},
        {"element conditional", listcomp(cond(name("a"), name("b"), name("c")), {clause(name("x"), name("y"))}), 0,
         "[a if b else c for x in y]"},
        {"element tuple", listcomp(tuple({name("a"), name("b")}), {clause(name("x"), name("y"))}), 0,
         "[(a, b) for x in y]"},
        {"dict comp", dictcomp(name("k"), name("v"), {clause(tuple({name("k"), name("v")}), name("d"))}), 0,
         "{k: v for k, v in d}"},
        {"set comp", ExprSetComp{{}, {}, boxed(name("x")), {}}, 0, "{x}"},
        {"generator", generator(name("x"), {clause(name("x"), name("y"))}), 0, "(x for x in y)"},
        {"generator as operand", attr(generator(name("x"), {clause(name("x"), name("y"))}), "send"), 0,
         "(x for x in y).send"},
    });
}

TEST(Forms, LambdaParameters) {
    Parameters all{};
    all.posonlyargs.push_back(param("a"));
    all.args.push_back(param("b", num(1)));
    all.vararg = star_param("c");
    all.kwonlyargs.push_back(param("d"));
    all.kwarg = star_param("e");
    Parameters kwonly{};
    kwonly.kwonlyargs.push_back(param("k"));
    Parameters tuple_default{};
    tuple_default.args.push_back(param("x", tuple({num(1), num(2)})));
    Parameters lambda_default{};
    lambda_default.args.push_back(param("x", lambda(num(1))));
    Parameters only_star{};
    only_star.vararg = star_param("args");
    Parameters two_posonly{};
    two_posonly.posonlyargs.push_back(param("a"));
    two_posonly.posonlyargs.push_back(param("b", num(2)));
    run({
        {"all kinds", lambda(num(0), all), 0, "lambda a, /, b=1, *c, d, **e: 0"},
        {"bare star", lambda(num(0), kwonly), 0, "lambda *, k: 0"},
        {"tuple default", lambda(name("x"), tuple_default), 0, "lambda x=(1, 2): x"},
        {"lambda default", lambda(num(0), lambda_default), 0, "lambda x=lambda: 1: 0"},
        {"star args", lambda(num(0), only_star), 0, "lambda *args: 0"},
        {"two positional-only", lambda(num(0), two_posonly), 0, "lambda a, b=2, /: 0"},
    });
}

TEST(Forms, OtherVariants) {
    run({
        {"ipy shell", ExprIpyEscapeCommand{{}, {}, IpyEscapeKind::Shell, "ls"}, 0, "!ls"},
        {"ipy help2", ExprIpyEscapeCommand{{}, {}, IpyEscapeKind::Help2, "x"}, 0, "??x"},
        {"ipy magic2", ExprIpyEscapeCommand{{}, {}, IpyEscapeKind::Magic2, "time"}, 0, "%%time"},
        {"ipy paren", ExprIpyEscapeCommand{{}, {}, IpyEscapeKind::Paren, "f"}, 0, "/f"},
        {"name", name("über"), 0, "über"},
    });
}

TEST(InterpolatedStrings, ReplacementFields) {
    // f"{x!r:>{w}}"
    Expr conversion_and_spec = fstring({field(name("x"), ConversionFlag::Repr,
                                              std::vector<InterpolatedStringElement>{lit(">"), field(name("w"))})});
    // f"{x=}"
    Expr debug = fstring({field(name("x"), ConversionFlag::None, std::nullopt, DebugText{"", "="})});
    Expr debug_spaced = fstring({field(bin(name("a"), Add, name("b")), ConversionFlag::Repr, std::nullopt,
                                       DebugText{" ", " = "})});
    // f"{{}}"
    Expr braces = fstring({lit("{}")});
    // f"{ {1: 2} }"
    Expr dict_field = fstring({field(dict({{num(1), num(2)}}))});
    Expr set_field = fstring({field(set({num(1)}))});
    // f'it\'s {x}'
    Expr own_quote = fstring({lit("it's "), field(name("x"))}, QuoteStyle::Single);
    Expr named_field = fstring({field(named("y", num(1)))});
    Expr lambda_field = fstring({field(lambda(num(1)))});
    Expr lambda_nested = fstring({field(cond(name("a"), name("b"), lambda(num(1))))});
    Expr lambda_in_call = fstring({field(call(name("f"), {lambda(num(1))}))});
    Expr lambda_in_spec = fstring({field(name("x"), ConversionFlag::None,
                                         std::vector<InterpolatedStringElement>{field(lambda(num(1)))})});
    Expr tuple_field = fstring({field(tuple({name("a"), name("b")}))});
    Expr conversions = fstring({field(name("a"), ConversionFlag::Str), field(name("b"), ConversionFlag::Ascii)});
    Expr escapes = fstring({lit("a\nb\\"), field(name("x"))});
    Expr raw = fstring(std::vector<FStringValuePart>{
        fstring_part({lit("\\d{"), field(name("x"))}, QuoteStyle::Single, RawPrefix::raw_prefix(true))});
    Expr concatenated = fstring(std::vector<FStringValuePart>{str_part("a"), fstring_part({field(name("x"))})});
    Expr triple = fstring(std::vector<FStringValuePart>{
        fstring_part({lit("\"q\"\n")}, QuoteStyle::Double, RawPrefix{}, true)});
    Expr nested_string = fstring({field(call(attr(str("\n"), "join"), {name("x")}))});
    TString t{{}, {}, {lit("a "), field(name("x"))}, TStringFlags{QuoteStyle::Single, RawPrefix{}, false, false}};
    Expr tstring = ExprTString{{}, {}, TStringValue{t}};
    TString t2 = t;
    t2.flags.prefix = RawPrefix::raw_prefix(false);
    Expr tstrings = ExprTString{{}, {}, TStringValue{std::vector<TString>{t, t2}}};
    run({
        {"conversion and nested spec", conversion_and_spec, 0, "f\"{x!r:>{w}}\""},
        {"debug", debug, 0, "f\"{x=}\""},
        {"debug spaced", debug_spaced, 0, "f\"{ a + b = !r}\""},
        {"doubled braces", braces, 0, "f\"{{}}\""},
        {"dict needs a space", dict_field, 0, "f\"{ {1: 2}}\""},
        {"set needs a space", set_field, 0, "f\"{ {1}}\""},
        {"own quote escaped", own_quote, 0, "f'it\\'s {x}'"},
        {"named parenthesised", named_field, 0, "f\"{(y := 1)}\""},
        {"lambda parenthesised", lambda_field, 0, "f\"{(lambda: 1)}\""},
        {"lambda deep in field", lambda_nested, 0, "f\"{a if b else (lambda: 1)}\""},
        {"lambda inside brackets", lambda_in_call, 0, "f\"{f(lambda: 1)}\""},
        {"lambda in spec field", lambda_in_spec, 0, "f\"{x:{(lambda: 1)}}\""},
        {"bare tuple", tuple_field, 0, "f\"{a, b}\""},
        {"conversions", conversions, 0, "f\"{a!s}{b!a}\""},
        {"escapes", escapes, 0, "f\"a\\nb\\\\{x}\""},
        {"raw", raw, 0, "Rf'\\d{{{x}'"},
        {"with plain part", concatenated, 0, "'a' f\"{x}\""},
        {"triple", triple, 0, "f\"\"\"\\\"q\\\"\\n\"\"\""},
        {"nested string", nested_string, 0, "f\"{'\\n'.join(x)}\""},
        {"t-string", tstring, 0, "t'a {x}'"},
        {"t-strings", tstrings, 0, "t'a {x}' rt'a {x}'"},
        {"lambda after field closes", call(name("f"), {lambda_field, lambda(num(2))}), 0,
         "f(f\"{(lambda: 1)}\", lambda: 2)"},
    });
}

TEST(Generator, LineBreaksAndSettings) {
    Generator g("  ", LineEnding::CrLf);
    EXPECT_EQ(g.indent_unit(), "  ");
    g.write("a");
    g.newlines(2);
    EXPECT_EQ(g.text(), "a");
    unparse_expr(g, name("b"), 0);
    EXPECT_EQ(g.text(), "a\r\n\r\nb");
    Generator cr("", LineEnding::Cr);
    cr.newlines(1);
    cr.write('x');
    EXPECT_EQ(cr.take(), "\rx");
    EXPECT_EQ(expression_to_source(bin(name("a"), Add, num(1))), std::optional<std::string>("a + 1"));
}

TEST(Generator, LongChainsPrintWithoutDeepRecursion) {
    constexpr int kLength = 200000;
    Expr sum = name("a0");
    Expr dotted = name("o");
    Expr calls = name("f");
    for (int i = 1; i < kLength; ++i) {
        sum = bin(std::move(sum), i % 2 ? Add : Sub, name("a"));
        dotted = attr(std::move(dotted), "b");
        calls = call(std::move(calls), {});
    }
    auto text = expression_to_source(sum);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 2 + (kLength - 1) * 4u);
    EXPECT_EQ(text->substr(0, 12), "a0 + a - a +");
    text = expression_to_source(dotted);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), 1 + (kLength - 1) * 2u);
    text = expression_to_source(calls);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->substr(0, 5), "f()()");
}

TEST(Generator, NestingPastTheLimitIsReported) {
    Expr deep = name("x");
    for (uint32_t i = 0; i < kMaxPrintDepth + 10; ++i) deep = unary(UnaryOp::USub, std::move(deep));
    EXPECT_FALSE(expression_to_source(deep).has_value());
    // Inside a replacement field the nested job's failure reaches the outer one.
    Expr in_field = fstring({field(std::move(deep))});
    EXPECT_FALSE(expression_to_source(in_field).has_value());
    Expr shallow = name("x");
    for (uint32_t i = 0; i < kMaxPrintDepth - 10; ++i) shallow = unary(UnaryOp::USub, std::move(shallow));
    auto text = expression_to_source(shallow);
    ASSERT_TRUE(text);
    EXPECT_EQ(text->size(), kMaxPrintDepth - 10 + 1);
}

}  // namespace
}  // namespace lumra::codegen::test
