#include "pyexpr/parser_error.h"

#include <fmt/format.h>

namespace lumra::pyexpr {

std::string ParseErrorType::message() const {
    switch (kind) {
        case Kind::OtherError: return text;
        case Kind::EmptySlice: return "Expected index or slice expression";
        case Kind::UnparenthesizedNamedExpression: return "Unparenthesized named expression cannot be used here";
        case Kind::UnparenthesizedTupleExpression: return "Unparenthesized tuple expression cannot be used here";
        case Kind::UnparenthesizedGeneratorExpression:
            return "Unparenthesized generator expression cannot be used here";
        case Kind::InvalidLambdaExpressionUsage: return "Lambda expression cannot be used here";
        case Kind::InvalidYieldExpressionUsage: return "Yield expression cannot be used here";
        case Kind::InvalidStarredExpressionUsage: return "Starred expression cannot be used here";
        case Kind::ParamAfterVarKeywordParam: return "Parameter cannot follow var-keyword parameter";
        case Kind::NonDefaultParamAfterDefaultParam:
            return "Parameter without a default cannot follow a parameter with a default";
        case Kind::VarParameterWithDefault: return "Parameter with `*` or `**` cannot have default value";
        case Kind::DuplicateKeywordArgumentError: return fmt::format("Duplicate keyword argument {}", text);
        case Kind::InvalidAssignmentTarget: return "Invalid assignment target";
        case Kind::InvalidNamedAssignmentTarget: return "Assignment expression target must be an identifier";
        case Kind::PositionalAfterKeywordArgument: return "Positional argument cannot follow keyword argument";
        case Kind::PositionalAfterKeywordUnpacking:
            return "Positional argument cannot follow keyword argument unpacking";
        case Kind::InvalidArgumentUnpackingOrder:
            return "Iterable argument unpacking cannot follow keyword argument unpacking";
        case Kind::IterableUnpackingInComprehension: return "Iterable unpacking cannot be used in a comprehension";
        case Kind::ExpectedKeywordParam: return "Expected one or more keyword parameter after `*` separator";
        case Kind::ExpectedExpression: return "Expected an expression";
        case Kind::ExpectedToken:
            return fmt::format("Expected {}, found {}", token_kind_display(expected), token_kind_display(found));
        case Kind::UnexpectedExpressionToken: return "Unexpected token at the end of an expression";
        case Kind::FStringError: return fmt::format("f-string: {}", pyexpr::message(interpolated));
        case Kind::TStringError: return fmt::format("t-string: {}", pyexpr::message(interpolated));
        case Kind::Lexical: return lexical.message();
    }
    return text;
}

std::string ParseError::to_string() const {
    return fmt::format("{} at byte range {}..{}", error.message(), location.start().raw, location.end().raw);
}

}  // namespace lumra::pyexpr
