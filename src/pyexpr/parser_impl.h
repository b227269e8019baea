// Internal state and rules of the expression parser (see parser.h for the
// entry). One Parser lives for one call of parse_python_expression_full.
//
// Conventions:
//  - Every rule reads from the current token and leaves the parser on the first
//    token it did not consume; nothing backtracks (the only look-ahead is
//    peek(), for `not in` and `is not`, which lexes the token ahead once).
//  - Node ranges come from node_range(start): start of the first token to the
//    end of the last token consumed.
//  - Every ParsedExpr carries the height of its tree, so that chains built in
//    loops can be bounded (kMaxTreeHeight).
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "pyexpr/ast.h"
#include "pyexpr/lexer.h"
#include "pyexpr/parser.h"
#include "pyexpr/parser_error.h"
#include "pyexpr/string_decode.h"
#include "pyexpr/token_kind.h"

namespace lumra::pyexpr::parser_detail {

// Result of every expression rule.
struct ParsedExpr {
    Expr expr;
    bool is_parenthesized = false;  // written inside its own parentheses
    uint32_t height = 1;            // height of the tree in `expr`
};

// Makes `parsed` hold `node` (unparenthesized), built in place: `node` may own
// what `parsed` held, moved out before. Cheaper than assigning a new ParsedExpr,
// which moves the whole node once more.
template <class Node>
void replace_node(ParsedExpr& parsed, Node&& node, uint32_t height) {
    parsed.expr.node.template emplace<std::decay_t<Node>>(std::forward<Node>(node));
    parsed.is_parenthesized = false;
    parsed.height = height;
}

// Flags passed down the expression rules; the default context has none.
struct ExpressionContext {
    static constexpr uint8_t kExcludeIn = 1;          // `in` ends the expression (comprehension targets)
    static constexpr uint8_t kAllowStarred = 2;       // `*x` may stand here
    static constexpr uint8_t kStarredBitwiseOr = 4;   // operand of `*` at the bitwise-or level
    static constexpr uint8_t kAllowYield = 8;         // `yield` may stand here

    uint8_t bits = 0;

    constexpr bool exclude_in() const { return (bits & kExcludeIn) != 0; }
    constexpr bool allow_starred() const { return (bits & kAllowStarred) != 0; }
    constexpr bool starred_bitwise_or() const { return (bits & kStarredBitwiseOr) != 0; }
    constexpr bool allow_yield() const { return (bits & kAllowYield) != 0; }
};

inline constexpr ExpressionContext kDefaultContext{};

// Binding level of the operator to the left of an operand; only the order matters.
enum class Precedence : uint8_t {
    Initial = 0,
    Or = 6,
    And = 7,
    Not = 8,
    Comparison = 9,
    BitOr = 10,
    BitXor = 11,
    BitAnd = 12,
    Shift = 13,
    AddSub = 14,
    MulDivRemain = 15,
    PosNegBitNot = 16,
    Exponent = 17,
    Await = 18,
};

// The lists that recover from errors; a set of them is the recovery context.
enum class ListKind : uint8_t {
    Slices,
    ListElements,
    SetElements,
    DictElements,
    TupleParenthesized,
    TupleUnparenthesized,
    Arguments,
    LambdaParameters,
    FStringElements,
    TStringElements,
    FormatSpecElements,
};
inline constexpr int kListKindCount = 11;

// Tokens as the lexer hands them over, with comments and non-logical line
// breaks stepped over (and kept in the token list).
//
// peek() lexes the next non-trivia token once and keeps it: the lexer stays
// on it, a checkpoint holds the current token, and the current token and the
// trivia after it already stand in the token list. Every later peek before
// the next bump answers from it, and the bump moves onto it without lexing, so
// the trivia and the token ahead are lexed once however many rules ask. What
// needs the lexer at the current token (a re-lex, a string hook, a stop)
// rewinds to the checkpoint first; a re-lex then puts the token ahead back
// when it lexes as before.
//
// A re-lex (a list giving up) lexes again only the tokens that come out
// otherwise: where the rest lexes as before, the lexer resumes the token it
// was on and the token list keeps its tokens, so lists that give up one after
// another at the same token cost one token each, not the trivia again.
class TokenSource {
public:
    explicit TokenSource(std::string_view source);

