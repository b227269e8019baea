// Messages and byte ranges of the parser's errors, one table per area.
#include <gtest/gtest.h>

#include <string>

#include "parser_test_util.h"

namespace lumra::pyexpr {
namespace {

struct ErrorCase {
    const char* source;
    const char* expected;  // the reported error, or "ok"
};

void check_first_errors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        EXPECT_EQ(test::first_error(c.source), c.expected) << "source: " << c.source;
    }
}

void check_all_errors(const std::vector<ErrorCase>& cases) {
    for (const ErrorCase& c : cases) {
        EXPECT_EQ(test::all_errors(c.source), c.expected) << "source: " << c.source;
    }
}

TEST(ParserErrors, Entry) {
    check_first_errors({
        {"", "Expected an expression at byte range 0..0"},
        {"a b", "Unexpected token at the end of an expression at byte range 2..3"},
        {"a,", "ok"},
        {"a\n", "ok"},
        {"a # note", "ok"},
        {"\xEF\xBB\xBF" "a", "ok"},
        {"\xEF\xBB\xBF", "Expected an expression at byte range 3..3"},
        {"a )", "Unexpected token at the end of an expression at byte range 2..3"},
        {"a\nb", "Unexpected token at the end of an expression at byte range 2..3"},
    });
}

TEST(ParserErrors, RecordingAndMerge) {
    check_all_errors({
        // The entry's error at the same offset as the missing operand is dropped.
        {"1 + ]", "Expected an expression at byte range 4..5"},
        // A lexer error wins over a parser error at the same offset.
        {"1 + $", "Got unexpected token $ at byte range 4..5"},
        // Errors at different offsets are all kept, in the order found.
        {"f(a=1, a=2, a=3)",
         "Duplicate keyword argument a at byte range 7..10 | Duplicate keyword argument a at byte range 12..15"},
        // A lexer error before a parser error comes first.
        {"'a\n", "missing closing quote in string literal at byte range 0..2"},
    });
}

TEST(ParserErrors, OperatorsAndUnaryForms) {
    check_first_errors({
        {"1 +", "Expected an expression at byte range 3..3"},
        {"a not b", "Unexpected token at the end of an expression at byte range 2..5"},
        {"a == not b", "Boolean 'not' expression cannot be used here at byte range 5..10"},
        {"a + not b", "Boolean 'not' expression cannot be used here at byte range 4..9"},
        {"not not a", "ok"},
        {"await -x", "Unary '-' expression cannot be used here at byte range 6..8"},
        {"await ~x", "Unary '~' expression cannot be used here at byte range 6..8"},
        {"await +x", "Unary '+' expression cannot be used here at byte range 6..8"},
        {"await await x", "Await expression cannot be used here at byte range 6..13"},
        {"2 ** -1", "ok"},
        {"a if b", "Expected `else`, found newline at byte range 6..6"},
        {"a if b else", "Expected an expression at byte range 11..11"},
        {"*a", "Starred expression cannot be used here at byte range 0..2"},
        {"a + *b", "Starred expression cannot be used here at byte range 4..6"},
        {"yield", "Yield expression cannot be used here at byte range 0..5"},
        {"yield x", "Yield expression cannot be used here at byte range 0..7"},
        {"(yield from a, b)", "Unparenthesized tuple expression cannot be used here at byte range 12..16"},
        {"(yield from (a, b))", "ok"},
        {"lambda: 1", "ok"},
        {"1 + lambda: 1", "Lambda expression cannot be used here at byte range 4..13"},
        {"(a.b := 1)", "Assignment expression target must be an identifier at byte range 1..4"},
        {"x := 1", "Unexpected token at the end of an expression at byte range 2..4"},
    });
}

TEST(ParserErrors, BitwiseOrLevel) {
    check_first_errors({
        {"[*a < b]", "Comparison expression cannot be used here at byte range 2..7"},
        {"[*a or b]", "Boolean expression cannot be used here at byte range 2..8"},
        {"[*not a]", "Boolean expression cannot be used here at byte range 2..7"},
        {"[*a if b else c]", "Conditional expression cannot be used here at byte range 2..15"},
        {"[*lambda: a]", "Lambda expression cannot be used here at byte range 2..11"},
        {"{**a or b}", "Boolean expression cannot be used here at byte range 3..9"},
        {"[*(a or b)]", "ok"},
        {"[*a | b]", "ok"},
    });
}

