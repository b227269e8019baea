// Errors found while lexing and while decoding string literals.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pyexpr/text_size.h"

namespace lumra::pyexpr {

enum class InterpolatedStringErrorType : uint8_t {
    UnclosedLbrace,
    InvalidConversionFlag,
    SingleRbrace,
    UnterminatedString,
    UnterminatedTripleQuotedString,
    LambdaWithoutParentheses,
    ConversionFlagNotRightAfterExclamation,
    NewlineInFormatSpec,
};

// "expecting `}`", "invalid conversion character", ...
std::string_view message(InterpolatedStringErrorType e);
std::string_view enum_name(InterpolatedStringErrorType e);

struct LexicalErrorType {
    enum class Kind : uint8_t {
        UnexpectedString,
        UnclosedString,
        UnexpectedUnicode,
        MissingUnicodeLbrace,
        MissingUnicodeRbrace,
        UnindentMismatch,
        UnexpectedToken,  // carries `ch`
        FStringError,     // carries `interpolated`
        TStringError,     // carries `interpolated`
        NonAsciiBytes,
        LineContinuationError,
        UnexpectedEof,
        Other,  // carries `text`
    };

    Kind kind = Kind::Other;
    char32_t ch = 0;
    InterpolatedStringErrorType interpolated = InterpolatedStringErrorType::UnclosedLbrace;
    std::string text;

    static LexicalErrorType of(Kind k) {
        LexicalErrorType e;
        e.kind = k;
        return e;
    }
    static LexicalErrorType unexpected_token(char32_t c) {
        LexicalErrorType e = of(Kind::UnexpectedToken);
        e.ch = c;
        return e;
    }
    static LexicalErrorType fstring(InterpolatedStringErrorType i) {
        LexicalErrorType e = of(Kind::FStringError);
        e.interpolated = i;
        return e;
    }
    static LexicalErrorType tstring(InterpolatedStringErrorType i) {
        LexicalErrorType e = of(Kind::TStringError);
        e.interpolated = i;
        return e;
    }
    static LexicalErrorType other(std::string message) {
        LexicalErrorType e = of(Kind::Other);
        e.text = std::move(message);
        return e;
    }

    // The message of the error, e.g. "missing closing quote in string literal",
    // "Got unexpected token ?", "f-string: single `}` is not allowed".
    std::string message() const;

    friend bool operator==(const LexicalErrorType&, const LexicalErrorType&) = default;
};

struct LexicalError {
    LexicalErrorType error;
    TextRange location;

    friend bool operator==(const LexicalError&, const LexicalError&) = default;
};

}  // namespace lumra::pyexpr