    TokenKind current_kind() const {
        if (mode_ == Mode::Live) return lexer_.current_kind();
        return mode_ == Mode::Ahead ? reread_->ahead.at_current.kind : TokenKind::EndOfFile;
    }
    TextRange current_range() const {
        if (mode_ == Mode::Live) return lexer_.current_range();
        return mode_ == Mode::Ahead ? reread_->ahead.at_current.range : stop_range_;
    }
    StringTokenFlags current_flags() const {
        if (mode_ == Mode::Live) return lexer_.current_flags();
        return mode_ == Mode::Ahead ? reread_->ahead.at_current.flags : StringTokenFlags();
    }
    TokenValue take_value() {
        if (mode_ != Mode::Ahead) return lexer_.take_value();
        return take_held_value();
    }
    Name* current_name() {
        if (mode_ == Mode::Live) return lexer_.current_name();
        return mode_ == Mode::Ahead ? std::get_if<Name>(&reread_->ahead.at_current.value) : nullptr;
    }

    // Appends the current token (as `kind`) to the token list and moves on.
    void bump(TokenKind kind) {
        if (mode_ != Mode::Live) return bump_held(kind);
        tokens_.push_back({kind, lexer_.current_range(), lexer_.current_flags()});
        next_non_trivia();
    }
    // The kind of the next non-trivia token, without consuming anything.
    TokenKind peek();
    // Pretends that the input ends at the current token (after a fatal error).
    void stop();
    bool stopped() const { return mode_ == Mode::Stopped; }

    void re_lex_logical_token();
    // The lexer's string hooks at the current token; see Lexer.
    bool re_lex_string_token_in_interpolation_element();
    bool re_lex_raw_string_in_format_spec();

    std::vector<ParsedToken> take_tokens();
    std::vector<LexicalError> take_lexical_errors();

private:
    enum class Mode : uint8_t {
        Live,     // the lexer is on the current token
        Ahead,    // the lexer is on the token after it (see peek)
        Stopped,  // the input ends here
    };

    // The trivia after the last non-trivia token of the list: the start of
    // its earliest line break and where that stands in the list.
    struct TriviaRun {
        std::optional<TextSize> newline_start;
        size_t newline_index = 0;
    };

    struct Lookahead {
        Lexer::Checkpoint at_current;  // the current token is its token
        size_t token_index = 0;        // of the current token in the list
        TriviaRun run;                 // the trivia before the current token
    };

    // What peeks and re-lexes keep; made at the first of them, which most
    // expressions never reach.
    struct Reread {
        Lookahead ahead;
        Lexer::SavedToken replaced;     // the current token while a re-lex runs
        Lexer::SavedToken saved_ahead;  // the token ahead while a re-lex runs
    };
    Reread& reread();

    void bump_held(TokenKind kind);
    TokenValue take_held_value();
    void next_non_trivia() {
        run_.newline_start.reset();
        lexer_.next_token();
        if (is_trivia(lexer_.current_kind())) lex_trivia();
    }
    // Lexes and appends trivia until a non-trivia token.
    void lex_trivia();
    void push_trivia();
    // The lexer is on a token newly lexed where tokens_[i] stood: lexes on as
    // long as the tokens of [i, end) come out again, and puts `saved` back
    // where the rest lexes as before (true). Otherwise the list keeps what came
    // out again, then what is newly lexed up to the next non-trivia token.
    bool lex_again(size_t i, size_t end, Lexer::SavedToken& saved);
    // Ahead mode with the current token at `index` of the list; the caller
    // moves the lexer on.
    void look_ahead(size_t index);
    // Back to the lexer on the current token, the lookahead forgotten.
    void drop_lookahead();

    Lexer lexer_;
    std::vector<ParsedToken> tokens_;
    Mode mode_ = Mode::Live;
    TextRange stop_range_;
    TriviaRun run_;
    std::unique_ptr<Reread> reread_;
};

// Height and contents of the comprehension clauses of one node.
struct ParsedClauses {
    std::vector<Comprehension> generators;
    uint32_t height = 0;
};

class Parser {
public:
    Parser(std::string_view source, uint32_t max_tree_height);

