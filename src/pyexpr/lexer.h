// Lexer of Python source in expression mode.
//
// Conventions: byte offsets everywhere (TextSize, 32-bit); the lexer keeps a
// view of the source and never reads past its end; NUL is an ordinary
// character. One token per next_token() call; errors never stop the lexer:
// a bad stretch becomes an Unknown token (or a string token with the unclosed
// flag) and a LexicalError is appended to errors().
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "pyexpr/ast.h"
#include "pyexpr/lexical_error.h"
#include "pyexpr/marked_stack.h"
#include "pyexpr/string_flags.h"
#include "pyexpr/text_size.h"
#include "pyexpr/token_kind.h"

namespace lumra::pyexpr {

// The message given for a text of 4 GiB or more.
inline constexpr std::string_view kSourceTooLargeMessage = "Lexer only supports files with a size up to 4GB";

// The raw text between the quotes of a String token (a view into the source;
// escapes not decoded).
struct StringTokenValue {
    std::string_view raw;
};

// The literal text of an FStringMiddle/TStringMiddle token, with doubled braces
// reduced to one. Points into the source when nothing was reduced.
class InterpolatedMiddleValue {
public:
    InterpolatedMiddleValue() = default;
    static InterpolatedMiddleValue view_of(std::string_view text) {
        InterpolatedMiddleValue v;
        v.view_ = text;
        return v;
    }
    static InterpolatedMiddleValue owned(std::string text) {
        InterpolatedMiddleValue v;
        v.owned_ = std::move(text);
        v.is_owned_ = true;
        return v;
    }
    std::string_view text() const { return is_owned_ ? std::string_view(owned_) : view_; }

private:
    std::string_view view_;
    std::string owned_;
    bool is_owned_ = false;
};

// Payload of the current token: nothing, Name (NFKC-normalised), Int, Float,
// Complex, String (raw text) or an interpolated-string middle.
using TokenValue =
    std::variant<std::monostate, Name, IntValue, double, ComplexValue, StringTokenValue, InterpolatedMiddleValue>;

enum class LexerMode : uint8_t { Expression };

// The keyword (hard or soft) that the ASCII word `w` spells, else Name.
TokenKind keyword_kind(std::string_view w);

class Lexer {
public:
    // Whether `source` is too long to be lexed (4 GiB or more). Callers refuse
    // such text with kSourceTooLargeMessage before creating a lexer; creating
    // one anyway is an internal fault.
    static bool source_too_large(std::string_view source) { return source.size() > UINT32_MAX; }

    // Lexing starts at `start_offset` (after a leading byte order mark at 0);
    // every offset counts from the start of `source`. The current kind is
    // EndOfFile until the first next_token().
    explicit Lexer(std::string_view source, LexerMode mode = LexerMode::Expression, TextSize start_offset = 0);

    // Lexes the next token and makes it current.
    TokenKind next_token();

    TokenKind current_kind() const { return kind_; }
    TextRange current_range() const { return range_; }
    StringTokenFlags current_flags() const { return flags_; }
    const TokenValue& current_value() const { return value_; }
    // Moves the current value out, leaving std::monostate.
    TokenValue take_value() { return std::exchange(value_, TokenValue{}); }
    // The current token's name, to be moved out before the next token; null
    // when its value is no name.
    Name* current_name() { return std::get_if<Name>(&value_); }

    std::string_view source() const { return source_; }
    // The current offset of the cursor (after the current token).
    TextSize offset() const { return TextSize(pos_); }

    const std::vector<LexicalError>& errors() const { return errors_; }
    std::vector<LexicalError> take_errors() { return std::move(errors_); }

    // The whole lexer state (cursor, current token and value, nesting, line
    // state, indentation and interpolated-string stacks, error count). Taking
    // one costs the same at any depth of the stacks; only the latest one can be
    // rewound to.
    struct Checkpoint;
    Checkpoint checkpoint();
    // Restores a checkpoint; errors recorded after it are dropped.
    void rewind(const Checkpoint& checkpoint);
    void rewind(Checkpoint&& checkpoint);

