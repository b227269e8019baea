// The expression tree: debug renderings, deep copies, child walks, helpers.
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <thread>

#include "pyexpr/ast.h"

namespace lumra::pyexpr {
namespace {

Expr name(std::string_view id, uint32_t start, uint32_t end, ExprContext ctx = ExprContext::Load) {
    return make_name(id, TextRange(start, end), ctx);
}

TEST(AstDebugTest, ExpressionNodes) {
    struct Case {
        Expr expr;
        std::string_view expected;
    };
    std::vector<Case> cases;
    cases.push_back({ExprAwait{{}, TextRange(2, 9), boxed(name("x", 8, 9))},
                     "Await(ExprAwait { node_index: NodeIndex(None), range: 2..9, value: Name(ExprName { "
                     "node_index: NodeIndex(None), range: 8..9, id: Name(\"x\"), ctx: Load }) })"});
    cases.push_back({ExprYield{{}, TextRange(0, 5), Box<Expr>()},
                     "Yield(ExprYield { node_index: NodeIndex(None), range: 0..5, value: None })"});
    cases.push_back({ExprYield{{}, TextRange(0, 7), boxed(make_none_literal(TextRange(6, 7)))},
                     "Yield(ExprYield { node_index: NodeIndex(None), range: 0..7, value: Some(NoneLiteral("
                     "ExprNoneLiteral { node_index: NodeIndex(None), range: 6..7 })) })"});
    {
        std::vector<Expr> comparators;
        comparators.push_back(name("b", 4, 5));
        comparators.push_back(name("c", 8, 9));
        cases.push_back({ExprCompare{{}, TextRange(0, 9), boxed(name("a", 0, 1)), {CmpOp::Lt, CmpOp::NotIn},
                                     std::move(comparators)},
                         "Compare(ExprCompare { node_index: NodeIndex(None), range: 0..9, left: Name(ExprName { "
                         "node_index: NodeIndex(None), range: 0..1, id: Name(\"a\"), ctx: Load }), ops: [Lt, NotIn], "
                         "comparators: [Name(ExprName { node_index: NodeIndex(None), range: 4..5, id: Name(\"b\"), "
                         "ctx: Load }), Name(ExprName { node_index: NodeIndex(None), range: 8..9, id: Name(\"c\"), "
                         "ctx: Load })] })"});
    }
    {
        std::vector<Expr> elts;
        elts.push_back(ExprStarred{{}, TextRange(1, 3), boxed(name("a", 2, 3, ExprContext::Store)), ExprContext::Store});
        cases.push_back({ExprList{{}, TextRange(0, 4), std::move(elts), ExprContext::Store},
                         "List(ExprList { node_index: NodeIndex(None), range: 0..4, elts: [Starred(ExprStarred { "
                         "node_index: NodeIndex(None), range: 1..3, value: Name(ExprName { node_index: "
                         "NodeIndex(None), range: 2..3, id: Name(\"a\"), ctx: Store }), ctx: Store })], ctx: Store })"});
    }
    cases.push_back({ExprAttribute{{}, TextRange(0, 3), boxed(name("a", 0, 1)), make_identifier("b", TextRange(2, 3)),
                                   ExprContext::Load},
                     "Attribute(ExprAttribute { node_index: NodeIndex(None), range: 0..3, value: Name(ExprName { "
                     "node_index: NodeIndex(None), range: 0..1, id: Name(\"a\"), ctx: Load }), attr: Identifier { "
                     "id: Name(\"b\"), range: 2..3, node_index: NodeIndex(None) }, ctx: Load })"});
    cases.push_back({ExprNumberLiteral{{}, TextRange(0, 2), NumberValue(ComplexValue{0.0, 2.0})},
                     "NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: 0..2, value: Complex { "
                     "real: 0.0, imag: 2.0 } })"});
    cases.push_back({ExprNumberLiteral{{}, TextRange(0, 3), NumberValue(1.5)},
                     "NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: 0..3, value: Float(1.5) })"});
    cases.push_back({ExprNumberLiteral{{}, TextRange(0, 21), NumberValue(IntValue::big("123456789012345678901"))},
                     "NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: 0..21, value: "
                     "Int(123456789012345678901) })"});
    cases.push_back({ExprBooleanLiteral{{}, TextRange(0, 4), true},
                     "BooleanLiteral(ExprBooleanLiteral { node_index: NodeIndex(None), range: 0..4, value: true })"});
    cases.push_back({ExprEllipsisLiteral{{}, TextRange(0, 3)},
                     "EllipsisLiteral(ExprEllipsisLiteral { node_index: NodeIndex(None), range: 0..3 })"});
    cases.push_back({ExprSlice{{}, TextRange(2, 5), boxed(make_int_literal(1, TextRange(2, 3))), Box<Expr>(),
                               Box<Expr>()},
                     "Slice(ExprSlice { node_index: NodeIndex(None), range: 2..5, lower: Some(NumberLiteral("
                     "ExprNumberLiteral { node_index: NodeIndex(None), range: 2..3, value: Int(1) })), "
                     "upper: None, step: None })"});
    cases.push_back({make_string_literal("a\"b", TextRange(0, 6)),
                     "StringLiteral(ExprStringLiteral { node_index: NodeIndex(None), range: 0..6, value: "
                     "StringLiteralValue { inner: Single(StringLiteral { range: 0..6, node_index: NodeIndex(None), "
                     "value: \"a\\\"b\", flags: StringLiteralFlags { quote_style: Single, prefix: Empty, "
                     "triple_quoted: false, unclosed: false } }) } })"});
    {
        BytesLiteralFlags flags;
        flags.quote_style = QuoteStyle::Double;
        flags.prefix = RawPrefix::raw_prefix(true);
        cases.push_back(
            {ExprBytesLiteral{{}, TextRange(0, 6), BytesLiteralValue{BytesLiteral{TextRange(0, 6), {}, "hi", flags}}},
             "BytesLiteral(ExprBytesLiteral { node_index: NodeIndex(None), range: 0..6, value: BytesLiteralValue { "
             "inner: Single(BytesLiteral { range: 0..6, node_index: NodeIndex(None), value: [104, 105], flags: "
             "BytesLiteralFlags { quote_style: Double, prefix: Raw { uppercase_r: true }, triple_quoted: false, "
             "unclosed: false } }) } })"});
    }
    {
        // f"a{x!r:>{w}}"
        InterpolatedElement nested{TextRange(9, 12), {}, boxed(name("w", 10, 11)), std::nullopt, ConversionFlag::None,
                                   std::nullopt};
        InterpolatedStringFormatSpec spec{TextRange(8, 12), {}, {}};
        spec.elements.emplace_back(InterpolatedStringLiteralElement{TextRange(8, 9), {}, ">"});
        spec.elements.emplace_back(std::move(nested));
        InterpolatedElement field{TextRange(3, 13), {}, boxed(name("x", 4, 5)), DebugText{"", "="}, ConversionFlag::Repr,
                                  std::move(spec)};
        FString fs{TextRange(0, 14), {}, {}, FStringFlags{QuoteStyle::Double, {}, false, false}};
        fs.elements.emplace_back(InterpolatedStringLiteralElement{TextRange(2, 3), {}, "a"});
        fs.elements.emplace_back(std::move(field));
        cases.push_back(
            {ExprFString{{}, TextRange(0, 14), FStringValue{FStringValuePart(std::move(fs))}},
             "FString(ExprFString { node_index: NodeIndex(None), range: 0..14, value: FStringValue { inner: "
             "Single(FString(FString { range: 0..14, node_index: NodeIndex(None), elements: [Literal("
             "InterpolatedStringLiteralElement { range: 2..3, node_index: NodeIndex(None), value: \"a\" }), "
             "Interpolation(InterpolatedElement { range: 3..13, node_index: NodeIndex(None), expression: Name("
             "ExprName { node_index: NodeIndex(None), range: 4..5, id: Name(\"x\"), ctx: Load }), debug_text: "
             "Some(DebugText { leading: \"\", trailing: \"=\" }), conversion: Repr, format_spec: Some("
             "InterpolatedStringFormatSpec { range: 8..12, node_index: NodeIndex(None), elements: [Literal("
             "InterpolatedStringLiteralElement { range: 8..9, node_index: NodeIndex(None), value: \">\" }), "
             "Interpolation(InterpolatedElement { range: 9..12, node_index: NodeIndex(None), expression: Name("
             "ExprName { node_index: NodeIndex(None), range: 10..11, id: Name(\"w\"), ctx: Load }), debug_text: "
             "None, conversion: None, format_spec: None })] }) })], flags: FStringFlags { quote_style: Double, "
             "prefix: Regular, triple_quoted: false, unclosed: false } })) } })"});
    }
    {
        // lambda *a, b=1, **k: a
        Parameters params{TextRange(7, 21), {}, {}, {}, {}, {}, {}};
        params.vararg = Parameter{TextRange(7, 9), {}, make_identifier("a", TextRange(8, 9)), {}};
        params.kwonlyargs.push_back(ParameterWithDefault{
            TextRange(11, 14), {}, Parameter{TextRange(11, 12), {}, make_identifier("b", TextRange(11, 12)), {}},
            boxed(make_int_literal(1, TextRange(13, 14)))});
        params.kwarg = Parameter{TextRange(16, 19), {}, make_identifier("k", TextRange(18, 19)), {}};
        cases.push_back(
            {ExprLambda{{}, TextRange(0, 22), Box<Parameters>(std::move(params)), boxed(name("a", 21, 22))},
             "Lambda(ExprLambda { node_index: NodeIndex(None), range: 0..22, parameters: Some(Parameters { range: "
             "7..21, node_index: NodeIndex(None), posonlyargs: [], args: [], vararg: Some(Parameter { range: 7..9, "
             "node_index: NodeIndex(None), name: Identifier { id: Name(\"a\"), range: 8..9, node_index: "
             "NodeIndex(None) }, annotation: None }), kwonlyargs: [ParameterWithDefault { range: 11..14, node_index: "
             "NodeIndex(None), parameter: Parameter { range: 11..12, node_index: NodeIndex(None), name: Identifier { "
             "id: Name(\"b\"), range: 11..12, node_index: NodeIndex(None) }, annotation: None }, default: Some("
             "NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: 13..14, value: Int(1) "
             "})) }], kwarg: Some(Parameter { range: 16..19, node_index: NodeIndex(None), name: Identifier { id: "
             "Name(\"k\"), range: 18..19, node_index: NodeIndex(None) }, annotation: None }) }), body: Name(ExprName { "
             "node_index: NodeIndex(None), range: 21..22, id: Name(\"a\"), ctx: Load }) })"});
    }
    {
        // f(*a, **k)
        std::vector<Expr> args;
        args.push_back(ExprStarred{{}, TextRange(2, 4), boxed(name("a", 3, 4)), ExprContext::Load});
        std::vector<Keyword> kws;
        kws.push_back(Keyword{TextRange(6, 9), {}, std::nullopt, name("k", 8, 9)});
        Expr call = make_call(name("f", 0, 1), std::move(args), std::move(kws), TextRange(0, 10));
        call.as<ExprCall>().arguments.range = TextRange(1, 10);
        cases.push_back(
            {std::move(call),
             "Call(ExprCall { node_index: NodeIndex(None), range: 0..10, func: Name(ExprName { node_index: "
             "NodeIndex(None), range: 0..1, id: Name(\"f\"), ctx: Load }), arguments: Arguments { range: 1..10, "
             "node_index: NodeIndex(None), args: [Starred(ExprStarred { node_index: NodeIndex(None), range: 2..4, "
             "value: Name(ExprName { node_index: NodeIndex(None), range: 3..4, id: Name(\"a\"), ctx: Load }), ctx: "
             "Load })], keywords: [Keyword { range: 6..9, node_index: NodeIndex(None), arg: None, value: Name("
             "ExprName { node_index: NodeIndex(None), range: 8..9, id: Name(\"k\"), ctx: Load }) }] } })"});
    }
    {
        // [x for x in y if x]
        std::vector<Expr> ifs;
        ifs.push_back(name("x", 17, 18));
        std::vector<Comprehension> gens;
        gens.push_back(Comprehension{TextRange(3, 18), {}, name("x", 7, 8, ExprContext::Store), name("y", 12, 13),
                                     std::move(ifs), false});
        cases.push_back(
            {ExprListComp{{}, TextRange(0, 19), boxed(name("x", 1, 2)), std::move(gens)},
             "ListComp(ExprListComp { node_index: NodeIndex(None), range: 0..19, elt: Name(ExprName { node_index: "
             "NodeIndex(None), range: 1..2, id: Name(\"x\"), ctx: Load }), generators: [Comprehension { range: 3..18, "
             "node_index: NodeIndex(None), target: Name(ExprName { node_index: NodeIndex(None), range: 7..8, id: "
             "Name(\"x\"), ctx: Store }), iter: Name(ExprName { node_index: NodeIndex(None), range: 12..13, id: "
             "Name(\"y\"), ctx: Load }), ifs: [Name(ExprName { node_index: NodeIndex(None), range: 17..18, id: "
             "Name(\"x\"), ctx: Load })], is_async: false }] })"});
    }
    {
        std::vector<DictItem> items;
        items.push_back(DictItem{Box<Expr>(), name("m", 3, 4)});
        items.push_back(DictItem{boxed(make_int_literal(1, TextRange(6, 7))), make_int_literal(2, TextRange(9, 10))});
        cases.push_back(
            {ExprDict{{}, TextRange(0, 11), std::move(items)},
             "Dict(ExprDict { node_index: NodeIndex(None), range: 0..11, items: [DictItem { key: None, value: Name("
             "ExprName { node_index: NodeIndex(None), range: 3..4, id: Name(\"m\"), ctx: Load }) }, DictItem { key: "
             "Some(NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: 6..7, value: "
             "Int(1) })), value: NumberLiteral(ExprNumberLiteral { node_index: NodeIndex(None), range: "
             "9..10, value: Int(2) }) }] })"});
    }
    {
        StringLiteralFlags raw;
        raw.prefix = StrPrefix::raw(false);
        std::vector<StringLiteral> parts;
        parts.push_back(StringLiteral{TextRange(0, 3), {}, "a", {}});
        parts.push_back(StringLiteral{TextRange(4, 8), {}, "b", raw});
        cases.push_back(
            {ExprStringLiteral{{}, TextRange(0, 8), StringLiteralValue{ConcatenatedStringLiteral(std::move(parts))}},
             "StringLiteral(ExprStringLiteral { node_index: NodeIndex(None), range: 0..8, value: StringLiteralValue { "
             "inner: Concatenated(ConcatenatedStringLiteral { strings: [StringLiteral { range: 0..3, node_index: "
             "NodeIndex(None), value: \"a\", flags: StringLiteralFlags { quote_style: Single, prefix: Empty, "
             "triple_quoted: false, unclosed: false } }, StringLiteral { range: 4..8, node_index: NodeIndex(None), "
             "value: \"b\", flags: StringLiteralFlags { quote_style: Single, prefix: Raw { uppercase: false }, "
             "triple_quoted: false, unclosed: false } }], value: \"ab\" }) } })"});
    }
    cases.push_back({ExprIpyEscapeCommand{{}, TextRange(0, 3), IpyEscapeKind::Magic2, "ls"},
                     "IpyEscapeCommand(ExprIpyEscapeCommand { node_index: NodeIndex(None), range: 0..3, kind: Magic2, "
                     "value: \"ls\" })"});
    for (const auto& c : cases) EXPECT_EQ(debug_string(c.expr), c.expected);
}

TEST(AstDebugTest, WithoutRanges) {
    const Expr a = ExprAwait{{}, TextRange(2, 9), boxed(make_name("x", TextRange(8, 9)))};
    const Expr b = ExprAwait{{}, TextRange(0, 7), boxed(make_name("x", TextRange(6, 7)))};
    EXPECT_NE(debug_string(a), debug_string(b));
    EXPECT_EQ(debug_string_without_ranges(a), debug_string_without_ranges(b));
    EXPECT_EQ(debug_string_without_ranges(a),
              "Await(ExprAwait { node_index: NodeIndex(None), range: .., value: Name(ExprName { node_index: "
              "NodeIndex(None), range: .., id: Name(\"x\"), ctx: Load }) })");
    // Ranges are back afterwards.
    EXPECT_NE(debug_string(a).find("2..9"), std::string::npos);
}

TEST(AstDebugTest, Floats) {
    struct Case {
        double value;
        std::string_view text;
    };
    const Case cases[] = {
        {1.0, "1.0"},          {0.1, "0.1"},         {1.5, "1.5"},
        {100.0, "100.0"},      {1e15, "1000000000000000.0"}, {1e16, "1e16"},
        {1.5e16, "1.5e16"},    {0.0001, "0.0001"},   {0.00001, "1e-5"},
        {1.2345e-7, "1.2345e-7"}, {1e300, "1e300"},  {0.0, "0.0"},
        {-0.0, "-0.0"},        {-2.5, "-2.5"},       {std::numeric_limits<double>::infinity(), "inf"},
        {-std::numeric_limits<double>::infinity(), "-inf"}, {std::nan(""), "NaN"},
        {123456789.125, "123456789.125"},
    };
    for (const auto& c : cases) {
        std::string out;
        debug_write_float(out, c.value);
        EXPECT_EQ(out, c.text);
    }
}

TEST(AstDebugTest, StringEscapes) {
    using namespace std::string_view_literals;
    struct Case {
        std::string_view text;
        std::string_view quoted;
    };
    const Case cases[] = {
        {"plain", "\"plain\""},
        {"a\"b\\c'", "\"a\\\"b\\\\c'\""},
        {"\n\t\r\0"sv, "\"\\n\\t\\r\\0\""},
        {"\x01\x7f", "\"\\u{1}\\u{7f}\""},
        {"\xc3\xa9 \xe2\x80\xa2", "\"\xc3\xa9 \xe2\x80\xa2\""},
        {"\xe2\x80\x8b", "\"\\u{200b}\""},  // a format character
        {"e\xcc\x81", "\"e\\u{301}\""},     // a combining mark
        {"\xc2\xa0", "\"\\u{a0}\""},        // a space other than the space
        {"\xf0\x9f\x98\x80", "\"\xf0\x9f\x98\x80\""},
    };
    for (const auto& c : cases) {
        std::string out;
        debug_write_str(out, c.text);
        EXPECT_EQ(out, c.quoted);
    }
}

TEST(AstTest, KindsInFixedOrder) {
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprBoolOp>), 0);
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprAwait>), 12);
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprCall>), 16);
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprStringLiteral>), 19);
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprName>), 28);
    EXPECT_EQ(static_cast<int>(expr_kind_of<ExprIpyEscapeCommand>), 32);
    EXPECT_EQ(expr_kind_name(ExprKind::EllipsisLiteral), "EllipsisLiteral");
    EXPECT_EQ(make_name("x").kind(), ExprKind::Name);
    EXPECT_EQ(Expr().kind(), ExprKind::Name);
    EXPECT_EQ(Expr().as<ExprName>().ctx, ExprContext::Invalid);
    EXPECT_THROW(make_name("x").as<ExprCall>(), InternalFault);
}