    // The whole parse: one expression list, then the end of input.
    ExpressionParse parse();

    // ----- frame
    TokenKind current_kind() const { return tokens_.current_kind(); }
    TextRange current_range() const { return tokens_.current_range(); }
    StringTokenFlags current_flags() const { return tokens_.current_flags(); }
    bool at(TokenKind kind) const { return current_kind() == kind; }
    bool at_expr() const;
    TokenKind peek() { return tokens_.peek(); }

    void bump(TokenKind kind);
    void bump_any();
    // Consumes a soft keyword that stands for a name (kept as a Name token).
    void bump_soft_keyword_as_name();
    bool eat(TokenKind kind);
    void expect(TokenKind kind);

    TextSize node_start() const { return current_range().start(); }
    TextRange node_range(TextSize start) const;
    TextRange missing_node_range() const { return TextRange::empty_at(prev_token_end_); }
    std::string_view src_text(TextRange range) const { return range.slice(source_); }

    void add_error(ParseErrorType error, TextRange range);
    // What a literal decoded from here on does with `\N{...}`. The reported
    // error is the first of the merged list, which is the parser's first error
    // or the lexer's: once the parser has one, no later literal's error can be
    // reported, and its names need not be looked up. (The lexer's errors do
    // not count: the one of a token after the literal may come later in the
    // text than the literal's own.)
    NamedEscapes named_escapes() const { return errors_.empty() ? NamedEscapes::Look : NamedEscapes::Skip; }

    // Parses a comma-separated list until its terminator; returns whether the
    // last element was followed by a comma.
    template <class F>
    bool parse_comma_separated_list(ListKind kind, F&& parse_element);

    // Fatal: too deep a nesting or too tall a tree. Records the error once and
    // stops reading input.
    void too_deep();
    // The height of a node whose tallest child has `child_height`; checks the limit.
    uint32_t height_above(uint32_t child_height);

    // ----- expressions (parser_expression.cpp)
    ParsedExpr parse_expression_list(ExpressionContext context);
    ParsedExpr parse_conditional_expression_or_higher(ExpressionContext context = kDefaultContext);
    ParsedExpr parse_named_expression_or_higher(ExpressionContext context);
    ParsedExpr parse_simple_expression(ExpressionContext context);
    ParsedExpr parse_expression_with_bitwise_or_precedence();
    ParsedExpr parse_binary_expression_or_higher(Precedence precedence, ExpressionContext context);
    ParsedExpr parse_lhs_expression(Precedence precedence, ExpressionContext context);
    // The prefix operators, `lambda` and `yield` of parse_lhs_expression. Out of
    // line: their locals would otherwise take stack at every bracket level.
    [[gnu::noinline]] ParsedExpr parse_prefixed_expression(Precedence precedence, ExpressionContext context);
    ParsedExpr parse_atom();
    // An atom and its calls, subscripts and attribute accesses.
    ParsedExpr parse_primary_expression(TextSize start);
    // Applies the postfix suffixes at the current token to `expr`.
    void parse_postfix_expression(ParsedExpr& expr, TextSize start);
    ParsedExpr parse_subscript_expression(ParsedExpr value, TextSize start);
    ParsedExpr parse_slice();
    ParsedExpr parse_name();
    Identifier parse_identifier();
    ParsedExpr parse_generator_expression(ParsedExpr element, TextSize start, bool parenthesized);
    ParsedExpr missing_expression();

    // ----- lambdas (parser_lambda.cpp)
    ParsedExpr parse_lambda_expr();

    // ----- strings (parser_string.cpp)
    ParsedExpr parse_strings();

    // ----- collections (parser_collection.cpp)
    ParsedExpr parse_parenthesized_expression();
    ParsedExpr parse_list_like_expression();
    ParsedExpr parse_set_or_dict_like_expression();

    // ----- comprehensions (parser_comprehension.cpp)
    ParsedClauses parse_comprehension_clauses();
    void validate_assignment_target(const Expr& expr);

    // ----- calls (parser_arguments.cpp)
    // The arguments and the height of their tallest expression.
    std::pair<Arguments, uint32_t> parse_arguments();

