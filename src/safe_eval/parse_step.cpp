// The parse step shared by the rewriter and the loop-clause extraction.
#include <optional>
#include <vector>

#include "pyexpr/parser.h"
#include "safe_eval/transform.h"

namespace lumra::safe_eval {

namespace {

using pyexpr::TokenKind;

// The token after the bracket that closes the wrapping's opening parenthesis,
// when that bracket is not the text's last token: then a `)` of the caller's
// text closed the wrapping, and `a)(b`, wrapped as "(\na)(b\n)", would pass
// for a call of `(a)`. Empty when the wrapping encloses the whole text. One
// pass over the tokens of a parse without errors, whose brackets balance.
std::optional<pyexpr::TextRange> token_after_wrapping(const std::vector<pyexpr::ParsedToken>& tokens) {
    if (tokens.empty() || tokens.front().kind != TokenKind::Lpar || tokens.front().range.start().raw != 0) {
        return std::nullopt;
    }
    std::size_t depth = 0;
    std::size_t i = 0;
    for (; i < tokens.size(); ++i) {
        const TokenKind kind = tokens[i].kind;
        if (kind == TokenKind::Lpar || kind == TokenKind::Lsqb || kind == TokenKind::Lbrace) {
            ++depth;
        } else if (kind == TokenKind::Rpar || kind == TokenKind::Rsqb || kind == TokenKind::Rbrace) {
            if (depth == 0 || --depth == 0) break;
        }
    }
    for (++i; i < tokens.size(); ++i) {
        const TokenKind kind = tokens[i].kind;
        if (!pyexpr::is_trivia(kind) && kind != TokenKind::Newline && kind != TokenKind::EndOfFile) {
            return tokens[i].range;
        }
    }
    return std::nullopt;
}

}  // namespace

Result<pyexpr::Expr> parse_expression(std::string_view text, std::string_view source, std::uint64_t prefix_len,
                                      Wrapping wrapping, std::uint32_t max_tree_height) {
    auto parsed = pyexpr::parse_python_expression_full(text, max_tree_height);
    // Only the first error is reported; it prints as "{message} at byte range
    // {start}..{end}", and the rewording shifts that range onto `source`.
    if (!parsed.ok()) {
        return Result<pyexpr::Expr>::failure(reword_parse_error(parsed.errors.front().to_string(), source, prefix_len));
    }
    // What follows a closed wrapping is refused as the parser refuses what
    // follows a complete expression (`a)b`).
    if (wrapping == Wrapping::AsParsed) return std::move(parsed.expr);
    if (const auto after = token_after_wrapping(parsed.tokens)) {
        return Result<pyexpr::Expr>::failure(
            parse_error_message(pyexpr::ParseErrorType::Kind::UnexpectedExpressionToken, *after, source, prefix_len));
    }
    return std::move(parsed.expr);
}

std::string parse_error_message(pyexpr::ParseErrorType::Kind kind, pyexpr::TextRange range, std::string_view source,
                                std::uint64_t prefix_len) {
    return reword_parse_error(pyexpr::ParseError{pyexpr::ParseErrorType::of(kind), range}.to_string(), source,
                              prefix_len);
}

}  // namespace lumra::safe_eval