TEST(AstTest, DeepCopyIsIndependent) {
    std::vector<Expr> args;
    args.push_back(make_string_literal("s", TextRange(2, 5)));
    Expr original = make_call(make_attribute(make_name("a"), "b"), std::move(args), {}, TextRange(0, 6));
    const std::string before = debug_string(original);

    Expr copy = original;
    EXPECT_EQ(debug_string(copy), before);
    auto& call = copy.as<ExprCall>();
    call.func->as<ExprAttribute>().value->as<ExprName>().id = Name("changed");
    call.arguments.args[0] = make_int_literal(7);
    call.arguments.args.push_back(make_none_literal());
    copy.set_range(TextRange(1, 2));

    EXPECT_EQ(debug_string(original), before);
    EXPECT_NE(debug_string(copy), before);
    EXPECT_NE(original.as<ExprCall>().func.get(), call.func.get());

    // Assigning a copy over an existing tree replaces it wholly.
    Expr target = make_name("t");
    target = original;
    EXPECT_EQ(debug_string(target), before);
}

TEST(AstTest, ForEachChildVisitsInFieldOrder) {
    // f(a, *b, k=c)[d:e]
    std::vector<Expr> args;
    args.push_back(make_name("a"));
    args.push_back(ExprStarred{{}, {}, boxed(make_name("b")), ExprContext::Load});
    std::vector<Keyword> kws;
    kws.push_back(Keyword{{}, {}, make_identifier("k"), make_name("c")});
    Expr call = make_call(make_name("f"), std::move(args), std::move(kws));
    Expr sub = ExprSubscript{{}, {}, boxed(std::move(call)),
                             boxed(ExprSlice{{}, {}, boxed(make_name("d")), boxed(make_name("e")), Box<Expr>()}),
                             ExprContext::Load};

    std::vector<std::string> seen;
    std::function<void(const Expr&)> walk = [&](const Expr& e) {
        if (const auto* n = e.as_if<ExprName>()) seen.push_back(n->id.str());
        for_each_child(e, walk);
    };
    walk(sub);
    EXPECT_EQ(seen, (std::vector<std::string>{"f", "a", "b", "c", "d", "e"}));

    // The mutable walk can rewrite children in place.
    for_each_child(sub, [](Expr& child) {
        if (child.is<ExprSlice>()) child = make_name("s");
    });
    EXPECT_EQ(sub.as<ExprSubscript>().slice->as<ExprName>().id, "s");
}

