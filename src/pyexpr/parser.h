// Parser of one Python expression (the `eval` form of Python's grammar).
//
// The parser never stops at the first error: it records every error with its
// byte range, always builds a complete tree (an empty, `Invalid` name stands in
// for anything missing) and, at the end, merges its errors with the lexer's.
// `parse_python_expression` reports the first of them.
//
// Limits, so that no input can exhaust the stack here or in the later walks
// over the tree (rewriter, generator, copy, destruction):
//  - kMaxNestingDepth: nested brackets, prefix operators (`-`, `not`, `*`,
//    `await`, ...), lambdas, `else` branches and right operands of `**` may
//    nest at most 200 deep (CPython accepts 200 nested brackets).
//  - kMaxTreeHeight: no tree returned without errors is taller than 1000
//    nodes (argument lists, comprehension clauses and format specs count as a
//    level of their own); this bounds the left-deep chains (`a+a+...`,
//    `f()()...`, `x.a.b...`) that are built by loops rather than recursion.
// Past either limit the parse records "Expression is too deeply nested" at the
// current token and stops reading input, as if it had ended there.
#pragma once

#include <cstdint>
#include <string_view>
#include <variant>
#include <vector>

#include "pyexpr/ast.h"
#include "pyexpr/parser_error.h"
#include "pyexpr/string_flags.h"
#include "pyexpr/text_size.h"
#include "pyexpr/token_kind.h"

namespace lumra::pyexpr {

inline constexpr uint32_t kMaxNestingDepth = 200;
inline constexpr uint32_t kMaxTreeHeight = 1000;
inline constexpr std::string_view kTooDeepMessage = "Expression is too deeply nested";

// One consumed token, trivia included (comments, non-logical line breaks).
struct ParsedToken {
    TokenKind kind = TokenKind::EndOfFile;
    TextRange range;
    StringTokenFlags flags;
};

// Everything a parse produces. With errors the tree is still complete, but only
// good for error reporting.
struct ExpressionParse {
    Expr expr;
    std::vector<ParsedToken> tokens;
    // Parser and lexer errors merged by start offset; the first is the one reported.
    // After the parser's first error, `\N{...}` names in later literals are not
    // looked up, so unknown names there are missing from the list.
    std::vector<ParseError> errors;

    bool ok() const { return errors.empty(); }
};

// Parses `text` (UTF-8; a leading byte order mark is skipped) as one expression,
// or an unparenthesized tuple, that must take up the whole text. A text of
// 4 GiB or more is refused with "Lexer only supports files with a size up to 4GB".
// A caller that wraps an expression in levels of its own (a loop header read as
// a generator) may allow the tree those levels above kMaxTreeHeight.
ExpressionParse parse_python_expression_full(std::string_view text, uint32_t max_tree_height = kMaxTreeHeight);

// The tree, or the first error of the merged list.
class ExpressionResult {
public:
    explicit ExpressionResult(Expr&& expr) : value_(std::in_place_index<0>, std::move(expr)) {}
    explicit ExpressionResult(ParseError error) : value_(std::move(error)) {}

    bool ok() const { return value_.index() == 0; }
    explicit operator bool() const { return ok(); }
    Expr& expr() { return std::get<0>(value_); }
    const Expr& expr() const { return std::get<0>(value_); }
    const ParseError& error() const { return std::get<1>(value_); }
    Expr take_expr() { return std::move(std::get<0>(value_)); }

private:
    std::variant<Expr, ParseError> value_;
};

ExpressionResult parse_python_expression(std::string_view text);

}  // namespace lumra::pyexpr
