// The kinds of tokens the lexer produces, with their debug names and the
// display texts that parser messages use ("Expected {}, found {}").
#pragma once

#include <cstdint>
#include <string_view>

namespace lumra::pyexpr {

enum class TokenKind : uint8_t {
    Name = 0,
    Int,
    Float,
    Complex,
    String,
    FStringStart,
    FStringMiddle,
    FStringEnd,
    TStringStart,
    TStringMiddle,
    TStringEnd,
    IpyEscapeCommand,
    Comment,
    Newline,
    NonLogicalNewline,
    Indent,
    Dedent,
    EndOfFile,
    // Operators (18 to 66).
    Question,
    Exclamation,
    Lpar,
    Rpar,
    Lsqb,
    Rsqb,
    Colon,
    Comma,
    Semi,
    Plus,
    Minus,
    Star,
    Slash,
    Vbar,
    Amper,
    Less,
    Greater,
    Equal,
    Dot,
    Percent,
    Lbrace,
    Rbrace,
    EqEqual,
    NotEqual,
    LessEqual,
    GreaterEqual,
    Tilde,
    CircumFlex,
    LeftShift,
    RightShift,
    DoubleStar,
    DoubleStarEqual,
    PlusEqual,
    MinusEqual,
    StarEqual,
    SlashEqual,
    PercentEqual,
    AmperEqual,
    VbarEqual,
    CircumflexEqual,
    LeftShiftEqual,
    RightShiftEqual,
    DoubleSlash,
    DoubleSlashEqual,
    ColonEqual,
    At,
    AtEqual,
    Rarrow,
    Ellipsis,
    // Keywords (67 to 101).
    And,
    As,
    Assert,
    Async,
    Await,
    Break,
    Class,
    Continue,
    Def,
    Del,
    Elif,
    Else,
    Except,
    False,
    Finally,
    For,
    From,
    Global,
    If,
    Import,
    In,
    Is,
    Lambda,
    None,
    Nonlocal,
    Not,
    Or,
    Pass,
    Raise,
    Return,
    True,
    Try,
    While,
    With,
    Yield,
    // Soft keywords (102 to 104): the parser also accepts them as names.
    Case,
    Match,
    Type,
    Unknown,
};

inline constexpr unsigned kTokenKindCount = 106;
static_assert(static_cast<unsigned>(TokenKind::Question) == 18);
static_assert(static_cast<unsigned>(TokenKind::Ellipsis) == 66);
static_assert(static_cast<unsigned>(TokenKind::And) == 67);
static_assert(static_cast<unsigned>(TokenKind::Yield) == 101);
static_assert(static_cast<unsigned>(TokenKind::Type) == 104);
static_assert(static_cast<unsigned>(TokenKind::Unknown) == 105);

// Debug name: "Name", "Lpar", "DoubleStarEqual", ...
std::string_view token_kind_name(TokenKind kind);
// Display text in messages: "name", "end of file", "`(`", "`lambda`", ...
std::string_view token_kind_display(TokenKind kind);
// Source spelling of an operator or keyword kind ("(", "**=", "lambda"); empty for others.
std::string_view token_kind_spelling(TokenKind kind);

constexpr bool is_operator(TokenKind k) {
    return static_cast<unsigned>(k) >= 18 && static_cast<unsigned>(k) <= 66;
}
constexpr bool is_keyword(TokenKind k) {  // hard and soft keywords
    return static_cast<unsigned>(k) >= 67 && static_cast<unsigned>(k) <= 104;
}
constexpr bool is_soft_keyword(TokenKind k) {
    return k == TokenKind::Case || k == TokenKind::Match || k == TokenKind::Type;
}
// Comments and non-logical line breaks, which the token source steps over.
constexpr bool is_trivia(TokenKind k) { return k == TokenKind::Comment || k == TokenKind::NonLogicalNewline; }

}  // namespace lumra::pyexpr