TEST(AstTest, ForEachChildReachesInterpolations) {
    InterpolatedStringFormatSpec spec{{}, {}, {}};
    spec.elements.emplace_back(InterpolatedElement{{}, {}, boxed(make_name("w")), std::nullopt, ConversionFlag::None,
                                                   std::nullopt});
    FString fs{{}, {}, {}, {}};
    fs.elements.emplace_back(InterpolatedStringLiteralElement{{}, {}, "lit"});
    fs.elements.emplace_back(
        InterpolatedElement{{}, {}, boxed(make_name("x")), std::nullopt, ConversionFlag::None, std::move(spec)});
    std::vector<FStringValuePart> parts;
    parts.emplace_back(StringLiteral{{}, {}, "p", {}});
    parts.emplace_back(std::move(fs));
    Expr e = ExprFString{{}, {}, FStringValue{std::move(parts)}};
    std::vector<std::string> seen;
    for_each_child(e, [&](const Expr& child) { seen.push_back(child.as<ExprName>().id.str()); });
    EXPECT_EQ(seen, (std::vector<std::string>{"x", "w"}));
    EXPECT_TRUE(e.as<ExprFString>().value.is_implicit_concatenated());
    EXPECT_EQ(e.as<ExprFString>().value.parts().size(), 2u);
}