TEST(ParserErrors, AtomsNamesAndAttributes) {
    check_first_errors({
        {"x.if", "Expected an identifier, but found a keyword `if` that cannot be used here at byte range 2..4"},
        {"x.None", "Expected an identifier, but found a keyword `None` that cannot be used here at byte range 2..6"},
        {"if", "Expected an identifier, but found a keyword `if` that cannot be used here at byte range 0..2"},
        {"x.", "Expected an identifier at byte range 2..2"},
        {"x.)", "Expected an identifier at byte range 2..3"},
        {"x.1", "Unexpected token at the end of an expression at byte range 1..3"},
        {"match.case", "ok"},
        {"type(x)", "ok"},
        {")", "Expected an expression at byte range 0..1"},
    });
}

TEST(ParserErrors, Subscripts) {
    check_first_errors({
        {"x[]", "Expected index or slice expression at byte range 2..3"},
        {"x[a:=1]", "ok"},
        {"x[*a]", "ok"},
        {"x[a:=1:2]", "Unparenthesized named expression cannot be used here at byte range 2..6"},
        {"x[(a:=1):2]", "ok"},
        {"x[*a:2]", "Starred expression cannot be used here at byte range 2..4"},
        {"x[1:2", "unexpected EOF while parsing at byte range 5..5"},
        {"x[1 2]", "Expected `:`, found int at byte range 4..5"},
        {"x[1, ;]", "Expected an expression or the end of the slice list at byte range 5..6"},
    });
}

TEST(ParserErrors, Lambdas) {
    check_first_errors({
        {"lambda a, /, b, *, c, **d: 0", "ok"},
        {"lambda a=1, b: 0", "Parameter without a default cannot follow a parameter with a default at byte range 12..13"},
        {"lambda a=1, *, b: 0", "ok"},
        {"lambda a=1, *c, b: 0", "ok"},
        {"lambda *: 0", "Expected one or more keyword parameter after `*` separator at byte range 7..8"},
        {"lambda *,: 0", "Expected one or more keyword parameter after `*` separator at byte range 7..8"},
        {"lambda *, **k: 0", "Expected one or more keyword parameter after `*` separator at byte range 10..13"},
        {"lambda /: 0", "Position-only parameter separator not allowed as first parameter at byte range 7..8"},
        {"lambda a, /, /: 0", "Only one '/' separator allowed at byte range 13..14"},
        {"lambda *a, /: 0", "'/' parameter must appear before '*' parameter at byte range 11..12"},
        {"lambda **k, a: 0", "Parameter cannot follow var-keyword parameter at byte range 12..13"},
        {"lambda a, a: 0", "ok"},
        {"lambda match, type: 0", "ok"},
        {"lambda *a=1: 0", "Parameter with `*` or `**` cannot have default value at byte range 9..10"},
        {"lambda **a=1: 0", "Parameter with `*` or `**` cannot have default value at byte range 10..11"},
        {"lambda *a, *b: 0", "Only one '*' parameter allowed at byte range 11..13"},
        {"lambda *, *: 0", "Only one '*' separator allowed at byte range 10..11"},
        {"lambda *a, *: 0", "Keyword-only parameter separator not allowed after '*' parameter at byte range 11..12"},
        {"lambda **a, **b: 0", "Parameter cannot follow var-keyword parameter at byte range 12..14"},
        {"lambda x=: 0", "Expected an expression at byte range 9..10"},
        {"lambda x y: 0", "Expected `,`, found name at byte range 9..10"},
        // A compound-statement keyword ends the parameter list.
        {"lambda if: 0", "Expected `:`, found `if` at byte range 7..9"},
        {"lambda ): 0", "Expected a parameter or the end of the parameter list at byte range 7..8"},
        {"lambda x, def: 0",
         "Expected `:`, found `def` at byte range 10..13"},
        {"(lambda x: x)(1)", "ok"},
    });
}