    // Internal: one open f-string or t-string.
    struct InterpolatedContext {
        StringTokenFlags flags;
        uint32_t nesting = 0;           // `nesting` at the string's start
        uint32_t format_spec_depth = 0;  // open format specs
        friend bool operator==(const InterpolatedContext&, const InterpolatedContext&) = default;
    };
    // Internal: a literal part (or the end) of an f-string as it was lexed:
    // the innermost string then, the stack's size then, where the part lies,
    // whether in a format spec, and whether it closed the string.
    struct PartLexed {
        InterpolatedContext context;
        size_t depth = 0;
        uint32_t start = UINT32_MAX;
        uint32_t end = 0;
        bool in_format_spec = false;
        bool closes = false;
    };
    // A token taken out of the lexer, to be made current again without lexing it.
    struct SavedToken {
        // How it lexes the same elsewhere (see resume).
        enum class Replay : uint8_t {
            None,
            Plain,  // by the plain rules, the f-string stack untouched
            Opens,  // by the plain rules, opening an f-string or t-string
            Part,   // as a literal part (or the end) of the innermost one
        };
        TokenKind kind = TokenKind::EndOfFile;
        TextRange range;
        StringTokenFlags flags;
        TokenValue value;
        uint32_t end = 0;  // the cursor after it
        uint8_t line_state = 0;
        Replay replay = Replay::None;
        std::vector<LexicalError> errors;  // recorded while it was lexed
        PartLexed part;  // for Part
    };
    // Takes the current token out (its value is moved).
    void save_current_token(SavedToken& token);
    // For a caller that knows only comments, line breaks and whitespace lie
    // between the cursor and `token`: when they and the token lex here as the
    // token did where it was lexed, makes `token` current after them with its
    // errors and its change of state, as lexing on would, and returns true.
    // Otherwise changes nothing and returns false. They lex alike by the plain
    // rules (line breaks that do not end the line, no f-string literal part or
    // format spec), where a token changes the nesting alone or opens an
    // f-string at the nesting it meets; and, with nothing before it, a literal
    // part lexes alike in the same innermost string, in or out of a format
    // spec as it was.
    bool resume(SavedToken& token);

    // Called by the parser when it gives up a bracketed list because the
    // current token belongs to an enclosing construct. `newline_start` is the
    // start of the earliest NonLogicalNewline among the trivia tokens (Comment
    // and NonLogicalNewline) produced right before the current token, or
    // nullopt when there is none (the token source finds it in its token list).
    // Returns false when nothing is lexed again (no line break, a triple-quoted
    // f-string, or the trivia and the token would lex as they did, one level
    // less deep): only the nesting changes. Returns true when the lexer moved
    // back to `newline_start` and lexed one token, now current: the caller
    // drops its tokens from `newline_start` on (a Newline when nesting fell to
    // 0), or keeps those after a point where resume(replaced) succeeds;
    // `replaced` holds the token the lexer was on.
    bool re_lex_logical_token(std::optional<TextSize> newline_start, SavedToken& replaced);

    // When the current token is an unclosed, unprefixed String whose quotes
    // match the innermost f-string or t-string and only whitespace, a comment
    // or a line break follow its opening quote(s), it becomes that string's
    // FStringEnd/TStringEnd (covering the quotes), its UnclosedString error is
    // removed and the context is popped. Returns true when it did.
    bool re_lex_string_token_in_interpolation_element();

    // When the current token is an unclosed String whose prefix is a lone
    // lower-case r (as in `!r` followed by a quote), it becomes the Name `r`
    // and lexing resumes right after the r; its UnclosedString error is
    // removed. Returns true when it did.
    bool re_lex_raw_string_in_format_spec();