TEST(AstTest, DeepTreesAreDestroyedWithoutRecursionLimit) {
    Expr deep = make_name("x");
    for (int i = 0; i < 200000; ++i) {
        deep = ExprUnaryOp{{}, {}, UnaryOp::Not, boxed(std::move(deep))};
    }
    Expr lists = make_none_literal();
    for (int i = 0; i < 200000; ++i) {
        std::vector<Expr> elts;
        elts.push_back(std::move(lists));
        lists = ExprList{{}, {}, std::move(elts), ExprContext::Load};
    }
    // Destroyed at the end of scope; reaching the next line is the check.
    SUCCEED();
}

TEST(AstTest, ConcatenatedValueIsJoinedOnceAndResetByCopy) {
    std::vector<StringLiteral> parts;
    parts.push_back(StringLiteral{{}, {}, "ab", {}});
    parts.push_back(StringLiteral{{}, {}, "cd", {}});
    ConcatenatedStringLiteral c(std::move(parts));
    std::string_view first;
    std::thread t([&] { first = c.value(); });
    const std::string& second = c.value();
    t.join();
    EXPECT_EQ(second, "abcd");
    EXPECT_EQ(first, "abcd");
    EXPECT_EQ(&c.value(), &second);

    ConcatenatedStringLiteral copy = c;
    copy.strings[0].value = "xy";
    EXPECT_EQ(copy.value(), "xycd");
    EXPECT_EQ(c.value(), "abcd");
    StringLiteralValue value{std::move(copy)};
    EXPECT_EQ(value.to_str(), "xycd");
}