TEST(ParserErrors, Collections) {
    check_first_errors({
        {"()", "ok"},
        {"(*a)", "Starred expression cannot be used here at byte range 1..3"},
        {"((*a))", "Starred expression cannot be used here at byte range 2..4"},
        {"(*a, b)", "ok"},
        {"(*a for a in b)", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
        {"[*a for a in b]", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
        {"{*a for a in b}", "Iterable unpacking cannot be used in a comprehension at byte range 1..3"},
        {"(yield)", "ok"},
        {"(x := 1)", "ok"},
        {"[yield]", "Yield expression cannot be used here at byte range 1..6"},
        {"{x := 1: 2}", "Unparenthesized named expression cannot be used here at byte range 1..7"},
        {"{(x := 1): 2}", "ok"},
        {"{*a: 1}", "Starred expression cannot be used here at byte range 1..3"},
        {"{1: 2, 3}", "Expected `:`, found `}` at byte range 8..9"},
        {"[1 2]", "Expected `,`, found int at byte range 3..4"},
        {"{1 2}", "Expected `,`, found int at byte range 3..4"},
        {"(1, 2 3)", "Expected `,`, found int at byte range 6..7"},
        {"[1, ;]", "Expected an expression or a ']' at byte range 4..5"},
        {"{1, ;}", "Expected an expression or a '}' at byte range 4..5"},
        {"{1: 2, ;}", "Expected an expression or a '}' at byte range 7..8"},
        {"(1, ;)", "Expected an expression or a ')' at byte range 4..5"},
        {"1, .", "Expected an expression at byte range 3..4"},
        {"1, ;", "Unexpected token at the end of an expression at byte range 3..4"},
        {"(", "unexpected EOF while parsing at byte range 1..1"},
        {"[1, 2,]", "ok"},
        {"{1, 2,}", "ok"},
        {"{1: 2,}", "ok"},
        {"(1, 2,)", "ok"},
    });
}

// An element start that no rule consumes is skipped with one error; the list
// loop must not stand still on it.
TEST(ParserErrors, UnconsumedElementStartIsSkipped) {
    check_all_errors({
        {"[**a]", "Expected an expression at byte range 1..3"},
        {"[1, **a]", "Expected an expression at byte range 4..6"},
        {"{1, **a}", "Expected an expression at byte range 4..6"},
        {"(1, **a)", "Expected an expression at byte range 4..6"},
        {"x[1, **a]", "Expected an expression at byte range 5..7"},
        {"1, **a", "Expected an expression at byte range 3..5"},
        {"[**a, **b]", "Expected an expression at byte range 1..3 | Expected an expression at byte range 6..8"},
    });
}

TEST(ParserErrors, Comprehensions) {
    check_first_errors({
        {"[x for f() in y]", "Invalid assignment target at byte range 7..10"},
        {"[x for (a, 1) in y]", "Invalid assignment target at byte range 11..12"},
        {"[x for a + b in y]", "Invalid assignment target at byte range 7..12"},
        {"[x for [a, *b.c, d[0]] in y]", "ok"},
        {"[x for x y]", "Expected `in`, found name at byte range 9..10"},
        {"[x async x in y]", "Expected `for`, found name at byte range 9..10"},
        {"[x for x in y if z else w]", "Expected `]`, found `else` at byte range 19..23"},
        {"[x for x in *y]", "Starred expression cannot be used here at byte range 12..14"},
    });
}

TEST(ParserErrors, CallArguments) {
    check_first_errors({
        {"f()", "ok"},
        {"f(a, *b, c=1, *d, **e, f=2)", "ok"},
        {"f(c=1, a)", "Positional argument cannot follow keyword argument at byte range 7..8"},
        {"f(**e, a)", "Positional argument cannot follow keyword argument unpacking at byte range 7..8"},
        {"f(**e, *b)", "Iterable argument unpacking cannot follow keyword argument unpacking at byte range 7..9"},
        {"f(c=1, *b)", "ok"},
        {"f(**a, **a)", "ok"},
        {"f(x for x in y)", "ok"},
        {"f(x for x in y,)", "Unparenthesized generator expression cannot be used here at byte range 2..14"},
        {"f(x for x in y, 1)", "Unparenthesized generator expression cannot be used here at byte range 2..14"},
        {"f(1, x for x in y)", "Unparenthesized generator expression cannot be used here at byte range 5..17"},
        {"f(a=1, x for x in y)", "Positional argument cannot follow keyword argument at byte range 7..19"},
        {"f((x for x in y), 1)", "ok"},
        {"f(*a for a in b)", "Iterable unpacking cannot be used in a comprehension at byte range 2..4"},
        {"f(* *a)", "Starred expression cannot be used here at byte range 4..6"},
        {"f(k=1, * *a < b)", "Starred expression cannot be used here at byte range 9..15"},
        {"f(*(*a,))", "ok"},
        {"f(a.b=1)", "Expected a parameter name at byte range 2..5"},
        {"f((a)=1)", "ok"},
        {"f(a b)", "Expected `,`, found name at byte range 4..5"},
        {"f(a", "unexpected EOF while parsing at byte range 3..3"},
        {"f(;)", "Expected an expression or a ')' at byte range 2..3"},
        {"f(a, ;)", "Expected `,`, found `;` at byte range 5..6"},
        {"f(yield)", "Yield expression cannot be used here at byte range 2..7"},
    });
    check_all_errors({
        {"f(a=1, a=2, a=3)",
         "Duplicate keyword argument a at byte range 7..10 | Duplicate keyword argument a at byte range 12..15"},
        {"f(a=1, b=2, b=3, a=4)",
         "Duplicate keyword argument b at byte range 12..15 | Duplicate keyword argument a at byte range 17..20"},
        // Duplicate names are reported before unparenthesized generators.
        {"f(x for x in y, a=1, a=2)",
         "Duplicate keyword argument a at byte range 21..24 | "
         "Unparenthesized generator expression cannot be used here at byte range 2..14"},
    });
}

TEST(ParserErrors, StringsAndConcatenation) {
    check_first_errors({
        {"'a' b'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"},
        {"b'a' 'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..8"},
        {"b'a' f'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..9"},
        {"t'{x}' 'y'", "cannot mix t-string literals with string or bytes literals at byte range 0..10"},
        {"t'{x}' f'y'", "cannot mix t-string literals with string or bytes literals at byte range 0..11"},
        {"t'a' b'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..9"},
        {"'\\N{NO SUCH NAME}' 'x'", "Got unexpected unicode at byte range 4..16"},
        // The next token's lexer error comes later in the text: the name is still looked up.
        {"'\\N{NO SUCH NAME}' 'x", "Got unexpected unicode at byte range 4..16"},
        {"'a' 'b' f'{x}' t'y'", "cannot mix t-string literals with string or bytes literals at byte range 0..19"},
        {"b'\xC3\xA9'", "bytes can only contain ASCII literal characters at byte range 2..4"},
    });
    check_all_errors({
        // The t-string error starts where the bytes error starts and is dropped.
        {"t'a' b'b'", "Bytes literal cannot be mixed with non-bytes literals at byte range 0..9"},
        // A decoding error does not stop the run: the next literal still joins.
        {"'\\N{NO SUCH NAME}' b'x'",
         "Got unexpected unicode at byte range 4..16 | "
         "Bytes literal cannot be mixed with non-bytes literals at byte range 0..23"},
        // After the first error, names are no longer looked up; other escapes still fail.
        {"'\\N{ZZ}' '\\N{YY}' f'\\N{XX}' '\\N{'", "Got unexpected unicode at byte range 4..6 | "
                                                "Missing `}` in Unicode escape sequence at byte range 32..32"},
    });
}

TEST(ParserErrors, InterpolatedStrings) {
    check_first_errors({
        {"f'{x!r}'", "ok"},
        {"f'{x! r}'", "f-string: conversion type must come right after the exclamation mark at byte range 5..6"},
        {"f'{x!z}'", "f-string: invalid conversion character at byte range 5..6"},
        {"f'{x!}'", "f-string: invalid conversion character at byte range 5..6"},
        {"t'{x!z}'", "t-string: invalid conversion character at byte range 5..6"},
        {"f'{x!r:>{w}}'", "ok"},
        {"f'{(lambda x: x)}'", "ok"},
        {"f'{}'", "Expected an expression at byte range 3..4"},
        {"f'{x'", "f-string: expecting `}` at byte range 4..5"},
        {"f'{*a}'", "ok"},
    });
    ExpressionParse lambda = parse_python_expression_full("f'{lambda x: x}'");
    bool found = false;
    for (const ParseError& error : lambda.errors) {
        found |= error.to_string() ==
                 "f-string: lambda expressions are not allowed without parentheses at byte range 3..12";
    }
    EXPECT_TRUE(found) << test::all_errors("f'{lambda x: x}'");
}

// Where the parser looks past trivia at `is`/`not`, and where lists give up
// after line breaks, one level after another: a line break that lexes
// otherwise one level out (closing an f-string, ending the line) and a token
// ahead that does (`:=` opening a format spec) must come out as lexed afresh.
TEST(ParserErrors, LookAheadAndGiveUpsAcrossLevels) {
    // Too tall at `is`, with the token after it already looked at.
    std::string tall = "-x";
    for (int i = 0; i < 999; ++i) tall += ".a";
    tall += " is\n\n y";
    check_all_errors({
        {"[-x is\n\n y, -x not\n# c\nin y, -x not\n\n y]", "Expected `,`, found `not` at byte range 32..35"},
        {"f([[[x#c\r\n#d\r)", "Expected `]`, found `)` at byte range 13..14"},
        {"g(f'{f'{x\n\n)",
         "f-string: unterminated string at byte range 9..9 | f-string: expecting `}` at byte range 11..12"},
        {"g(f'{(f'{(x not\n\n y)",
         "Expected `)`, found `not` at byte range 12..15 | f-string: unterminated string at byte range 15..15 | "
         "f-string: unterminated string at byte range 20..20 | unexpected EOF while parsing at byte range 20..20"},
        {"f(t\"{{{r in t'{a[:(x not:=",
         "Expected `)`, found `not` at byte range 21..24 | Expected an expression at byte range 24..25 | "
         "t-string: unterminated string at byte range 25..26 | t-string: unterminated string at byte range 26..26 | "
         "unexpected EOF while parsing at byte range 26..26"},
        {"[(f'{x:{(a not\n# c\n}}'",
         "Expected `)`, found `not` at byte range 11..14 | Expected an element of or the end of the f-string at byte "
         "range 20..21 | unexpected EOF while parsing at byte range 22..22"},
        {"f([x\n\n'abc",
         "missing closing quote in string literal at byte range 6..10 | unexpected EOF while parsing at byte range "
         "10..10"},
        {"g(f'''{(x\n\n)",
         "f-string: unterminated string at byte range 12..12 | unexpected EOF while parsing at byte range 12..12"},
        {"(x\n\n(", "unexpected EOF while parsing at byte range 5..5"},
        {tall.c_str(), "Expression is too deeply nested at byte range 2001..2003"},
    });
}

// Texts of open brackets, f-strings and prefixes, a token with trivia around
// it and closing tokens: however the lists give up, the token list runs in
// order and leaves out only whitespace and line continuations.
TEST(ParserErrors, TokensCoverTheTextWhenListsGiveUp) {
    const char* opens[] = {"(", "[", "f(", "{a:", "f'{", "t\"{(", "f'{x:{", "-", "not ", "[lambda "};
    const char* cores[] = {"x", "x is", "x not", "x not in", ""};
    const char* trivia[] = {"\n", "#c\n", "\r\n", " \\\n", "\n\n"};
    const char* closes[] = {")", "]", "}", ":", ":=", "y", "'", "}'", "in y", "'abc", "("};
    for (const char* open : opens) {
        for (const char* core : cores) {
            for (const char* t : trivia) {
                for (const char* close : closes) {
                    std::string source;
                    for (int i = 0; i < 3; ++i) source += open;
                    source += std::string(core) + t + close + t + close;
                    const ExpressionParse parse = parse_python_expression_full(source);
                    std::string covered(source.size(), ' ');
                    for (size_t i = 0; i < parse.tokens.size(); ++i) {
                        const TextRange range = parse.tokens[i].range;
                        if (i > 0) {
                            ASSERT_LE(parse.tokens[i - 1].range.end(), range.start()) << source;
                        }
                        covered.replace(range.start().raw, range.len().raw, range.len().raw, 'x');
                    }
                    for (size_t i = 0; i < source.size(); ++i) {
                        if (covered[i] == 'x' || source[i] == ' ') continue;
                        ASSERT_EQ(source.compare(i, 2, "\\\n"), 0) << source << " at " << i;
                        ++i;
                    }
                }
            }
        }
    }
}

TEST(ParserErrors, DisplayForm) {
    ParseError error{ParseErrorType::expected_token(TokenKind::Colon, TokenKind::Newline), TextRange(3, 7)};
    EXPECT_EQ(error.to_string(), "Expected `:`, found newline at byte range 3..7");
    ParseError lexical{ParseErrorType::from_lexical(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof)),
                       TextRange(0, 0)};
    EXPECT_EQ(lexical.to_string(), "unexpected EOF while parsing at byte range 0..0");
    ParseError fstring{ParseErrorType::fstring(InterpolatedStringErrorType::UnclosedLbrace), TextRange(1, 2)};
    EXPECT_EQ(fstring.to_string(), "f-string: expecting `}` at byte range 1..2");
    ParseError tstring{ParseErrorType::tstring(InterpolatedStringErrorType::SingleRbrace), TextRange(1, 2)};
    EXPECT_EQ(tstring.to_string(), "t-string: single `}` is not allowed at byte range 1..2");
    ParseError duplicate{ParseErrorType::duplicate_keyword("key"), TextRange(10, 15)};
    EXPECT_EQ(duplicate.to_string(), "Duplicate keyword argument key at byte range 10..15");
}

}  // namespace
}  // namespace lumra::pyexpr