    // Internal: an indentation level (column, character count).
    struct Indentation {
        uint32_t column = 0;
        uint32_t character = 0;
        friend bool operator==(const Indentation&, const Indentation&) = default;
    };

private:
    TokenKind lex_token();
    TokenKind lex_identifier_or_string(uint32_t start);
    TokenKind lex_identifier(uint32_t start);
    TokenKind lex_number(uint32_t start, char first);
    TokenKind lex_radix_number(uint32_t start, unsigned radix);
    TokenKind lex_decimal_number(uint32_t start, char first);
    uint16_t lex_opening_quote(StringTokenFlags flags);
    TokenKind lex_string(uint32_t start, StringTokenFlags flags);
    TokenKind lex_interpolated_string_start(uint32_t start, StringTokenFlags flags);
    std::optional<TokenKind> lex_interpolated_string_part();
    TokenKind lex_comment(uint32_t start);
    TokenKind lex_newline(uint32_t start);
    TokenKind handle_end_of_input();
    std::optional<TokenKind> handle_indentation();
    bool skip_whitespace();
    TokenKind consume_operator(uint32_t start, unsigned char c);

    void push_error(LexicalErrorType error, TextRange range);
    TextRange token_range(uint32_t start) const { return TextRange(start, pos_); }
    bool at_end() const { return pos_ >= end_; }
    unsigned char byte_at(uint32_t p) const { return p < end_ ? static_cast<unsigned char>(source_[p]) : 0; }
    unsigned char peek(uint32_t ahead = 0) const { return byte_at(pos_ + ahead); }
    bool has(uint32_t ahead) const { return pos_ + ahead < end_; }
    void pop_fstring();
    void restore(const Checkpoint& checkpoint);
    // After a hook rewrote the current token: it lexes as nothing did, and
    // save_current_token must not take it for replayable.
    void forget_replay() {
        token_fstrings_version_ = kNotReplayable;
        part_.start = UINT32_MAX;
    }
    // Whether trivia and then a token of kind `kind` lex by the plain rules at
    // `nesting`, under `innermost` (null when no f-string is open).
    static bool lexes_plainly(uint32_t nesting, TokenKind kind, const InterpolatedContext* innermost);
    bool lexes_plainly(uint32_t nesting, TokenKind kind) const {
        return lexes_plainly(nesting, kind, fstrings_.empty() ? nullptr : &fstrings_.back());
    }

    std::string_view source_;
    uint32_t pos_ = 0;
    uint32_t end_ = 0;

    TokenKind kind_ = TokenKind::EndOfFile;
    TextRange range_;
    StringTokenFlags flags_;
    TokenValue value_;

    uint32_t nesting_ = 0;
    MarkedStack<Indentation> indents_;
    std::optional<Indentation> pending_indentation_;
    MarkedStack<InterpolatedContext> fstrings_;
    std::vector<LexicalError> errors_;
    // The f-string stack's version when the current token's lexing started
    // (kNotReplayable after a hook changed the token).
    static constexpr uint64_t kNotReplayable = UINT64_MAX;
    uint64_t token_fstrings_version_ = 0;
    // The latest f-string opening: the stack's version before and after its
    // push (an opening token that replays needs the push alone).
    uint64_t opening_from_version_ = kNotReplayable;
    uint64_t opening_version_ = kNotReplayable;
    // The latest literal part (or end) of an f-string, as it was lexed.
    PartLexed part_;
    LexerMode mode_;
    // Kept apart from nesting_: a combined load of both after a byte store stalls.
    uint8_t line_state_ = 0;  // 0 after newline, 1 in a non-empty line, 2 after `=`, 3 other

public:
    struct Checkpoint {
        uint32_t pos = 0;
        TokenKind kind = TokenKind::EndOfFile;
        TextRange range;
        StringTokenFlags flags;
        TokenValue value;
        uint32_t nesting = 0;
        uint8_t line_state = 0;
        MarkedStack<Indentation>::Mark indents;
        std::optional<Indentation> pending_indentation;
        MarkedStack<InterpolatedContext>::Mark fstrings;
        size_t errors_len = 0;
        uint64_t token_fstrings_version = 0;
        uint64_t opening_from_version = 0;
        uint64_t opening_version = 0;
        PartLexed part;
    };
};

}  // namespace lumra::pyexpr
