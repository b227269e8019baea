// Token streams of the lexer: each row is a source and the expected stream
// (see lexer_test_util.h for the notation) or the expected errors.
#include <gtest/gtest.h>

#include "lexer_test_util.h"
#include "pyexpr/lexer.h"
#include "pyexpr/line_index.h"

namespace lumra::pyexpr {
namespace {

using testing::render_errors;
using testing::render_tokens;

struct StreamCase {
    std::string_view source;
    std::string_view tokens;
};

void check_streams(const std::vector<StreamCase>& cases) {
    for (const auto& c : cases) {
        EXPECT_EQ(render_tokens(c.source), c.tokens) << "source: " << c.source;
    }
}

TEST(LexerTest, NamesDotsAndNumbers) {
    check_streams({
        {"a.b", "Name(a)@0..1 Dot@1..2 Name(b)@2..3 Newline@3..3 EndOfFile@3..3"},
        {"1.e5", "Float(100000.0)@0..4 Newline@4..4 EndOfFile@4..4"},
        {".5", "Float(0.5)@0..2 Newline@2..2 EndOfFile@2..2"},
        {"1..2", "Float(1.0)@0..2 Float(0.2)@2..4 Newline@4..4 EndOfFile@4..4"},
        {"1_000", "Int(1000)@0..5 Newline@5..5 EndOfFile@5..5"},
        {"1__0", "Int(1)@0..1 Name(__0)@1..4 Newline@4..4 EndOfFile@4..4"},
        {"0x_ff", "Int(255)@0..5 Newline@5..5 EndOfFile@5..5"},
        {"0o17 0B101", "Int(15)@0..4 Int(5)@5..10 Newline@10..10 EndOfFile@10..10"},
        {"0 00 0_0", "Int(0)@0..1 Int(0)@2..4 Int(0)@5..8 Newline@8..8 EndOfFile@8..8"},
        {"2j", "Complex(0.0,2.0)@0..2 Newline@2..2 EndOfFile@2..2"},
        {"1.5J 1e3j", "Complex(0.0,1.5)@0..4 Complex(0.0,1000.0)@5..9 Newline@9..9 EndOfFile@9..9"},
        {"1if", "Int(1)@0..1 If@1..3 Newline@3..3 EndOfFile@3..3"},
        {"1_0.2_5e1_0", "Float(102500000000.0)@0..11 Newline@11..11 EndOfFile@11..11"},
        {"1e", "Int(1)@0..1 Name(e)@1..2 Newline@2..2 EndOfFile@2..2"},
        {"1e+x", "Int(1)@0..1 Name(e)@1..2 Plus@2..3 Name(x)@3..4 Newline@4..4 EndOfFile@4..4"},
        // Too big for 64 bits: decimal digits without underscores, other radixes as written.
        {"123_456_789_012_345_678_901", "Int(123456789012345678901)@0..27 Newline@27..27 EndOfFile@27..27"},
        {"0xFFFF_FFFF_FFFF_FFFF_F", "Int(0xFFFF_FFFF_FFFF_FFFF_F)@0..23 Newline@23..23 EndOfFile@23..23"},
        {"18446744073709551615", "Int(18446744073709551615)@0..20 Newline@20..20 EndOfFile@20..20"},
        {"18446744073709551616", "Int(18446744073709551616)@0..20 Newline@20..20 EndOfFile@20..20"},
        {"1e400 1e-400", "Float(inf)@0..5 Float(0.0)@6..12 Newline@12..12 EndOfFile@12..12"},
        {"x.y...", "Name(x)@0..1 Dot@1..2 Name(y)@2..3 Ellipsis@3..6 Newline@6..6 EndOfFile@6..6"},
        {"..", "Dot@0..1 Dot@1..2 Newline@2..2 EndOfFile@2..2"},
    });
}

TEST(LexerTest, BigIntegerValues) {
    Lexer lexer("99999999999999999999 0x1_0000_0000_0000_0000 12");
    ASSERT_EQ(lexer.next_token(), TokenKind::Int);
    auto v = std::get<IntValue>(lexer.take_value());
    EXPECT_TRUE(v.is_big());
    EXPECT_EQ(v.big_text(), "99999999999999999999");
    ASSERT_EQ(lexer.next_token(), TokenKind::Int);
    v = std::get<IntValue>(lexer.take_value());
    EXPECT_EQ(v.big_text(), "0x1_0000_0000_0000_0000");
    ASSERT_EQ(lexer.next_token(), TokenKind::Int);
    v = std::get<IntValue>(lexer.take_value());
    EXPECT_TRUE(v.is_small());
    EXPECT_EQ(v.small_value(), 12u);
    EXPECT_TRUE(std::holds_alternative<std::monostate>(lexer.current_value()));
}

TEST(LexerTest, KeywordsAndNames) {
    check_streams({
        {"lambda x: not x is None", "Lambda@0..6 Name(x)@7..8 Colon@8..9 Not@10..13 Name(x)@14..15 Is@16..18 "
                                    "None@19..23 Newline@23..23 EndOfFile@23..23"},
        {"True False await yield", "True@0..4 False@5..10 Await@11..16 Yield@17..22 Newline@22..22 EndOfFile@22..22"},
        {"match case type", "Match@0..5 Case@6..10 Type@11..15 Newline@15..15 EndOfFile@15..15"},
        {"nonlocal nonlocals continue_", "Nonlocal@0..8 Name(nonlocals)@9..18 Name(continue_)@19..28 "
                                         "Newline@28..28 EndOfFile@28..28"},
        {"none NONE i _", "Name(none)@0..4 Name(NONE)@5..9 Name(i)@10..11 Name(_)@12..13 Newline@13..13 "
                          "EndOfFile@13..13"},
        // Non-ASCII names are stored in NFKC form and are never keywords.
        {"x = \xef\xac\x81", "Name(x)@0..1 Equal@2..3 Name(fi)@4..7 Newline@7..7 EndOfFile@7..7"},
        {"\xef\xbd\x89\xef\xbd\x86", "Name(if)@0..6 Newline@6..6 EndOfFile@6..6"},
        {"caf\xc3\xa9 \xce\xbb", "Name(caf\xc3\xa9)@0..5 Name(\xce\xbb)@6..8 Newline@8..8 EndOfFile@8..8"},
        // A combining mark continues a name but cannot start one.
        {"a\xcc\x81", "Name(\xc3\xa1)@0..3 Newline@3..3 EndOfFile@3..3"},
    });
}

TEST(LexerTest, Operators) {
    check_streams({
        {"**= ** *= * //= // /= /", "DoubleStarEqual@0..3 DoubleStar@4..6 StarEqual@7..9 Star@10..11 "
                                    "DoubleSlashEqual@12..15 DoubleSlash@16..18 SlashEqual@19..21 Slash@22..23 "
                                    "Newline@23..23 EndOfFile@23..23"},
        {"<<= << <= < >>= >> >= >", "LeftShiftEqual@0..3 LeftShift@4..6 LessEqual@7..9 Less@10..11 "
                                    "RightShiftEqual@12..15 RightShift@16..18 GreaterEqual@19..21 Greater@22..23 "
                                    "Newline@23..23 EndOfFile@23..23"},
        {"-> -= - += + %= % &= & |= | ^= ^ @= @",
         "Rarrow@0..2 MinusEqual@3..5 Minus@6..7 PlusEqual@8..10 Plus@11..12 PercentEqual@13..15 Percent@16..17 "
         "AmperEqual@18..20 Amper@21..22 VbarEqual@23..25 Vbar@26..27 CircumflexEqual@28..30 CircumFlex@31..32 "
         "AtEqual@33..35 At@36..37 Newline@37..37 EndOfFile@37..37"},
        {"== = != ! := : , ; ~", "EqEqual@0..2 Equal@3..4 NotEqual@5..7 Exclamation@8..9 ColonEqual@10..12 "
                                 "Colon@13..14 Comma@15..16 Semi@17..18 Tilde@19..20 Newline@20..20 EndOfFile@20..20"},
        {"a ? b", "Name(a)@0..1 Unknown@2..3 Name(b)@4..5 Newline@5..5 EndOfFile@5..5"},
    });
}

TEST(LexerTest, StringsAndPrefixes) {
    check_streams({
        {"'abc'", "String(\"abc\")@0..5 Newline@5..5 EndOfFile@5..5"},
        {"\"a\"'b'", "String(\"a\")@0..3/1 String(\"b\")@3..6 Newline@6..6 EndOfFile@6..6"},
        {"'''a'b''c'''", "String(\"a'b''c\")@0..12/2 Newline@12..12 EndOfFile@12..12"},
        {"'a\\'b'", "String(\"a\\\\'b\")@0..6 Newline@6..6 EndOfFile@6..6"},
        {"'a\\\\'", "String(\"a\\\\\\\\\")@0..5 Newline@5..5 EndOfFile@5..5"},
        {"'\\\nx'", "String(\"\\\\\\nx\")@0..5 Newline@5..5 EndOfFile@5..5"},
        // rb and Br both make raw bytes; ur is a name followed by a string.
        {"rb'x' Br\"y\"", "String(\"x\")@0..5/72 String(\"y\")@6..11/73 Newline@11..11 EndOfFile@11..11"},
        {"bR'x'", "String(\"x\")@0..5/136 Newline@5..5 EndOfFile@5..5"},
        {"ur'x'", "Name(ur)@0..2 String(\"x\")@2..5 Newline@5..5 EndOfFile@5..5"},
        {"u'x' U'y' R'z' b'w'", "String(\"x\")@0..4/4 String(\"y\")@5..9/4 String(\"z\")@10..14/128 "
                                "String(\"w\")@15..19/8 Newline@19..19 EndOfFile@19..19"},
        {"bu'x'", "Name(bu)@0..2 String(\"x\")@2..5 Newline@5..5 EndOfFile@5..5"},
        // Unclosed at a line break: one String with flag 256, ending before the break.
        {"'abc\nx", "String(\"abc\")@0..4/256 Newline@4..5 Name(x)@5..6 Newline@6..6 EndOfFile@6..6"},
        {"'''abc", "String(\"abc\")@0..6/258 Newline@6..6 EndOfFile@6..6"},
        {"'a\\\r\nb'", "String(\"a\\\\\\r\\nb\")@0..7 Newline@7..7 EndOfFile@7..7"},
    });
}

TEST(LexerTest, NulIsOrdinaryText) {
    using namespace std::string_view_literals;
    EXPECT_EQ(render_tokens("'a\0b'"sv), "String(\"a\\0b\")@0..5 Newline@5..5 EndOfFile@5..5");
    EXPECT_EQ(render_tokens("a\0b"sv), "Name(a)@0..1 Unknown@1..2 Name(b)@2..3 Newline@3..3 EndOfFile@3..3");
    EXPECT_EQ(render_tokens("f'\0{x}'"sv),
              "FStringStart@0..2/16 FStringMiddle(\"\\0\")@2..3/16 Lbrace@3..4 Name(x)@4..5 Rbrace@5..6 "
              "FStringEnd@6..7/16 Newline@7..7 EndOfFile@7..7");
    // The lexer stops at the view's end even when the bytes after it are readable.
    const std::string backing = "'abc'def";
    EXPECT_EQ(render_tokens(std::string_view(backing).substr(0, 3)), "String(\"ab\")@0..3/256 Newline@3..3 EndOfFile@3..3");
}

TEST(LexerTest, LinesAndIndentation) {
    check_streams({
        {"(a\nb)", "Lpar@0..1 Name(a)@1..2 NonLogicalNewline@2..3 Name(b)@3..4 Rpar@4..5 Newline@5..5 "
                   "EndOfFile@5..5"},
        {"a\n", "Name(a)@0..1 Newline@1..2 EndOfFile@2..2"},
        {"a\r\nb\rc", "Name(a)@0..1 Newline@1..3 Name(b)@3..4 Newline@4..5 Name(c)@5..6 Newline@6..6 EndOfFile@6..6"},
        {"\n\na", "NonLogicalNewline@0..1 NonLogicalNewline@1..2 Name(a)@2..3 Newline@3..3 EndOfFile@3..3"},
        {"# c\na # d", "Comment@0..3 NonLogicalNewline@3..4 Name(a)@4..5 Comment@6..9 Newline@9..9 EndOfFile@9..9"},
        // A comment ends at the nearer line end, whichever kind comes first.
        {"(#a\r#b\r\n#c\nx)", "Lpar@0..1 Comment@1..3 NonLogicalNewline@3..4 Comment@4..6 NonLogicalNewline@6..8 "
                             "Comment@8..10 NonLogicalNewline@10..11 Name(x)@11..12 Rpar@12..13 Newline@13..13 "
                             "EndOfFile@13..13"},
        {"a = \\\n  b", "Name(a)@0..1 Equal@2..3 Name(b)@8..9 Newline@9..9 EndOfFile@9..9"},
        {"if x:\n  a\nb", "If@0..2 Name(x)@3..4 Colon@4..5 Newline@5..6 Indent@6..8 Name(a)@8..9 Newline@9..10 "
                          "Dedent@10..10 Name(b)@10..11 Newline@11..11 EndOfFile@11..11"},
        {"a\n  b\n    c\nd", "Name(a)@0..1 Newline@1..2 Indent@2..4 Name(b)@4..5 Newline@5..6 Indent@6..10 "
                            "Name(c)@10..11 Newline@11..12 Dedent@12..12 Dedent@12..12 Name(d)@12..13 Newline@13..13 "
                            "EndOfFile@13..13"},
        {"  x", "Indent@0..2 Name(x)@2..3 Newline@3..3 Dedent@3..3 EndOfFile@3..3"},
        {"x\n  y\n z", "Name(x)@0..1 Newline@1..2 Indent@2..4 Name(y)@4..5 Newline@5..6 Unknown@6..7 Name(z)@7..8 "
                       "Newline@8..8 EndOfFile@8..8"},
        // A tab moves the column to the next multiple of 2: "\t" and "  " have equal columns
        // but different character counts, which do not agree.
        {"a\n\tb\n  c", "Name(a)@0..1 Newline@1..2 Indent@2..3 Name(b)@3..4 Newline@4..5 Unknown@5..7 "
                        "Name(c)@7..8 Newline@8..8 Dedent@8..8 EndOfFile@8..8"},
    });
}

TEST(LexerTest, InterpolatedStrings) {
    check_streams({
        {"f'a{{b}}c'", "FStringStart@0..2/16 FStringMiddle(\"a{b}c\")@2..9/16 FStringEnd@9..10/16 Newline@10..10 "
                       "EndOfFile@10..10"},
        // The literal part keeps its leading space.
        {"f' a'", "FStringStart@0..2/16 FStringMiddle(\" a\")@2..4/16 FStringEnd@4..5/16 Newline@5..5 EndOfFile@5..5"},
        {"f'{ x }'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@4..5 Rbrace@6..7 FStringEnd@7..8/16 Newline@8..8 "
                     "EndOfFile@8..8"},
        {"f'{x:  >10}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Colon@4..5 FStringMiddle(\"  >10\")@5..10/16 "
                         "Rbrace@10..11 FStringEnd@11..12/16 Newline@12..12 EndOfFile@12..12"},
        {"f'{x!r:>{w}}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Exclamation@4..5 Name(r)@5..6 Colon@6..7 "
                          "FStringMiddle(\">\")@7..8/16 Lbrace@8..9 Name(w)@9..10 Rbrace@10..11 Rbrace@11..12 "
                          "FStringEnd@12..13/16 Newline@13..13 EndOfFile@13..13"},
        {"f'{x=}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Equal@4..5 Rbrace@5..6 FStringEnd@6..7/16 "
                    "Newline@7..7 EndOfFile@7..7"},
        {"f'{x[1:2]}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Lsqb@4..5 Int(1)@5..6 Colon@6..7 Int(2)@7..8 "
                        "Rsqb@8..9 Rbrace@9..10 FStringEnd@10..11/16 Newline@11..11 EndOfFile@11..11"},
        {"f'{x:=1}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Colon@4..5 FStringMiddle(\"=1\")@5..7/16 "
                      "Rbrace@7..8 FStringEnd@8..9/16 Newline@9..9 EndOfFile@9..9"},
        {"f'{x!=y}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 NotEqual@4..6 Name(y)@6..7 Rbrace@7..8 "
                      "FStringEnd@8..9/16 Newline@9..9 EndOfFile@9..9"},
        {"f\"{'a'}\"", "FStringStart@0..2/17 Lbrace@2..3 String(\"a\")@3..6 Rbrace@6..7 FStringEnd@7..8/17 "
                       "Newline@8..8 EndOfFile@8..8"},
        {"f'{f'{x}'}'", "FStringStart@0..2/16 Lbrace@2..3 FStringStart@3..5/16 Lbrace@5..6 Name(x)@6..7 Rbrace@7..8 "
                        "FStringEnd@8..9/16 Rbrace@9..10 FStringEnd@10..11/16 Newline@11..11 EndOfFile@11..11"},
        {"f'''a\nb{x}'''", "FStringStart@0..4/18 FStringMiddle(\"a\\nb\")@4..7/18 Lbrace@7..8 Name(x)@8..9 "
                           "Rbrace@9..10 FStringEnd@10..13/18 Newline@13..13 EndOfFile@13..13"},
        {"f'\\N{BULLET} {x}'", "FStringStart@0..2/16 FStringMiddle(\"\\\\N{BULLET} \")@2..13/16 Lbrace@13..14 "
                               "Name(x)@14..15 Rbrace@15..16 FStringEnd@16..17/16 Newline@17..17 EndOfFile@17..17"},
        {"f'\\{x}'", "FStringStart@0..2/16 FStringMiddle(\"\\\\\")@2..3/16 Lbrace@3..4 Name(x)@4..5 Rbrace@5..6 "
                     "FStringEnd@6..7/16 Newline@7..7 EndOfFile@7..7"},
        {"rf'\\N{x}'", "FStringStart@0..3/80 FStringMiddle(\"\\\\N\")@3..5/80 Lbrace@5..6 Name(x)@6..7 Rbrace@7..8 "
                       "FStringEnd@8..9/80 Newline@9..9 EndOfFile@9..9"},
        {"t'{x:{y}.{z}}'", "TStringStart@0..2/32 Lbrace@2..3 Name(x)@3..4 Colon@4..5 Lbrace@5..6 Name(y)@6..7 "
                           "Rbrace@7..8 TStringMiddle(\".\")@8..9/32 Lbrace@9..10 Name(z)@10..11 Rbrace@11..12 "
                           "Rbrace@12..13 TStringEnd@13..14/32 Newline@14..14 EndOfFile@14..14"},
        {"Rt\"\"\"a\"\"\"", "TStringStart@0..5/163 TStringMiddle(\"a\")@5..6/163 TStringEnd@6..9/163 Newline@9..9 "
                            "EndOfFile@9..9"},
        {"f'{a:b:c}'", "FStringStart@0..2/16 Lbrace@2..3 Name(a)@3..4 Colon@4..5 FStringMiddle(\"b:c\")@5..8/16 "
                       "Rbrace@8..9 FStringEnd@9..10/16 Newline@10..10 EndOfFile@10..10"},
    });
}

TEST(LexerTest, InterpolatedStringErrors) {
    check_streams({
        {"f'a}b'", "FStringStart@0..2/16 FStringMiddle(\"a\")@2..3/16 Unknown@3..4 FStringMiddle(\"b\")@4..5/16 "
                   "FStringEnd@5..6/16 Newline@6..6 EndOfFile@6..6"},
        {"f'abc\nx", "FStringStart@0..2/16 FStringMiddle(\"abc\")@2..5/272 Newline@5..6 Name(x)@6..7 Newline@7..7 "
                     "EndOfFile@7..7"},
        {"f'{x:a\n}'", "FStringStart@0..2/16 Lbrace@2..3 Name(x)@3..4 Colon@4..5 FStringMiddle(\"a\")@5..6/272 "
                       "Newline@6..7 Rbrace@7..8 String(\"\")@8..9/256 Newline@9..9 EndOfFile@9..9"},
        {"f'''ab", "FStringStart@0..4/18 FStringMiddle(\"ab\")@4..6/274 Newline@6..6 EndOfFile@6..6"},
    });
    struct ErrorCase {
        std::string_view source;
        std::string_view errors;
    };
    const ErrorCase cases[] = {
        {"f'a}b'", "f-string: single `}` is not allowed@3..4"},
        {"t'}'", "t-string: single `}` is not allowed@2..3"},
        {"f'abc\nx", "f-string: unterminated string@2..5"},
        {"f'{x:a\n}'", "f-string: newlines are not allowed in format specifiers when using single quotes@5..6; "
                       "missing closing quote in string literal@8..9"},
        {"f'''ab", "f-string: unterminated triple-quoted string@4..6"},
        {"t'ab", "t-string: unterminated string@2..4"},
        {"f'{x", "f-string: unterminated string@4..4"},
    };
    for (const auto& c : cases) EXPECT_EQ(render_errors(c.source), c.errors) << c.source;
}

TEST(LexerTest, LexicalErrors) {
    struct ErrorCase {
        std::string_view source;
        std::string_view errors;
    };
    const ErrorCase cases[] = {
        {"0b2", "ParseIntError { kind: Empty }@0..2"},
        {"0x", "ParseIntError { kind: Empty }@0..2"},
        {"07", "Invalid decimal integer literal@0..2"},
        {"0_7", "Invalid decimal integer literal@0..3"},
        {"1._5", "Invalid Syntax@2..3"},
        {"'abc", "missing closing quote in string literal@0..4"},
        {"'abc\n'", "missing closing quote in string literal@0..4; missing closing quote in string literal@5..6"},
        {"a ? b", "Got unexpected token ?@2..3"},
        {"a $", "Got unexpected token $@2..3"},
        {"a \xe2\x82\xac", "Got unexpected token \xe2\x82\xac@2..5"},
        {"a \\ b", "Expected a newline after line continuation character@2..3"},
        {"a \\", "unexpected EOF while parsing@2..3"},
        {"(a", "unexpected EOF while parsing@2..2"},
        {"[(\n", "unexpected EOF while parsing@3..3"},
        {"x\n  y\n z", "unindent does not match any outer indentation level@6..7"},
        {"a)", ""},
    };
    for (const auto& c : cases) EXPECT_EQ(render_errors(c.source), c.errors) << c.source;
}

TEST(LexerTest, ByteOrderMarkIsSkipped) {
    EXPECT_EQ(render_tokens("\xef\xbb\xbfx"), "Name(x)@3..4 Newline@4..4 EndOfFile@4..4");
}

TEST(LexerTest, EmptyAndRepeatedEnd) {
    Lexer lexer("");
    EXPECT_EQ(lexer.current_kind(), TokenKind::EndOfFile);
    EXPECT_EQ(lexer.next_token(), TokenKind::EndOfFile);
    EXPECT_EQ(lexer.current_range(), TextRange(0, 0));
    EXPECT_EQ(lexer.next_token(), TokenKind::EndOfFile);
}

TEST(LexerTest, CheckpointAndRewind) {
    Lexer lexer("f'{a ? b}' c");
    lexer.next_token();  // FStringStart
    lexer.next_token();  // {
    const auto cp = lexer.checkpoint();
    std::vector<TokenKind> first;
    while (lexer.next_token() != TokenKind::EndOfFile) first.push_back(lexer.current_kind());
    EXPECT_EQ(lexer.errors().size(), 1u);
    lexer.rewind(cp);
    EXPECT_EQ(lexer.current_kind(), TokenKind::Lbrace);
    EXPECT_EQ(lexer.current_range(), TextRange(2, 3));
    EXPECT_TRUE(lexer.errors().empty());
    std::vector<TokenKind> second;
    while (lexer.next_token() != TokenKind::EndOfFile) second.push_back(lexer.current_kind());
    EXPECT_EQ(first, second);
    EXPECT_EQ(lexer.errors().size(), 1u);
}

TEST(LexerTest, ReLexLogicalToken) {
    // "(a\nb": the parser gives up the parenthesized list at b; moving back to the
    // line break makes it a logical Newline.
    Lexer lexer("(a\nb");
    EXPECT_EQ(lexer.next_token(), TokenKind::Lpar);
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    EXPECT_EQ(lexer.next_token(), TokenKind::NonLogicalNewline);
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    Lexer::SavedToken replaced;
    EXPECT_TRUE(lexer.re_lex_logical_token(TextSize(2), replaced));
    EXPECT_EQ(lexer.current_kind(), TokenKind::Newline);
    EXPECT_EQ(lexer.current_range(), TextRange(2, 3));
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    EXPECT_EQ(lexer.next_token(), TokenKind::Newline);
    EXPECT_EQ(lexer.next_token(), TokenKind::EndOfFile);
    EXPECT_TRUE(lexer.errors().empty());

    // Without a preceding line break only the nesting is lowered.
    Lexer flat("(a b");
    flat.next_token();
    flat.next_token();
    flat.next_token();
    EXPECT_FALSE(flat.re_lex_logical_token(std::nullopt, replaced));
    EXPECT_EQ(flat.next_token(), TokenKind::Newline);
    EXPECT_TRUE(flat.errors().empty());
}

TEST(LexerTest, ReLexStringAsInterpolatedEnd) {
    // f'{x:{' : the quote after the nested `{` closes the f-string.
    Lexer lexer("f'{x'");
    EXPECT_EQ(lexer.next_token(), TokenKind::FStringStart);
    EXPECT_EQ(lexer.next_token(), TokenKind::Lbrace);
    EXPECT_EQ(lexer.next_token(), TokenKind::Name);
    EXPECT_EQ(lexer.next_token(), TokenKind::String);
    ASSERT_EQ(lexer.errors().size(), 1u);
    EXPECT_TRUE(lexer.re_lex_string_token_in_interpolation_element());
    EXPECT_EQ(lexer.current_kind(), TokenKind::FStringEnd);
    EXPECT_EQ(lexer.current_range(), TextRange(4, 5));
    EXPECT_EQ(lexer.current_flags().bits, StringTokenFlags::kFPrefix);
    EXPECT_TRUE(lexer.errors().empty());
    EXPECT_EQ(lexer.next_token(), TokenKind::Newline);
    EXPECT_EQ(lexer.next_token(), TokenKind::EndOfFile);
    EXPECT_TRUE(lexer.errors().empty());

    // A string with other text after its quote is a real string.
    Lexer other("f'{'a");
    other.next_token();
    other.next_token();
    EXPECT_EQ(other.next_token(), TokenKind::String);
    EXPECT_FALSE(other.re_lex_string_token_in_interpolation_element());
    // Different quotes do not match.
    Lexer quotes("f\"{'");
    quotes.next_token();
    quotes.next_token();
    EXPECT_EQ(quotes.next_token(), TokenKind::String);
    EXPECT_FALSE(quotes.re_lex_string_token_in_interpolation_element());
}

TEST(LexerTest, ReLexRawStringAsName) {
    Lexer lexer("f'{x!r'");
    lexer.next_token();
    lexer.next_token();
    lexer.next_token();
    EXPECT_EQ(lexer.next_token(), TokenKind::Exclamation);
    EXPECT_EQ(lexer.next_token(), TokenKind::String);
    EXPECT_TRUE(lexer.re_lex_raw_string_in_format_spec());
    EXPECT_EQ(lexer.current_kind(), TokenKind::Name);
    EXPECT_EQ(std::get<Name>(lexer.current_value()), "r");
    EXPECT_EQ(lexer.current_range(), TextRange(5, 6));
    EXPECT_TRUE(lexer.errors().empty());
    EXPECT_EQ(lexer.next_token(), TokenKind::String);  // the quote again, still unclosed
}

TEST(LexerTest, TooLargeSourceIsRefused) {
    EXPECT_FALSE(Lexer::source_too_large(std::string_view("abc")));
    EXPECT_EQ(kSourceTooLargeMessage, "Lexer only supports files with a size up to 4GB");
    // A view claiming 4 GiB is refused from its length alone; no byte of it is read.
    static const char small[4] = "abc";
    const std::string_view huge(small, size_t{UINT32_MAX} + 1);
    EXPECT_TRUE(Lexer::source_too_large(huge));
    EXPECT_FALSE(Lexer::source_too_large(std::string_view(small, 3)));
    EXPECT_THROW(Lexer{huge}, InternalFault);
    EXPECT_THROW(LineIndex::from_source(huge), InternalFault);
    EXPECT_THROW(TextSize::of(huge), InternalFault);
}

TEST(TokenKindTest, DisplayTexts) {
    struct Case {
        TokenKind kind;
        std::string_view display;
        std::string_view name;
    };
    const Case cases[] = {
        {TokenKind::Name, "name", "Name"},
        {TokenKind::EndOfFile, "end of file", "EndOfFile"},
        {TokenKind::IpyEscapeCommand, "IPython escape command", "IpyEscapeCommand"},
        {TokenKind::NonLogicalNewline, "NonLogicalNewline", "NonLogicalNewline"},
        {TokenKind::Rpar, "`)`", "Rpar"},
        {TokenKind::DoubleStarEqual, "`**=`", "DoubleStarEqual"},
        {TokenKind::At, "`@`", "At"},
        {TokenKind::Ellipsis, "`...`", "Ellipsis"},
        {TokenKind::Lambda, "`lambda`", "Lambda"},
        {TokenKind::None, "`None`", "None"},
        {TokenKind::Type, "`type`", "Type"},
        {TokenKind::Unknown, "Unknown", "Unknown"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(token_kind_display(c.kind), c.display);
        EXPECT_EQ(token_kind_name(c.kind), c.name);
    }
    // Every operator and keyword displays as its spelling in backquotes.
    for (unsigned k = 18; k <= 104; ++k) {
        const auto kind = static_cast<TokenKind>(k);
        EXPECT_EQ(token_kind_display(kind), "`" + std::string(token_kind_spelling(kind)) + "`") << k;
    }
}

TEST(TokenKindTest, KeywordSpellingsLexBackToTheirKind) {
    for (unsigned k = 67; k <= 104; ++k) {
        const auto kind = static_cast<TokenKind>(k);
        Lexer lexer(token_kind_spelling(kind));
        EXPECT_EQ(lexer.next_token(), kind) << token_kind_spelling(kind);
    }
    for (unsigned k = 19; k <= 66; ++k) {  // all operators but `?`
        const auto kind = static_cast<TokenKind>(k);
        Lexer lexer(token_kind_spelling(kind));
        EXPECT_EQ(lexer.next_token(), kind) << token_kind_spelling(kind);
    }
}

}  // namespace
}  // namespace lumra::pyexpr

namespace lumra::pyexpr {
namespace {

TEST(LexerTest, ReLexLogicalTokenAtClosingBracketAndInTripleQuotes) {
    // At a closing bracket the lexer stays inside the bracket it closes: the
    // line break and the bracket lex as they did, so nothing is lexed again.
    Lexer closing("[(a\n]");
    for (int i = 0; i < 4; ++i) closing.next_token();  // [ ( a NonLogicalNewline
    EXPECT_EQ(closing.next_token(), TokenKind::Rsqb);
    Lexer::SavedToken replaced;
    EXPECT_FALSE(closing.re_lex_logical_token(TextSize(3), replaced));
    EXPECT_EQ(closing.current_kind(), TokenKind::Rsqb);
    EXPECT_EQ(closing.current_range(), TextRange(4, 5));
    EXPECT_EQ(closing.next_token(), TokenKind::Newline);

    // In an f-string's replacement field the line break closes the string
    // when lexed again; after it the bracket lexes as before and is resumed.
    Lexer field("(f'{x\n\n)");
    for (int i = 0; i < 6; ++i) field.next_token();  // ( FStringStart { x NonLogicalNewline x2
    EXPECT_EQ(field.next_token(), TokenKind::Rpar);
    EXPECT_TRUE(field.re_lex_logical_token(TextSize(5), replaced));
    EXPECT_EQ(field.current_kind(), TokenKind::NonLogicalNewline);
    EXPECT_EQ(field.current_range(), TextRange(5, 6));
    EXPECT_TRUE(field.resume(replaced));
    EXPECT_EQ(field.current_kind(), TokenKind::Rpar);
    EXPECT_EQ(field.current_range(), TextRange(7, 8));
    EXPECT_EQ(field.next_token(), TokenKind::Newline);
    ASSERT_EQ(field.errors().size(), 1u);
    EXPECT_EQ(field.errors()[0].location, TextRange(5, 5));

    // Line breaks of a triple-quoted f-string belong to it: nothing is re-lexed.
    Lexer triple("f'''{(a\n}'''");
    for (int i = 0; i < 5; ++i) triple.next_token();  // FStringStart { ( a NonLogicalNewline
    EXPECT_EQ(triple.next_token(), TokenKind::Rbrace);
    EXPECT_FALSE(triple.re_lex_logical_token(TextSize(7), replaced));
    EXPECT_EQ(triple.current_kind(), TokenKind::Rbrace);
}

}  // namespace
}  // namespace lumra::pyexpr