    // ----- list recovery
    bool is_list_element(ListKind kind) const;
    bool is_list_terminator(ListKind kind) const;
    // The current token is an element or terminator of a list being parsed.
    bool is_enclosing_list_token() const;
    uint32_t push_recovery_context(ListKind kind) {
        const uint32_t saved = recovery_context_;
        recovery_context_ |= 1u << static_cast<unsigned>(kind);
        return saved;
    }
    void restore_recovery_context(uint32_t saved) { recovery_context_ = saved; }
    void re_lex_logical_token() { tokens_.re_lex_logical_token(); }
    bool re_lex_string_token_in_interpolation_element() {
        return tokens_.re_lex_string_token_in_interpolation_element();
    }
    bool re_lex_raw_string_in_format_spec() { return tokens_.re_lex_raw_string_in_format_spec(); }
    TokenValue take_value() { return tokens_.take_value(); }

    // The progress guard of every loop: false (after recording an internal
    // error and stopping the parse) when the last iteration consumed nothing.
    bool check_progress(uint32_t& last_token_id);

private:
    friend class DepthGuard;

    [[noreturn]] void internal_error(std::string_view what) const;

    std::string_view source_;
    uint32_t max_tree_height_;
    TokenSource tokens_;
    std::vector<ParseError> errors_;
    uint32_t current_token_id_ = 0;
    TextSize prev_token_end_ = 0;
    uint32_t recovery_context_ = 0;
    int depth_ = -1;  // the whole expression's own level is 0
};

// Enter/leave guard of one nesting level. When the limit is passed the parse
// is stopped; the caller then returns a placeholder without recursing.
class DepthGuard {
public:
    explicit DepthGuard(Parser& parser) : parser_(parser) {
        ok_ = ++parser_.depth_ <= static_cast<int>(kMaxNestingDepth);
        if (!ok_) parser_.too_deep();
    }
    ~DepthGuard() { --parser_.depth_; }
    DepthGuard(const DepthGuard&) = delete;
    DepthGuard& operator=(const DepthGuard&) = delete;
    bool ok() const { return ok_; }

private:
    Parser& parser_;
    bool ok_;
};

// Tree mutations used by several rules (parser_comprehension.cpp).
void set_expr_ctx(Expr& expr, ExprContext context);

// Token sets.
bool is_expression_start(TokenKind kind);
// The error recorded for a missing or invalid element of a list.
std::string_view list_error_text(ListKind kind);
bool is_end_of_sequence(TokenKind kind);

// ---------------------------------------------------------------------------

template <class F>
bool Parser::parse_comma_separated_list(ListKind kind, F&& parse_element) {
    const uint32_t saved_context = recovery_context_;
    recovery_context_ |= 1u << static_cast<unsigned>(kind);
    bool first_element = true;
    bool trailing_comma = false;
    uint32_t last_token_id = UINT32_MAX;
    while (check_progress(last_token_id)) {
        if (is_list_element(kind)) {
            const uint32_t before = current_token_id_;
            parse_element();
            first_element = false;
            if (current_token_id_ == before && !tokens_.stopped()) {
                // An element start that no rule takes (`**` in `[**a]`): skip it,
                // or the loop would stand still on it.
                add_error(ParseErrorType::of(ParseErrorType::Kind::ExpectedExpression), current_range());
                bump_any();
                trailing_comma = false;
                continue;
            }
            if (eat(TokenKind::Comma)) {
                trailing_comma = true;
                continue;
            }
            trailing_comma = false;
        }
        if (is_list_terminator(kind)) break;
        if (is_list_element(kind)) {
            expect(TokenKind::Comma);
            continue;
        }
        if (is_enclosing_list_token()) {
            tokens_.re_lex_logical_token();
            break;
        }
        if (first_element || at(TokenKind::Comma)) {
            add_error(ParseErrorType::other(std::string(list_error_text(kind))), current_range());
        } else {
            expect(TokenKind::Comma);
        }
        bump_any();
    }
    recovery_context_ = saved_context;
    return trailing_comma;
}

}  // namespace lumra::pyexpr::parser_detail