TEST(AstTest, FlagConversions) {
    using F = StringTokenFlags;
    const StringLiteralFlags s = string_literal_flags(F(F::kDoubleQuotes | F::kTripleQuoted | F::kRPrefixUpper));
    EXPECT_EQ(s.quote_style, QuoteStyle::Double);
    EXPECT_TRUE(s.triple_quoted);
    EXPECT_EQ(s.prefix, StrPrefix::raw(true));
    EXPECT_EQ(s.prefix.text(), "R");
    EXPECT_EQ(string_literal_flags(F(F::kUPrefix | F::kUnclosed)).prefix.text(), "u");
    EXPECT_TRUE(string_literal_flags(F(F::kUnclosed)).unclosed);

    const BytesLiteralFlags b = bytes_literal_flags(F(F::kBPrefix | F::kRPrefixLower));
    EXPECT_EQ(bytes_prefix_text(b.prefix), "rb");
    EXPECT_EQ(fstring_prefix_text(fstring_flags(F(F::kFPrefix | F::kRPrefixUpper)).prefix), "Rf");
    EXPECT_EQ(tstring_prefix_text(tstring_flags(F(F::kTPrefix)).prefix), "t");

    struct Fault {
        uint16_t bits;
        std::string_view message;
    };
    const Fault faults[] = {
        {F::kBPrefix | F::kRPrefixUpper,
         "internal error: entered unreachable code: Should never attempt to convert Rb into a regular string"},
        {F::kFPrefix, "internal error: entered unreachable code: Should never attempt to convert f into a regular string"},
        {F::kTPrefix | F::kRPrefixLower,
         "internal error: entered unreachable code: Should never attempt to convert rt into a regular string"},
    };
    for (const auto& f : faults) {
        try {
            (void)string_literal_flags(F(f.bits));
            ADD_FAILURE() << "no fault for " << f.bits;
        } catch (const InternalFault& e) {
            EXPECT_EQ(std::string_view(e.what()), f.message);
        }
    }
}

