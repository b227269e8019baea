// Trees and ranges of successful parses: every operator level, grouping and
// associativity, postfix chains, collections, comprehensions, calls, lambdas
// and string concatenation. Trees are compared in the canonical dump of
// parser_dump.h ([kind, start, end, fields...]).
#include <gtest/gtest.h>

#include <string>

#include "parser_test_util.h"

namespace lumra::pyexpr {
namespace {

std::string name(int start, const char* id, const char* ctx = "Load") {
    return "[\"Name\"," + std::to_string(start) + "," + std::to_string(start + static_cast<int>(strlen(id))) + ",\"" +
           id + "\",\"" + ctx + "\"]";
}

struct TreeCase {
    const char* source;
    std::string expected;
};

void check_trees(const std::vector<TreeCase>& cases) {
    for (const TreeCase& c : cases) EXPECT_EQ(test::tree(c.source), c.expected) << "source: " << c.source;
}

TEST(ParserTree, EveryBinaryOperator) {
    const struct {
        const char* text;
        const char* op;
    } operators[] = {{"|", "BitOr"},  {"^", "BitXor"}, {"&", "BitAnd"}, {"<<", "LShift"}, {">>", "RShift"},
                     {"+", "Add"},    {"-", "Sub"},    {"*", "Mult"},   {"@", "MatMult"}, {"/", "Div"},
                     {"%", "Mod"},    {"//", "FloorDiv"}, {"**", "Pow"}};
    for (const auto& o : operators) {
        const std::string source = std::string("a ") + o.text + " b";
        const int end = static_cast<int>(source.size());
        EXPECT_EQ(test::tree(source), "[\"BinOp\",0," + std::to_string(end) + "," + name(0, "a") + ",\"" + o.op +
                                          "\"," + name(end - 1, "b") + "]")
            << source;
    }
}

TEST(ParserTree, EveryComparisonAndBooleanOperator) {
    const struct {
        const char* text;
        const char* op;
    } comparisons[] = {{"==", "Eq"}, {"!=", "NotEq"}, {"<", "Lt"},    {"<=", "LtE"}, {">", "Gt"},
                       {">=", "GtE"}, {"is", "Is"},   {"is not", "IsNot"}, {"in", "In"}, {"not in", "NotIn"}};
    for (const auto& c : comparisons) {
        const std::string source = std::string("a ") + c.text + " b";
        const int end = static_cast<int>(source.size());
        EXPECT_EQ(test::tree(source), "[\"Compare\",0," + std::to_string(end) + "," + name(0, "a") + ",[\"" + c.op +
                                          "\"],[" + name(end - 1, "b") + "]]")
            << source;
    }
    EXPECT_EQ(test::tree("a and b"), "[\"BoolOp\",0,7,\"And\",[" + name(0, "a") + "," + name(6, "b") + "]]");
    EXPECT_EQ(test::tree("a or b"), "[\"BoolOp\",0,6,\"Or\",[" + name(0, "a") + "," + name(5, "b") + "]]");
}

TEST(ParserTree, UnaryOperatorsAndAwait) {
    check_trees({
        {"-b", "[\"UnaryOp\",0,2,\"USub\"," + name(1, "b") + "]"},
        {"+b", "[\"UnaryOp\",0,2,\"UAdd\"," + name(1, "b") + "]"},
        {"~b", "[\"UnaryOp\",0,2,\"Invert\"," + name(1, "b") + "]"},
        {"not b", "[\"UnaryOp\",0,5,\"Not\"," + name(4, "b") + "]"},
        {"await b", "[\"Await\",0,7," + name(6, "b") + "]"},
        // -a ** b is the negation of a power; a ** -b is accepted.
        {"-a ** b", "[\"UnaryOp\",0,7,\"USub\",[\"BinOp\",1,7," + name(1, "a") + ",\"Pow\"," + name(6, "b") + "]]"},
        {"a ** -b", "[\"BinOp\",0,7," + name(0, "a") + ",\"Pow\",[\"UnaryOp\",5,7,\"USub\"," + name(6, "b") + "]]"},
        {"not a == b", "[\"UnaryOp\",0,10,\"Not\",[\"Compare\",4,10," + name(4, "a") + ",[\"Eq\"],[" + name(9, "b") +
                           "]]]"},
        {"await a ** b", "[\"BinOp\",0,12,[\"Await\",0,7," + name(6, "a") + "],\"Pow\"," + name(11, "b") + "]"},
    });
}

TEST(ParserTree, PrecedenceAndAssociativity) {
    check_trees({
        {"a - b - c", "[\"BinOp\",0,9,[\"BinOp\",0,5," + name(0, "a") + ",\"Sub\"," + name(4, "b") + "],\"Sub\"," +
                          name(8, "c") + "]"},
        {"a ** b ** c", "[\"BinOp\",0,11," + name(0, "a") + ",\"Pow\",[\"BinOp\",5,11," + name(5, "b") + ",\"Pow\"," +
                            name(10, "c") + "]]"},
        {"a + b * c", "[\"BinOp\",0,9," + name(0, "a") + ",\"Add\",[\"BinOp\",4,9," + name(4, "b") + ",\"Mult\"," +
                          name(8, "c") + "]]"},
        {"a | b ^ c & d", "[\"BinOp\",0,13," + name(0, "a") + ",\"BitOr\",[\"BinOp\",4,13," + name(4, "b") +
                              ",\"BitXor\",[\"BinOp\",8,13," + name(8, "c") + ",\"BitAnd\"," + name(12, "d") + "]]]"},
        {"a << b + c", "[\"BinOp\",0,10," + name(0, "a") + ",\"LShift\",[\"BinOp\",5,10," + name(5, "b") + ",\"Add\"," +
                           name(9, "c") + "]]"},
        {"a < b < c", "[\"Compare\",0,9," + name(0, "a") + ",[\"Lt\",\"Lt\"],[" + name(4, "b") + "," + name(8, "c") +
                          "]]"},
        {"a < b | c", "[\"Compare\",0,9," + name(0, "a") + ",[\"Lt\"],[[\"BinOp\",4,9," + name(4, "b") + ",\"BitOr\"," +
                          name(8, "c") + "]]]"},
        {"a and b and c", "[\"BoolOp\",0,13,\"And\",[" + name(0, "a") + "," + name(6, "b") + "," + name(12, "c") + "]]"},
        {"a or b and c", "[\"BoolOp\",0,12,\"Or\",[" + name(0, "a") + ",[\"BoolOp\",5,12,\"And\",[" + name(5, "b") +
                             "," + name(11, "c") + "]]]]"},
        {"a and b or c", "[\"BoolOp\",0,12,\"Or\",[[\"BoolOp\",0,7,\"And\",[" + name(0, "a") + "," + name(6, "b") +
                             "]]," + name(11, "c") + "]]"},
        {"a if b else c if d else e",
         "[\"IfExp\",0,25," + name(5, "b") + "," + name(0, "a") + ",[\"IfExp\",12,25," + name(17, "d") + "," +
             name(12, "c") + "," + name(24, "e") + "]]"},
        // A parenthesized expression keeps the inner range; the operator node starts at the parenthesis.
        {"(a)", name(1, "a")},
        {"(a + b) * c", "[\"BinOp\",0,11,[\"BinOp\",1,6," + name(1, "a") + ",\"Add\"," + name(5, "b") + "],\"Mult\"," +
                            name(10, "c") + "]"},
        {"a,", "[\"Tuple\",0,2,[" + name(0, "a") + "],\"Load\"]"},
        {"a, b", "[\"Tuple\",0,4,[" + name(0, "a") + "," + name(3, "b") + "],\"Load\"]"},
    });
}

TEST(ParserTree, PostfixChainsStartAtTheirAtom) {
    check_trees({
        {"f(a)(b)[c].d",
         "[\"Attribute\",0,12,[\"Subscript\",0,10,[\"Call\",0,7,[\"Call\",0,4," + name(0, "f") + ",[" + name(2, "a") +
             "],[]],[" + name(5, "b") + "],[]]," + name(8, "c") + ",\"Load\"],\"d\",\"Load\"]"},
        {"(a).b", "[\"Attribute\",0,5," + name(1, "a") + ",\"b\",\"Load\"]"},
        {"match.case", "[\"Attribute\",0,10," + name(0, "match") + ",\"case\",\"Load\"]"},
        {"type(x)", "[\"Call\",0,7," + name(0, "type") + ",[" + name(5, "x") + "],[]]"},
        {"x[1:2, ::3]",
         "[\"Subscript\",0,11," + name(0, "x") +
             ",[\"Tuple\",2,10,[[\"Slice\",2,5,[\"Constant\",2,3,\"int\",\"1\"],[\"Constant\",4,5,\"int\",\"2\"],null],"
             "[\"Slice\",7,10,null,null,[\"Constant\",9,10,\"int\",\"3\"]]],\"Load\"],\"Load\"]"},
        {"x[*a]", "[\"Subscript\",0,5," + name(0, "x") + ",[\"Tuple\",2,4,[[\"Starred\",2,4," + name(3, "a") +
                      ",\"Load\"]],\"Load\"],\"Load\"]"},
        {"x[a:=1]", "[\"Subscript\",0,7," + name(0, "x") + ",[\"NamedExpr\",2,6," + name(2, "a", "Store") +
                        ",[\"Constant\",5,6,\"int\",\"1\"]],\"Load\"]"},
        {"x[:]", "[\"Subscript\",0,4," + name(0, "x") + ",[\"Slice\",2,3,null,null,null],\"Load\"]"},
    });
}

TEST(ParserTree, AtomsAndLiterals) {
    check_trees({
        {"None", "[\"Constant\",0,4,\"None\",null]"},
        {"True", "[\"Constant\",0,4,\"True\",null]"},
        {"False", "[\"Constant\",0,5,\"False\",null]"},
        {"...", "[\"Constant\",0,3,\"Ellipsis\",null]"},
        {"12", "[\"Constant\",0,2,\"int\",\"12\"]"},
        {"1.5", "[\"Constant\",0,3,\"float\",\"1.5\"]"},
        {"2j", "[\"Constant\",0,2,\"complex\",\"2\"]"},
        {"(yield)", "[\"Yield\",1,6,null]"},
        {"(yield a, *b)", "[\"Yield\",1,12,[\"Tuple\",7,12,[" + name(7, "a") + ",[\"Starred\",10,12," + name(11, "b") +
                              ",\"Load\"]],\"Load\"]]"},
        {"(x := 1)", "[\"NamedExpr\",1,7," + name(1, "x", "Store") + ",[\"Constant\",6,7,\"int\",\"1\"]]"},
    });
}

TEST(ParserTree, Collections) {
    check_trees({
        {"()", "[\"Tuple\",0,2,[],\"Load\"]"},
        {"(1,)", "[\"Tuple\",0,4,[[\"Constant\",1,2,\"int\",\"1\"]],\"Load\"]"},
        {"(*a, b)", "[\"Tuple\",0,7,[[\"Starred\",1,3," + name(2, "a") + ",\"Load\"]," + name(5, "b") + "],\"Load\"]"},
        {"[]", "[\"List\",0,2,[],\"Load\"]"},
        {"[1, 2,]", "[\"List\",0,7,[[\"Constant\",1,2,\"int\",\"1\"],[\"Constant\",4,5,\"int\",\"2\"]],\"Load\"]"},
        {"{}", "[\"Dict\",0,2,[]]"},
        {"{1}", "[\"Set\",0,3,[[\"Constant\",1,2,\"int\",\"1\"]]]"},
        {"{**a}", "[\"Dict\",0,5,[[null," + name(3, "a") + "]]]"},
        {"{**a, 'b': 1, **c}", "[\"Dict\",0,18,[[null," + name(3, "a") +
                                   "],[[\"Constant\",6,9,\"str\",\"b\"],[\"Constant\",11,12,\"int\",\"1\"]],[null," +
                                   name(16, "c") + "]]]"},
        {"{1: 2 for x in y}", "[\"DictComp\",0,17,[\"Constant\",1,2,\"int\",\"1\"],[\"Constant\",4,5,\"int\",\"2\"],[[" +
                                  name(10, "x", "Store") + "," + name(15, "y") + ",[],0]]]"},
        {"(a for a in b)", "[\"GeneratorExp\",0,14," + name(1, "a") + ",[[" + name(7, "a", "Store") + "," +
                               name(12, "b") + ",[],0]]]"},
    });
}

TEST(ParserTree, Comprehensions) {
    check_trees({
        {"[x for x in y]", "[\"ListComp\",0,14," + name(1, "x") + ",[[" + name(7, "x", "Store") + "," +
                               name(12, "y") + ",[],0]]]"},
        {"[x async for x in y if a if b]",
         "[\"ListComp\",0,30," + name(1, "x") + ",[[" + name(13, "x", "Store") + "," + name(18, "y") + ",[" +
             name(23, "a") + "," + name(28, "b") + "],1]]]"},
        {"(a for a, *b in c for d in e)",
         "[\"GeneratorExp\",0,29," + name(1, "a") + ",[[[\"Tuple\",7,12,[" + name(7, "a", "Store") +
             ",[\"Starred\",10,12," + name(11, "b", "Store") + ",\"Store\"]],\"Store\"]," + name(16, "c") +
             ",[],0],[" + name(22, "d", "Store") + "," + name(27, "e") + ",[],0]]]"},
        {"{x for x in y}", "[\"SetComp\",0,14," + name(1, "x") + ",[[" + name(7, "x", "Store") + "," + name(12, "y") +
                               ",[],0]]]"},
    });
    // The clause range runs from `for` (or `async`) to its last condition.
    ExpressionParse parse = parse_python_expression_full("[x async for x in y if a if b]");
    ASSERT_TRUE(parse.ok());
    const auto& clause = parse.expr.as<ExprListComp>().generators.at(0);
    EXPECT_EQ(clause.range, TextRange(3, 29));
    ExpressionParse simple = parse_python_expression_full("[x for x in y]");
    EXPECT_EQ(simple.expr.as<ExprListComp>().generators.at(0).range, TextRange(3, 13));
}

TEST(ParserTree, CallArguments) {
    check_trees({
        {"f()", "[\"Call\",0,3," + name(0, "f") + ",[],[]]"},
        {"f(a, *b, c=1, *d, **e, f=2)",
         "[\"Call\",0,27," + name(0, "f") + ",[" + name(2, "a") + ",[\"Starred\",5,7," + name(6, "b") +
             ",\"Load\"],[\"Starred\",14,16," + name(15, "d") + ",\"Load\"]],[[\"keyword\",9,12,\"c\"," +
             "[\"Constant\",11,12,\"int\",\"1\"]],[\"keyword\",18,21,null," + name(20, "e") +
             "],[\"keyword\",23,26,\"f\",[\"Constant\",25,26,\"int\",\"2\"]]]]"},
        {"f((a)=1)", "[\"Call\",0,8," + name(0, "f") + ",[],[[\"keyword\",2,7,\"a\",[\"Constant\",6,7,\"int\",\"1\"]]]]"},
        // The dump gives a lone generator argument the call's parentheses, as CPython does.
        {"f(x for x in y)", "[\"Call\",0,15," + name(0, "f") + ",[[\"GeneratorExp\",1,15," + name(2, "x") + ",[[" +
                                name(8, "x", "Store") + "," + name(13, "y") + ",[],0]]]],[]]"},
    });
    // In the tree itself the generator runs from its element to its last clause.
    ExpressionParse parse = parse_python_expression_full("f(x for x in y)");
    ASSERT_TRUE(parse.ok());
    const ExprCall& call = parse.expr.as<ExprCall>();
    EXPECT_EQ(call.arguments.range, TextRange(1, 15));
    const ExprGenerator& generator = call.arguments.args.at(0).as<ExprGenerator>();
    EXPECT_EQ(generator.range, TextRange(2, 14));
    EXPECT_FALSE(generator.parenthesized);
    // The keyword's name keeps the name's range.
    ExpressionParse keyword = parse_python_expression_full("f(abc = 1)");
    const Keyword& kw = keyword.expr.as<ExprCall>().arguments.keywords.at(0);
    EXPECT_EQ(kw.range, TextRange(2, 9));
    EXPECT_EQ(kw.arg->range, TextRange(2, 5));
    // A keyword with an invalid name keeps an empty name with the expression's range.
    ExpressionParse bad = parse_python_expression_full("f(a.b=1)");
    const Keyword& bad_kw = bad.expr.as<ExprCall>().arguments.keywords.at(0);
    EXPECT_TRUE(bad_kw.arg->id.empty());
    EXPECT_EQ(bad_kw.arg->range, TextRange(2, 5));
}

TEST(ParserTree, Lambdas) {
    ExpressionParse none = parse_python_expression_full("lambda: 0");
    ASSERT_TRUE(none.ok());
    EXPECT_FALSE(none.expr.as<ExprLambda>().parameters);

    ExpressionParse all = parse_python_expression_full("lambda a, /, b=1, *c, d, **e: 0");
    ASSERT_TRUE(all.ok());
    const ExprLambda& lambda = all.expr.as<ExprLambda>();
    EXPECT_EQ(lambda.range, TextRange(0, 31));
    const Parameters& p = *lambda.parameters;
    EXPECT_EQ(p.range, TextRange(7, 28));
    ASSERT_EQ(p.posonlyargs.size(), 1u);
    EXPECT_EQ(p.posonlyargs[0].parameter.name.id, "a");
    ASSERT_EQ(p.args.size(), 1u);
    EXPECT_EQ(p.args[0].range, TextRange(13, 16));
    EXPECT_TRUE(p.args[0].default_);
    ASSERT_TRUE(p.vararg);
    EXPECT_EQ(p.vararg->range, TextRange(18, 20));  // the star is part of the parameter
    EXPECT_EQ(p.vararg->name.range, TextRange(19, 20));
    ASSERT_EQ(p.kwonlyargs.size(), 1u);
    EXPECT_EQ(p.kwonlyargs[0].parameter.name.id, "d");
    ASSERT_TRUE(p.kwarg);
    EXPECT_EQ(p.kwarg->range, TextRange(25, 28));

    // An error after `**k` still files the parameter under `args`.
    ExpressionParse late = parse_python_expression_full("lambda **k, a: 0");
    EXPECT_EQ(late.expr.as<ExprLambda>().parameters->args.size(), 1u);
}

TEST(ParserTree, StringConcatenation) {
    check_trees({
        {"'a'", "[\"Constant\",0,3,\"str\",\"a\"]"},
        {"'a' 'b'", "[\"Constant\",0,7,\"str\",\"ab\"]"},
        {"b'a' b'b'", "[\"Constant\",0,9,\"bytes\",\"6162\"]"},
        {"f'{x}' 'y'", "[\"JoinedStr\",0,10,[[\"FormattedValue\",2,5," + name(3, "x") + ",-1,null],[\"Str\",\"y\"]]]"},
        {"f'{x=}'", "[\"JoinedStr\",0,7,[[\"Str\",\"x=\"],[\"FormattedValue\",2,6," + name(3, "x") + ",114,null]]]"},
        {"f'{x:{w}}'", "[\"JoinedStr\",0,10,[[\"FormattedValue\",2,9," + name(3, "x") +
                           ",-1,[\"JoinedStr\",[[\"FormattedValue\",5,8," + name(6, "w") + ",-1,null]]]]]]"},
    });

    auto value_of = [](const char* source) { return parse_python_expression_full(source); };

    ExpressionParse two = value_of("'a' 'b'");
    const StringLiteralValue& joined = two.expr.as<ExprStringLiteral>().value;
    ASSERT_TRUE(joined.is_implicit_concatenated());
    EXPECT_EQ(joined.parts().size(), 2u);
    EXPECT_EQ(joined.to_str(), "ab");
    EXPECT_EQ(joined.to_str(), "ab");  // the same on every request

    ExpressionParse one = value_of("'a'");
    EXPECT_FALSE(one.expr.as<ExprStringLiteral>().value.is_implicit_concatenated());

    // Mixed runs keep every part; those that do not fit become empty literals.
    ExpressionParse mixed = value_of("'a' b'b'");
    const auto parts = mixed.expr.as<ExprStringLiteral>().value.parts();
    ASSERT_EQ(parts.size(), 2u);
    EXPECT_EQ(parts[0].value, "a");
    EXPECT_EQ(parts[1].value, "");
    EXPECT_EQ(parts[1].range, TextRange(4, 8));
    EXPECT_EQ(parts[1].flags, StringLiteralFlags{});

    ExpressionParse bytes_first = value_of("b'a' 'b'");
    const auto bparts = bytes_first.expr.as<ExprStringLiteral>().value.parts();
    ASSERT_EQ(bparts.size(), 2u);
    EXPECT_EQ(bparts[0].range, TextRange(0, 4));
    EXPECT_EQ(bparts[0].value, "");
    EXPECT_EQ(bparts[1].value, "b");

    ExpressionParse with_t = value_of("t'{x}' 'y'");
    const auto fparts = with_t.expr.as<ExprFString>().value.parts();
    ASSERT_EQ(fparts.size(), 2u);
    ASSERT_TRUE(fparts[0].is_literal());
    EXPECT_EQ(std::get<StringLiteral>(fparts[0]).range, TextRange(0, 6));
    EXPECT_EQ(std::get<StringLiteral>(fparts[1]).value, "y");

    ExpressionParse t_and_b = value_of("t'a' b'b'");
    const auto tb = t_and_b.expr.as<ExprFString>().value.parts();
    ASSERT_EQ(tb.size(), 2u);
    EXPECT_TRUE(tb[0].is_literal() && tb[1].is_literal());

    ExpressionParse ts = value_of("t'{x}' t'y'");
    ASSERT_TRUE(ts.ok());
    EXPECT_EQ(ts.expr.as<ExprTString>().value.parts().size(), 2u);

    // A decoding error leaves an empty literal with the token's range, and the run still joins.
    ExpressionParse bad_escape = value_of("'\\N{NO SUCH NAME}' 'x'");
    const auto eparts = bad_escape.expr.as<ExprStringLiteral>().value.parts();
    ASSERT_EQ(eparts.size(), 2u);
    EXPECT_EQ(eparts[0].range, TextRange(0, 18));
    EXPECT_EQ(eparts[0].value, "");
    EXPECT_EQ(eparts[1].value, "x");

    // Each part keeps its own flags.
    ExpressionParse styles = value_of("'a' \"\"\"b\"\"\"");
    const auto sparts = styles.expr.as<ExprStringLiteral>().value.parts();
    ASSERT_EQ(sparts.size(), 2u);
    EXPECT_FALSE(sparts[0].flags.triple_quoted);
    EXPECT_TRUE(sparts[1].flags.triple_quoted);
    EXPECT_EQ(sparts[1].flags.quote_style, QuoteStyle::Double);
}

TEST(ParserTree, InterpolatedStringElements) {
    ExpressionParse debug = parse_python_expression_full("f'{ x = }'");
    ASSERT_TRUE(debug.ok());
    const FString& fs = std::get<FString>(debug.expr.as<ExprFString>().value.parts()[0]);
    const InterpolatedElement& field = std::get<InterpolatedElement>(fs.elements.at(0));
    ASSERT_TRUE(field.debug_text);
    EXPECT_EQ(field.debug_text->leading, " ");
    EXPECT_EQ(field.debug_text->trailing, " = ");
    EXPECT_EQ(field.range, TextRange(2, 9));

    ExpressionParse plain = parse_python_expression_full("f'{x=}'");
    const InterpolatedElement& bare =
        std::get<InterpolatedElement>(std::get<FString>(plain.expr.as<ExprFString>().value.parts()[0]).elements.at(0));
    EXPECT_EQ(bare.debug_text->leading, "");
    EXPECT_EQ(bare.debug_text->trailing, "=");

    ExpressionParse repr = parse_python_expression_full("f'{x!r}'");
    EXPECT_EQ(std::get<InterpolatedElement>(std::get<FString>(repr.expr.as<ExprFString>().value.parts()[0]).elements.at(0))
                  .conversion,
              ConversionFlag::Repr);

    ExpressionParse unclosed = parse_python_expression_full("f'{x}");
    EXPECT_FALSE(unclosed.ok());
    EXPECT_TRUE(std::get<FString>(unclosed.expr.as<ExprFString>().value.parts()[0]).flags.unclosed);
}

TEST(ParserTree, TokenList) {
    // Every consumed token is kept, trivia included; soft keywords used as names are Name tokens.
    ExpressionParse parse = parse_python_expression_full("(match # c\n + 1)");
    ASSERT_TRUE(parse.ok());
    std::string kinds;
    for (const ParsedToken& token : parse.tokens) {
        if (!kinds.empty()) kinds += ' ';
        kinds += token_kind_name(token.kind);
    }
    EXPECT_EQ(kinds, "Lpar Name Comment NonLogicalNewline Plus Int Rpar Newline EndOfFile");
}

}  // namespace
}  // namespace lumra::pyexpr
