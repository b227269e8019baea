// Errors of the expression parser. A ParseError prints as
// "{message} at byte range {start}..{end}"; the rewriter reads the range back
// from that text, so the wording around the numbers is fixed.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pyexpr/lexical_error.h"
#include "pyexpr/text_size.h"
#include "pyexpr/token_kind.h"

namespace lumra::pyexpr {

struct ParseErrorType {
    enum class Kind : uint8_t {
        OtherError,  // carries `text`
        EmptySlice,
        UnparenthesizedNamedExpression,
        UnparenthesizedTupleExpression,
        UnparenthesizedGeneratorExpression,
        InvalidLambdaExpressionUsage,
        InvalidYieldExpressionUsage,
        InvalidStarredExpressionUsage,
        ParamAfterVarKeywordParam,
        NonDefaultParamAfterDefaultParam,
        VarParameterWithDefault,
        DuplicateKeywordArgumentError,  // carries `text` (the name)
        InvalidAssignmentTarget,
        InvalidNamedAssignmentTarget,
        PositionalAfterKeywordArgument,
        PositionalAfterKeywordUnpacking,
        InvalidArgumentUnpackingOrder,
        IterableUnpackingInComprehension,
        ExpectedKeywordParam,
        ExpectedExpression,
        ExpectedToken,  // carries `expected` and `found`
        UnexpectedExpressionToken,
        FStringError,  // carries `interpolated`
        TStringError,  // carries `interpolated`
        Lexical,       // carries `lexical`
    };

    Kind kind = Kind::OtherError;
    std::string text;
    TokenKind expected = TokenKind::Unknown;
    TokenKind found = TokenKind::Unknown;
    InterpolatedStringErrorType interpolated = InterpolatedStringErrorType::UnclosedLbrace;
    LexicalErrorType lexical;

    static ParseErrorType of(Kind k) {
        ParseErrorType e;
        e.kind = k;
        return e;
    }
    static ParseErrorType other(std::string message) {
        ParseErrorType e = of(Kind::OtherError);
        e.text = std::move(message);
        return e;
    }
    static ParseErrorType duplicate_keyword(std::string_view name) {
        ParseErrorType e = of(Kind::DuplicateKeywordArgumentError);
        e.text = std::string(name);
        return e;
    }
    static ParseErrorType expected_token(TokenKind expected, TokenKind found) {
        ParseErrorType e = of(Kind::ExpectedToken);
        e.expected = expected;
        e.found = found;
        return e;
    }
    static ParseErrorType fstring(InterpolatedStringErrorType i) {
        ParseErrorType e = of(Kind::FStringError);
        e.interpolated = i;
        return e;
    }
    static ParseErrorType tstring(InterpolatedStringErrorType i) {
        ParseErrorType e = of(Kind::TStringError);
        e.interpolated = i;
        return e;
    }
    static ParseErrorType from_lexical(LexicalErrorType lexical) {
        ParseErrorType e = of(Kind::Lexical);
        e.lexical = std::move(lexical);
        return e;
    }

    // "Expected an expression", "Expected `:`, found newline", ...
    std::string message() const;

    friend bool operator==(const ParseErrorType&, const ParseErrorType&) = default;
};

struct ParseError {
    ParseErrorType error;
    TextRange location;

    // "{message} at byte range {start}..{end}".
    std::string to_string() const;

    friend bool operator==(const ParseError&, const ParseError&) = default;
};

}  // namespace lumra::pyexpr
