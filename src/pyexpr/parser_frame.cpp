// The parser frame: token consumption, error recording, the list loop with
// its recovery, and the parse entry.
#include <fmt/format.h>

#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr {

using parser_detail::ListKind;
using parser_detail::Parser;
using parser_detail::TokenSource;

namespace parser_detail {

// ---------------------------------------------------------------------------
// Token source

TokenSource::TokenSource(std::string_view source) : lexer_(source) {
    // About one token per three bytes in ordinary expressions: one allocation
    // instead of a series of regrowths.
    tokens_.reserve(source.size() / 3 + 8);
    next_non_trivia();
}

void TokenSource::lex_trivia() {
    while (is_trivia(lexer_.current_kind())) {
        push_trivia();
        lexer_.next_token();
    }
}

void TokenSource::push_trivia() {
    const TokenKind kind = lexer_.current_kind();
    tokens_.push_back({kind, lexer_.current_range(), lexer_.current_flags()});
    if (kind == TokenKind::NonLogicalNewline && !run_.newline_start) {
        run_.newline_start = lexer_.current_range().start();
        run_.newline_index = tokens_.size() - 1;
    }
}

TokenSource::Reread& TokenSource::reread() {
    if (!reread_) reread_ = std::make_unique<Reread>();
    return *reread_;
}

TokenValue TokenSource::take_held_value() {
    TokenValue& held = reread_->ahead.at_current.value;
    TokenValue value = std::move(held);
    held.emplace<std::monostate>();
    return value;
}

void TokenSource::bump_held(TokenKind kind) {
    if (mode_ == Mode::Ahead) {
        // The current token and the trivia after it are in the list already.
        tokens_[reread_->ahead.token_index].kind = kind;
        mode_ = Mode::Live;
        return;
    }
    tokens_.push_back({kind, stop_range_, StringTokenFlags()});
}

TokenKind TokenSource::peek() {
    if (mode_ == Mode::Live) {
        const size_t index = tokens_.size();
        tokens_.push_back({lexer_.current_kind(), lexer_.current_range(), lexer_.current_flags()});
        look_ahead(index);
        next_non_trivia();
    }
    return mode_ == Mode::Ahead ? lexer_.current_kind() : TokenKind::EndOfFile;
}

void TokenSource::look_ahead(size_t index) {
    Lookahead& ahead = reread().ahead;
    TokenValue value = lexer_.take_value();
    ahead.at_current = lexer_.checkpoint();
    ahead.at_current.value = std::move(value);
    ahead.token_index = index;
    ahead.run = run_;
    mode_ = Mode::Ahead;
}

void TokenSource::drop_lookahead() {
    if (mode_ != Mode::Ahead) return;
    tokens_.resize(reread_->ahead.token_index);
    run_ = reread_->ahead.run;
    lexer_.rewind(std::move(reread_->ahead.at_current));
    mode_ = Mode::Live;
}

void TokenSource::stop() {
    if (mode_ == Mode::Stopped) return;
    drop_lookahead();
    stop_range_ = TextRange::empty_at(lexer_.current_range().start());
    mode_ = Mode::Stopped;
}

void TokenSource::re_lex_logical_token() {
    if (mode_ == Mode::Stopped) return;
    Reread& reread = this->reread();
    // With a token ahead: back to the current token, the token ahead kept aside
    // and its trivia kept in the list.
    const bool had_lookahead = mode_ == Mode::Ahead;
    size_t run_end = tokens_.size();
    TriviaRun lookahead_run;
    if (had_lookahead) {
        lexer_.save_current_token(reread.saved_ahead);
        lookahead_run = run_;
        run_ = reread.ahead.run;
        run_end = reread.ahead.token_index;
        lexer_.rewind(std::move(reread.ahead.at_current));
        mode_ = Mode::Live;
    }
    // The earliest non-logical line break among the trivia right before the
    // current token (comments are looked past).
    if (lexer_.re_lex_logical_token(run_.newline_start, reread.replaced) &&
        !lex_again(run_.newline_index, run_end, reread.replaced)) {
        return;
    }
    if (!had_lookahead) return;
    // On the current token again: the token ahead as well, lexing again only
    // what comes out otherwise.
    look_ahead(run_end);
    run_ = lookahead_run;
    if (lexer_.resume(reread.saved_ahead)) return;
    lexer_.next_token();
    lex_again(run_end + 1, tokens_.size(), reread.saved_ahead);
}

bool TokenSource::lex_again(size_t i, size_t end, Lexer::SavedToken& saved) {
    while (i < end && is_trivia(lexer_.current_kind()) && tokens_[i].kind == lexer_.current_kind() &&
           tokens_[i].range == lexer_.current_range()) {
        ++i;
        if (lexer_.resume(saved)) return true;
        lexer_.next_token();
    }
    tokens_.resize(i);
    if (run_.newline_start && run_.newline_index >= i) run_.newline_start.reset();
    lex_trivia();
    return false;
}

bool TokenSource::re_lex_string_token_in_interpolation_element() {
    drop_lookahead();
    return lexer_.re_lex_string_token_in_interpolation_element();
}

bool TokenSource::re_lex_raw_string_in_format_spec() {
    drop_lookahead();
    return lexer_.re_lex_raw_string_in_format_spec();
}

std::vector<ParsedToken> TokenSource::take_tokens() {
    drop_lookahead();
    return std::move(tokens_);
}

std::vector<LexicalError> TokenSource::take_lexical_errors() {
    drop_lookahead();
    return lexer_.take_errors();
}

// ---------------------------------------------------------------------------
// Token sets

bool is_expression_start(TokenKind kind) {
    switch (kind) {
        case TokenKind::Name:
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex:
        case TokenKind::String:
        case TokenKind::FStringStart:
        case TokenKind::TStringStart:
        case TokenKind::IpyEscapeCommand:
        case TokenKind::Lpar:
        case TokenKind::Lsqb:
        case TokenKind::Lbrace:
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Star:
        case TokenKind::DoubleStar:
        case TokenKind::Tilde:
        case TokenKind::Ellipsis:
        case TokenKind::Await:
        case TokenKind::False:
        case TokenKind::Lambda:
        case TokenKind::None:
        case TokenKind::Not:
        case TokenKind::True:
        case TokenKind::Yield:
        case TokenKind::Case:
        case TokenKind::Match:
        case TokenKind::Type: return true;
        default: return false;
    }
}

bool is_end_of_sequence(TokenKind kind) {
    switch (kind) {
        case TokenKind::Newline:
        case TokenKind::Dedent:
        case TokenKind::EndOfFile:
        case TokenKind::Exclamation:
        case TokenKind::Rpar:
        case TokenKind::Rsqb:
        case TokenKind::Colon:
        case TokenKind::Semi:
        case TokenKind::Equal:
        case TokenKind::Rbrace:
        case TokenKind::As:
        case TokenKind::Async:
        case TokenKind::Else:
        case TokenKind::For:
        case TokenKind::From:
        case TokenKind::If:
        case TokenKind::In: return true;
        default: return false;
    }
}

std::string_view list_error_text(ListKind kind) {
    switch (kind) {
        case ListKind::Slices: return "Expected an expression or the end of the slice list";
        case ListKind::ListElements: return "Expected an expression or a ']'";
        case ListKind::SetElements:
        case ListKind::DictElements: return "Expected an expression or a '}'";
        case ListKind::TupleParenthesized:
        case ListKind::Arguments: return "Expected an expression or a ')'";
        case ListKind::TupleUnparenthesized: return "Expected an expression";
        case ListKind::LambdaParameters: return "Expected a parameter or the end of the parameter list";
        case ListKind::FStringElements: return "Expected an element of or the end of the f-string";
        case ListKind::TStringElements: return "Expected an element of or the end of the t-string";
        case ListKind::FormatSpecElements: return "Expected an f-string or t-string element or a '}'";
    }
    return "Expected an expression";
}

namespace {

bool is_list_element_kind(ListKind kind, TokenKind token) {
    switch (kind) {
        case ListKind::Slices: return token == TokenKind::Colon || is_expression_start(token);
        case ListKind::DictElements: return token == TokenKind::DoubleStar || is_expression_start(token);
        case ListKind::ListElements:
        case ListKind::SetElements:
        case ListKind::TupleParenthesized:
        case ListKind::TupleUnparenthesized:
        case ListKind::Arguments: return is_expression_start(token);
        case ListKind::LambdaParameters:
            return token == TokenKind::Name || token == TokenKind::Star || token == TokenKind::Slash ||
                   token == TokenKind::DoubleStar || is_soft_keyword(token);
        case ListKind::FStringElements: return token == TokenKind::FStringMiddle || token == TokenKind::Lbrace;
        case ListKind::TStringElements: return token == TokenKind::TStringMiddle || token == TokenKind::Lbrace;
        case ListKind::FormatSpecElements:
            return token == TokenKind::FStringMiddle || token == TokenKind::TStringMiddle ||
                   token == TokenKind::Lbrace;
    }
    return false;
}

// Regular and error-recovery terminators together; the end of input ends every list.
bool is_list_terminator_kind(ListKind kind, TokenKind token) {
    if (token == TokenKind::EndOfFile) return true;
    switch (kind) {
        case ListKind::Slices:
        case ListKind::ListElements: return token == TokenKind::Rsqb;
        case ListKind::SetElements:
        case ListKind::DictElements: return token == TokenKind::Rbrace;
        case ListKind::TupleParenthesized:
        case ListKind::Arguments: return token == TokenKind::Rpar;
        case ListKind::TupleUnparenthesized: return is_end_of_sequence(token);
        case ListKind::LambdaParameters:
            switch (token) {
                case TokenKind::Colon:
                case TokenKind::Rarrow:
                case TokenKind::Async:
                case TokenKind::Class:
                case TokenKind::Def:
                case TokenKind::For:
                case TokenKind::If:
                case TokenKind::Try:
                case TokenKind::While:
                case TokenKind::With:
                case TokenKind::Match: return true;
                default: return false;
            }
        case ListKind::FStringElements: return token == TokenKind::FStringEnd || token == TokenKind::Newline;
        case ListKind::TStringElements: return token == TokenKind::TStringEnd || token == TokenKind::Newline;
        case ListKind::FormatSpecElements: return token == TokenKind::Rbrace || token == TokenKind::Newline;
    }
    return false;
}

}  // namespace

// ---------------------------------------------------------------------------
// Parser frame

Parser::Parser(std::string_view source, uint32_t max_tree_height)
    : source_(source), max_tree_height_(max_tree_height), tokens_(source) {}

bool Parser::at_expr() const { return is_expression_start(current_kind()); }

bool Parser::is_list_element(ListKind kind) const { return is_list_element_kind(kind, current_kind()); }
bool Parser::is_list_terminator(ListKind kind) const { return is_list_terminator_kind(kind, current_kind()); }

bool Parser::is_enclosing_list_token() const {
    const TokenKind token = current_kind();
    for (int i = 0; i < parser_detail::kListKindCount; ++i) {
        if ((recovery_context_ & (1u << i)) == 0) continue;
        const auto kind = static_cast<ListKind>(i);
        if (is_list_element_kind(kind, token) || is_list_terminator_kind(kind, token)) return true;
    }
    return false;
}

void Parser::internal_error(std::string_view what) const {
    internal_fault(fmt::format("internal error: {} (at {} {})", what, token_kind_name(current_kind()),
                               current_range().to_string()));
}

void Parser::bump(TokenKind kind) {
    if (current_kind() != kind) {
        internal_error(fmt::format("bump of {} at another token", token_kind_name(kind)));
    }
    if (kind != TokenKind::Newline && kind != TokenKind::Dedent && kind != TokenKind::Semi) {
        prev_token_end_ = current_range().end();
    }
    tokens_.bump(kind);
    ++current_token_id_;
}

void Parser::bump_any() {
    const TokenKind kind = current_kind();
    if (kind == TokenKind::EndOfFile) internal_error("bump_any at the end of input");
    bump(kind);
}

void Parser::bump_soft_keyword_as_name() {
    if (!is_soft_keyword(current_kind())) internal_error("soft keyword expected");
    prev_token_end_ = current_range().end();
    tokens_.bump(TokenKind::Name);
    ++current_token_id_;
}

bool Parser::eat(TokenKind kind) {
    if (!at(kind)) return false;
    bump(kind);
    return true;
}

void Parser::expect(TokenKind kind) {
    if (eat(kind)) return;
    add_error(ParseErrorType::expected_token(kind, current_kind()), current_range());
}

TextRange Parser::node_range(TextSize start) const {
    if (prev_token_end_ <= start) return TextRange::empty_at(prev_token_end_);
    return TextRange(start, prev_token_end_);
}

void Parser::add_error(ParseErrorType error, TextRange range) {
    if (!errors_.empty() && errors_.back().location.start() == range.start()) return;
    errors_.push_back(ParseError{std::move(error), range});
}

void Parser::too_deep() {
    if (tokens_.stopped()) return;
    add_error(ParseErrorType::other(std::string(kTooDeepMessage)), current_range());
    tokens_.stop();
}

uint32_t Parser::height_above(uint32_t child_height) {
    const uint32_t height = child_height + 1;
    if (height > max_tree_height_) too_deep();
    return height;
}

// The progress guard of the loops: an iteration that consumed nothing would
// repeat forever. The rules are built so that this cannot happen; should it
// happen anyway, the parse is ended with an error instead of hanging.
bool Parser::check_progress(uint32_t& last_token_id) {
    if (last_token_id == current_token_id_) {
        if (!tokens_.stopped()) {
            add_error(ParseErrorType::other(fmt::format(
                          "Internal error: The parser is no longer progressing. Stuck at '{}' {}:{}",
                          src_text(current_range()), token_kind_name(current_kind()),
                          current_range().to_string())),
                      current_range());
            tokens_.stop();
        }
        return false;
    }
    last_token_id = current_token_id_;
    return true;
}

ExpressionParse Parser::parse() {
    ParsedExpr parsed = parse_expression_list(kDefaultContext);
    eat(TokenKind::Newline);
    if (!at(TokenKind::EndOfFile)) {
        add_error(ParseErrorType::of(ParseErrorType::Kind::UnexpectedExpressionToken), current_range());
        while (!at(TokenKind::EndOfFile)) bump_any();
    }
    bump(TokenKind::EndOfFile);

    // Merge by start offset; on equal starts the lexer's error wins.
    std::vector<LexicalError> lexical = tokens_.take_lexical_errors();
    std::vector<ParseError> merged;
    merged.reserve(errors_.size() + lexical.size());
    size_t p = 0;
    size_t l = 0;
    while (p < errors_.size() && l < lexical.size()) {
        const TextSize ps = errors_[p].location.start();
        const TextSize ls = lexical[l].location.start();
        if (ps < ls) {
            merged.push_back(std::move(errors_[p++]));
        } else {
            if (ps == ls) ++p;
            merged.push_back(ParseError{ParseErrorType::from_lexical(std::move(lexical[l].error)), lexical[l].location});
            ++l;
        }
    }
    for (; p < errors_.size(); ++p) merged.push_back(std::move(errors_[p]));
    for (; l < lexical.size(); ++l) {
        merged.push_back(ParseError{ParseErrorType::from_lexical(std::move(lexical[l].error)), lexical[l].location});
    }

    return ExpressionParse{std::move(parsed.expr), tokens_.take_tokens(), std::move(merged)};
}

}  // namespace parser_detail

ExpressionParse parse_python_expression_full(std::string_view text, uint32_t max_tree_height) {
    if (Lexer::source_too_large(text)) {
        ExpressionParse refused;
        refused.errors.push_back(ParseError{ParseErrorType::other(std::string(kSourceTooLargeMessage)), TextRange()});
        return refused;
    }
    Parser parser(text, max_tree_height);
    return parser.parse();
}

ExpressionResult parse_python_expression(std::string_view text) {
    ExpressionParse parse = parse_python_expression_full(text);
    if (!parse.errors.empty()) return ExpressionResult(std::move(parse.errors.front()));
    return ExpressionResult(std::move(parse.expr));
}

}  // namespace lumra::pyexpr
