// The sandboxing rewriter of Python expressions.
//
// transform_expression("my_var + 1") parses the text, rewrites every name lookup,
// call, attribute access, subscript, slice, assignment expression, f-string and
// t-string into a call of a sandbox function, and reports the names the expression
// reads, the names it assigns with `:=` and its `#` comments, each with its position
// in the caller's text:
//
//     variable(context, source, (0, 6), 'my_var') + 1
//
// Every sandbox call takes the names `context` and `source` and the (start, end)
// byte range of the construct it replaces before its own arguments; the evaluating
// side defines the nine functions (variable, call, attribute, subscript, slice,
// assign, format, template, interpolation) and the two names.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pyexpr/ast.h"
#include "pyexpr/parser.h"
#include "pyexpr/parser_error.h"
#include "safe_eval/result.h"

namespace lumra::safe_eval {

// A piece of the caller's text: byte offsets and a line and column, both from 1,
// the column counted in characters.
struct ExprToken {
    std::string content;
    std::uint64_t start_index = 0;
    std::uint64_t end_index = 0;
    std::uint64_t line = 0;
    std::uint64_t column = 0;

    friend bool operator==(const ExprToken&, const ExprToken&) = default;
};

// A `#` comment: `token` starts at the `#` ("# note"), `value` one byte later
// (" note"); both end where the comment text ends.
struct ExprComment {
    ExprToken token;
    ExprToken value;

    friend bool operator==(const ExprComment&, const ExprComment&) = default;
};

struct TransformResult {
    // Names read and replaced by `variable` calls, by start offset (ties in walk order).
    std::vector<ExprToken> used_variables;
    // Targets of `name := value`, ordered the same way.
    std::vector<ExprToken> assigned_variables;
    // In text order.
    std::vector<ExprComment> comments;
    // The rewritten tree; its ranges are offsets into the wrapped text "(\n" source "\n)".
    pyexpr::Expr expression;
};

// What an expression reads, assigns and holds as comments, without its
// rewritten tree: the first three fields of TransformResult.
struct ExpressionScan {
    std::vector<ExprToken> used_variables;
    std::vector<ExprToken> assigned_variables;
    std::vector<ExprComment> comments;
};

// Rewrites one expression. The error message is complete ("Parse error: ...",
// "Validation Error: ...", "SyntaxError: ..."); callers add nothing to it.
Result<TransformResult> transform_expression(std::string_view source);

// The rewritten tree alone, for callers that print it and need no positions
// (safe_eval): the same tree and the same errors as transform_expression.
Result<pyexpr::Expr> rewrite_expression(std::string_view source);

// The names and comments of transform_expression, with the same errors in the
// same order, from a walk that checks the tree without rewriting it: for
// callers that keep nothing else (the template parser, on every expression).
// `max_tree_height` as for pyexpr::parse_python_expression_full.
Result<ExpressionScan> scan_expression(std::string_view source, std::uint32_t max_tree_height = pyexpr::kMaxTreeHeight);

// safe_eval's text: the rewrite printed at the lowest level with a four-space
// indent unit. The same text and errors as printing rewrite_expression's tree,
// without building the rewritten tree.
Result<std::string> sandbox_source(std::string_view source);

// Parses `text`, which holds `source` at byte `prefix_len`. On failure the parser's
// first error becomes "Parse error: {message}" with every "byte range s..e" shifted
// onto `source` (saturating at 0) and followed by ": 'snippet'" when the range is a
// non-empty run of whole characters of `source`.
//
// A `)` of `source` that closes the wrapping's own `(` is refused at the token
// after it (`a)(b` would pass for a call of `(a)`), unless the caller asks for
// the tree as it parses: the loop header judges such a tree by its own shape.
enum class Wrapping { MustEnclose, AsParsed };
Result<pyexpr::Expr> parse_expression(std::string_view text, std::string_view source, std::uint64_t prefix_len,
                                      Wrapping wrapping = Wrapping::MustEnclose,
                                      std::uint32_t max_tree_height = pyexpr::kMaxTreeHeight);

// The rewording alone: `parser_message` is the parser's "{} at byte range {}..{}".
std::string reword_parse_error(std::string_view parser_message, std::string_view source, std::uint64_t prefix_len);
// The parser's message for an error of `kind` at `range` of the wrapped text, reworded.
std::string parse_error_message(pyexpr::ParseErrorType::Kind kind, pyexpr::TextRange range, std::string_view source,
                                std::uint64_t prefix_len);

}  // namespace lumra::safe_eval
