#include "pyexpr/token_kind.h"

#include "pyexpr/lexical_error.h"
#include "pyexpr/utf8.h"

namespace lumra::pyexpr {

namespace {

struct KindInfo {
    std::string_view name;
    std::string_view display;
    std::string_view spelling;
};

constexpr KindInfo kKinds[kTokenKindCount] = {
    {"Name", "name", ""},
    {"Int", "int", ""},
    {"Float", "float", ""},
    {"Complex", "complex", ""},
    {"String", "string", ""},
    {"FStringStart", "FStringStart", ""},
    {"FStringMiddle", "FStringMiddle", ""},
    {"FStringEnd", "FStringEnd", ""},
    {"TStringStart", "TStringStart", ""},
    {"TStringMiddle", "TStringMiddle", ""},
    {"TStringEnd", "TStringEnd", ""},
    {"IpyEscapeCommand", "IPython escape command", ""},
    {"Comment", "comment", ""},
    {"Newline", "newline", ""},
    {"NonLogicalNewline", "NonLogicalNewline", ""},
    {"Indent", "indent", ""},
    {"Dedent", "dedent", ""},
    {"EndOfFile", "end of file", ""},
    {"Question", "`?`", "?"},
    {"Exclamation", "`!`", "!"},
    {"Lpar", "`(`", "("},
    {"Rpar", "`)`", ")"},
    {"Lsqb", "`[`", "["},
    {"Rsqb", "`]`", "]"},
    {"Colon", "`:`", ":"},
    {"Comma", "`,`", ","},
    {"Semi", "`;`", ";"},
    {"Plus", "`+`", "+"},
    {"Minus", "`-`", "-"},
    {"Star", "`*`", "*"},
    {"Slash", "`/`", "/"},
    {"Vbar", "`|`", "|"},
    {"Amper", "`&`", "&"},
    {"Less", "`<`", "<"},
    {"Greater", "`>`", ">"},
    {"Equal", "`=`", "="},
    {"Dot", "`.`", "."},
    {"Percent", "`%`", "%"},
    {"Lbrace", "`{`", "{"},
    {"Rbrace", "`}`", "}"},
    {"EqEqual", "`==`", "=="},
    {"NotEqual", "`!=`", "!="},
    {"LessEqual", "`<=`", "<="},
    {"GreaterEqual", "`>=`", ">="},
    {"Tilde", "`~`", "~"},
    {"CircumFlex", "`^`", "^"},
    {"LeftShift", "`<<`", "<<"},
    {"RightShift", "`>>`", ">>"},
    {"DoubleStar", "`**`", "**"},
    {"DoubleStarEqual", "`**=`", "**="},
    {"PlusEqual", "`+=`", "+="},
    {"MinusEqual", "`-=`", "-="},
    {"StarEqual", "`*=`", "*="},
    {"SlashEqual", "`/=`", "/="},
    {"PercentEqual", "`%=`", "%="},
    {"AmperEqual", "`&=`", "&="},
    {"VbarEqual", "`|=`", "|="},
    {"CircumflexEqual", "`^=`", "^="},
    {"LeftShiftEqual", "`<<=`", "<<="},
    {"RightShiftEqual", "`>>=`", ">>="},
    {"DoubleSlash", "`//`", "//"},
    {"DoubleSlashEqual", "`//=`", "//="},
    {"ColonEqual", "`:=`", ":="},
    {"At", "`@`", "@"},
    {"AtEqual", "`@=`", "@="},
    {"Rarrow", "`->`", "->"},
    {"Ellipsis", "`...`", "..."},
    {"And", "`and`", "and"},
    {"As", "`as`", "as"},
    {"Assert", "`assert`", "assert"},
    {"Async", "`async`", "async"},
    {"Await", "`await`", "await"},
    {"Break", "`break`", "break"},
    {"Class", "`class`", "class"},
    {"Continue", "`continue`", "continue"},
    {"Def", "`def`", "def"},
    {"Del", "`del`", "del"},
    {"Elif", "`elif`", "elif"},
    {"Else", "`else`", "else"},
    {"Except", "`except`", "except"},
    {"False", "`False`", "False"},
    {"Finally", "`finally`", "finally"},
    {"For", "`for`", "for"},
    {"From", "`from`", "from"},
    {"Global", "`global`", "global"},
    {"If", "`if`", "if"},
    {"Import", "`import`", "import"},
    {"In", "`in`", "in"},
    {"Is", "`is`", "is"},
    {"Lambda", "`lambda`", "lambda"},
    {"None", "`None`", "None"},
    {"Nonlocal", "`nonlocal`", "nonlocal"},
    {"Not", "`not`", "not"},
    {"Or", "`or`", "or"},
    {"Pass", "`pass`", "pass"},
    {"Raise", "`raise`", "raise"},
    {"Return", "`return`", "return"},
    {"True", "`True`", "True"},
    {"Try", "`try`", "try"},
    {"While", "`while`", "while"},
    {"With", "`with`", "with"},
    {"Yield", "`yield`", "yield"},
    {"Case", "`case`", "case"},
    {"Match", "`match`", "match"},
    {"Type", "`type`", "type"},
    {"Unknown", "Unknown", ""},
};

}  // namespace

std::string_view token_kind_name(TokenKind kind) { return kKinds[static_cast<unsigned>(kind)].name; }
std::string_view token_kind_display(TokenKind kind) { return kKinds[static_cast<unsigned>(kind)].display; }
std::string_view token_kind_spelling(TokenKind kind) { return kKinds[static_cast<unsigned>(kind)].spelling; }

std::string_view message(InterpolatedStringErrorType e) {
    switch (e) {
        case InterpolatedStringErrorType::UnclosedLbrace: return "expecting `}`";
        case InterpolatedStringErrorType::InvalidConversionFlag: return "invalid conversion character";
        case InterpolatedStringErrorType::SingleRbrace: return "single `}` is not allowed";
        case InterpolatedStringErrorType::UnterminatedString: return "unterminated string";
        case InterpolatedStringErrorType::UnterminatedTripleQuotedString: return "unterminated triple-quoted string";
        case InterpolatedStringErrorType::LambdaWithoutParentheses:
            return "lambda expressions are not allowed without parentheses";
        case InterpolatedStringErrorType::ConversionFlagNotRightAfterExclamation:
            return "conversion type must come right after the exclamation mark";
        case InterpolatedStringErrorType::NewlineInFormatSpec:
            return "newlines are not allowed in format specifiers when using single quotes";
    }
    return "";
}

std::string_view enum_name(InterpolatedStringErrorType e) {
    switch (e) {
        case InterpolatedStringErrorType::UnclosedLbrace: return "UnclosedLbrace";
        case InterpolatedStringErrorType::InvalidConversionFlag: return "InvalidConversionFlag";
        case InterpolatedStringErrorType::SingleRbrace: return "SingleRbrace";
        case InterpolatedStringErrorType::UnterminatedString: return "UnterminatedString";
        case InterpolatedStringErrorType::UnterminatedTripleQuotedString: return "UnterminatedTripleQuotedString";
        case InterpolatedStringErrorType::LambdaWithoutParentheses: return "LambdaWithoutParentheses";
        case InterpolatedStringErrorType::ConversionFlagNotRightAfterExclamation:
            return "ConversionFlagNotRightAfterExclamation";
        case InterpolatedStringErrorType::NewlineInFormatSpec: return "NewlineInFormatSpec";
    }
    return "";
}


std::string LexicalErrorType::message() const {
    switch (kind) {
        case Kind::UnexpectedString: return "Got unexpected string";
        case Kind::UnclosedString: return "missing closing quote in string literal";
        case Kind::UnexpectedUnicode: return "Got unexpected unicode";
        case Kind::MissingUnicodeLbrace: return "Missing `{` in Unicode escape sequence";
        case Kind::MissingUnicodeRbrace: return "Missing `}` in Unicode escape sequence";
        case Kind::UnindentMismatch: return "unindent does not match any outer indentation level";
        case Kind::UnexpectedToken: {
            std::string out = "Got unexpected token ";
            utf8::append(out, ch);
            return out;
        }
        case Kind::FStringError: return "f-string: " + std::string(pyexpr::message(interpolated));
        case Kind::TStringError: return "t-string: " + std::string(pyexpr::message(interpolated));
        case Kind::NonAsciiBytes: return "bytes can only contain ASCII literal characters";
        case Kind::LineContinuationError: return "Expected a newline after line continuation character";
        case Kind::UnexpectedEof: return "unexpected EOF while parsing";
        case Kind::Other: return text;
    }
    return text;
}

}  // namespace lumra::pyexpr