TEST(AstTest, NamesKeepShortTextInline) {
    const Name short_name("exactly_twenty_four_byte");
    EXPECT_EQ(short_name.size(), 24u);
    const Name long_name("a_name_that_is_longer_than_twenty_four_bytes");
    Name copy = long_name;
    Name moved = std::move(copy);
    EXPECT_EQ(moved, long_name);
    EXPECT_TRUE(copy.empty());
    copy = short_name;
    EXPECT_EQ(copy.view(), "exactly_twenty_four_byte");
    copy = moved;
    EXPECT_EQ(copy, "a_name_that_is_longer_than_twenty_four_bytes");
}

TEST(AstTest, OperatorTexts) {
    EXPECT_EQ(source_text(UnaryOp::Not), "not");
    EXPECT_EQ(source_text(UnaryOp::Invert), "~");
    EXPECT_EQ(source_text(CmpOp::IsNot), "is not");
    EXPECT_EQ(source_text(Operator::MatMult), "@");
    EXPECT_EQ(source_text(Operator::FloorDiv), "//");
    EXPECT_EQ(enum_name(Operator::FloorDiv), "FloorDiv");
    EXPECT_EQ(ipy_escape_kind_from_char('%'), IpyEscapeKind::Magic);
    EXPECT_EQ(ipy_escape_kind_from_pair('!', '!'), IpyEscapeKind::ShCap);
    EXPECT_FALSE(ipy_escape_kind_from_char('x').has_value());
    EXPECT_FALSE(ipy_escape_kind_from_pair('!', '?').has_value());
}

}  // namespace
}  // namespace lumra::pyexpr
