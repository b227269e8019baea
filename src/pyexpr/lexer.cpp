// Lexer of Python expressions.
//
// The cursor is a byte offset (`pos_`) into `source_`, bounded by `end_`; every
// read checks the bound, and NUL is an ordinary character. next_token() runs
// these steps in order: a pending dedent; the literal part of an open f-string
// or t-string (before any whitespace skipping, since that whitespace is text);
// indentation at the start of a logical line, else whitespace and line
// continuations; the end of input; one token by its first character.
#include "pyexpr/lexer.h"

#include <unicode/uchar.h>
#include <unicode/unistr.h>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <limits>

#include "pyexpr/utf8.h"
#include "text/byte_search.h"
#include "text/unicode.h"

namespace lumra::pyexpr {

namespace {

// Character classes of ASCII bytes.
enum : uint8_t {
    kIdentStart = 1,
    kIdentContinue = 2,
    kDigit = 4,
    kHexDigit = 8,
    kStringSpecial = 16,  // bytes that stop a literal f-string part: { } \ ' " CR LF
};

constexpr auto kClasses = [] {
    std::array<uint8_t, 256> t{};
    for (int c = 'a'; c <= 'z'; ++c) t[c] |= kIdentStart | kIdentContinue;
    for (int c = 'A'; c <= 'Z'; ++c) t[c] |= kIdentStart | kIdentContinue;
    t['_'] |= kIdentStart | kIdentContinue;
    for (int c = '0'; c <= '9'; ++c) t[c] |= kIdentContinue | kDigit | kHexDigit;
    for (int c = 'a'; c <= 'f'; ++c) t[c] |= kHexDigit;
    for (int c = 'A'; c <= 'F'; ++c) t[c] |= kHexDigit;
    for (unsigned char c : {'{', '}', '\\', '\'', '"', '\r', '\n'}) t[c] |= kStringSpecial;
    return t;
}();

inline bool is_ident_continue_ascii(unsigned char c) { return (kClasses[c] & kIdentContinue) != 0; }
inline bool is_digit(unsigned char c) { return (kClasses[c] & kDigit) != 0; }

bool is_radix_digit(unsigned char c, unsigned radix) {
    switch (radix) {
        case 2: return c == '0' || c == '1';
        case 8: return c >= '0' && c <= '7';
        case 16: return (kClasses[c] & kHexDigit) != 0;
        default: return is_digit(c);
    }
}

unsigned digit_value(unsigned char c) {
    if (c <= '9') return c - '0';
    if (c >= 'a') return c - 'a' + 10;
    return c - 'A' + 10;
}

bool is_xid_start(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START) != 0; }
bool is_xid_continue(char32_t c) { return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE) != 0; }

bool is_quote(unsigned char c) { return c == '\'' || c == '"'; }

// The prefix letters of a string: flags for one letter, or 0.
uint16_t single_prefix(unsigned char c) {
    switch (c) {
        case 'b': case 'B': return StringTokenFlags::kBPrefix;
        case 'f': case 'F': return StringTokenFlags::kFPrefix;
        case 't': case 'T': return StringTokenFlags::kTPrefix;
        case 'u': case 'U': return StringTokenFlags::kUPrefix;
        case 'r': return StringTokenFlags::kRPrefixLower;
        case 'R': return StringTokenFlags::kRPrefixUpper;
        default: return 0;
    }
}

// A two-letter prefix: an r/R together with b, f or t in either order.
uint16_t pair_prefix(unsigned char a, unsigned char b) {
    const uint16_t fa = single_prefix(a);
    const uint16_t fb = single_prefix(b);
    constexpr uint16_t kRaw = StringTokenFlags::kRPrefixLower | StringTokenFlags::kRPrefixUpper;
    constexpr uint16_t kBft = StringTokenFlags::kBPrefix | StringTokenFlags::kFPrefix | StringTokenFlags::kTPrefix;
    if (((fa & kRaw) && (fb & kBft)) || ((fa & kBft) && (fb & kRaw))) return static_cast<uint16_t>(fa | fb);
    return 0;
}

// Parses decimal float text (digits, point, exponent; no underscores). Values
// beyond the double range become infinity, tiny ones zero.
std::optional<double> parse_float(std::string_view text) {
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::general);
    if (res.ptr != text.data() + text.size()) return std::nullopt;
    if (res.ec == std::errc()) return value;
    if (res.ec != std::errc::result_out_of_range) return std::nullopt;
    // Out of range: estimate the decimal magnitude to tell overflow from underflow.
    long magnitude = 0;
    const size_t e = text.find_first_of("eE");
    std::string_view mantissa = text.substr(0, e);
    if (e != std::string_view::npos) {
        std::string_view exp = text.substr(e + 1);
        bool neg = false;
        if (!exp.empty() && (exp[0] == '+' || exp[0] == '-')) {
            neg = exp[0] == '-';
            exp.remove_prefix(1);
        }
        long v = 0;
        for (char c : exp) {
            v = v * 10 + (c - '0');
            if (v > 100000) break;
        }
        magnitude = neg ? -v : v;
    }
    const size_t point = mantissa.find('.');
    std::string_view int_part = mantissa.substr(0, point);
    size_t nz = int_part.find_first_not_of('0');
    if (nz != std::string_view::npos) {
        magnitude += static_cast<long>(int_part.size() - nz);
    } else if (point != std::string_view::npos) {
        std::string_view frac = mantissa.substr(point + 1);
        size_t first = frac.find_first_not_of('0');
        if (first == std::string_view::npos) return 0.0;
        magnitude -= static_cast<long>(first);
    }
    return magnitude > 0 ? std::numeric_limits<double>::infinity() : 0.0;
}

}  // namespace

TokenKind keyword_kind(std::string_view w) {
    if (w.size() < 2 || w.size() > 8) return TokenKind::Name;
    using K = TokenKind;
    auto pick = [&](std::initializer_list<std::pair<std::string_view, K>> options) {
        for (const auto& [text, kind] : options) {
            if (text == w) return kind;
        }
        return K::Name;
    };
    switch (w[0]) {
        case 'a': return pick({{"and", K::And}, {"as", K::As}, {"assert", K::Assert}, {"async", K::Async},
                               {"await", K::Await}});
        case 'b': return pick({{"break", K::Break}});
        case 'c': return pick({{"class", K::Class}, {"continue", K::Continue}, {"case", K::Case}});
        case 'd': return pick({{"def", K::Def}, {"del", K::Del}});
        case 'e': return pick({{"elif", K::Elif}, {"else", K::Else}, {"except", K::Except}});
        case 'f': return pick({{"finally", K::Finally}, {"for", K::For}, {"from", K::From}});
        case 'g': return pick({{"global", K::Global}});
        case 'i': return pick({{"if", K::If}, {"import", K::Import}, {"in", K::In}, {"is", K::Is}});
        case 'l': return pick({{"lambda", K::Lambda}});
        case 'm': return pick({{"match", K::Match}});
        case 'n': return pick({{"nonlocal", K::Nonlocal}, {"not", K::Not}});
        case 'o': return pick({{"or", K::Or}});
        case 'p': return pick({{"pass", K::Pass}});
        case 'r': return pick({{"raise", K::Raise}, {"return", K::Return}});
        case 't': return pick({{"try", K::Try}, {"type", K::Type}});
        case 'w': return pick({{"while", K::While}, {"with", K::With}});
        case 'y': return pick({{"yield", K::Yield}});
        case 'F': return pick({{"False", K::False}});
        case 'N': return pick({{"None", K::None}});
        case 'T': return pick({{"True", K::True}});
        default: return K::Name;
    }
}

// ---------------------------------------------------------------------------
// Creation, checkpoints

Lexer::Lexer(std::string_view source, LexerMode mode, TextSize start_offset) : source_(source), mode_(mode) {
    (void)mode_;  // only the expression mode exists
    if (source_too_large(source)) internal_fault(std::string(kSourceTooLargeMessage));
    end_ = static_cast<uint32_t>(source.size());
    pos_ = start_offset.raw > end_ ? end_ : start_offset.raw;
    if (pos_ == 0 && source.size() >= 3 && static_cast<unsigned char>(source[0]) == 0xEF &&
        static_cast<unsigned char>(source[1]) == 0xBB && static_cast<unsigned char>(source[2]) == 0xBF) {
        pos_ = 3;
    }
    range_ = TextRange::empty_at(pos_);
}

Lexer::Checkpoint Lexer::checkpoint() {
    return Checkpoint{pos_,
                      kind_,
                      range_,
                      flags_,
                      value_,
                      nesting_,
                      line_state_,
                      indents_.mark(),
                      pending_indentation_,
                      fstrings_.mark(),
                      errors_.size(),
                      token_fstrings_version_,
                      opening_from_version_,
                      opening_version_,
                      part_};
}

void Lexer::rewind(const Checkpoint& cp) {
    value_ = cp.value;
    restore(cp);
}

void Lexer::rewind(Checkpoint&& cp) {
    value_ = std::move(cp.value);
    restore(cp);
}

void Lexer::restore(const Checkpoint& cp) {
    pos_ = cp.pos;
    kind_ = cp.kind;
    range_ = cp.range;
    flags_ = cp.flags;
    nesting_ = cp.nesting;
    line_state_ = cp.line_state;
    indents_.put_back(cp.indents);
    pending_indentation_ = cp.pending_indentation;
    fstrings_.put_back(cp.fstrings);
    if (errors_.size() > cp.errors_len) errors_.resize(cp.errors_len);
    token_fstrings_version_ = cp.token_fstrings_version;
    opening_from_version_ = cp.opening_from_version;
    opening_version_ = cp.opening_version;
    part_ = cp.part;
}

void Lexer::push_error(LexicalErrorType error, TextRange range) {
    errors_.push_back(LexicalError{std::move(error), range});
}

void Lexer::pop_fstring() {
    nesting_ = fstrings_.back().nesting;
    fstrings_.pop_back();
}

// ---------------------------------------------------------------------------
// next_token

TokenKind Lexer::next_token() {
    token_fstrings_version_ = fstrings_.version();
    value_ = std::monostate{};
    flags_ = StringTokenFlags{};
    kind_ = lex_token();
    switch (kind_) {
        case TokenKind::Newline: line_state_ = 0; break;
        case TokenKind::Equal: line_state_ = 2; break;
        case TokenKind::NonLogicalNewline:
        case TokenKind::Comment:
        case TokenKind::Indent:
        case TokenKind::Dedent:
        case TokenKind::EndOfFile:
            break;
        default: line_state_ = 3; break;
    }
    return kind_;
}

TokenKind Lexer::lex_token() {
    // 1. Pending dedents.
    if (pending_indentation_) {
        const Indentation pending = *pending_indentation_;
        const Indentation top = indents_.empty() ? Indentation{} : indents_.back();
        if (top.column > pending.column && top.character > pending.character) {
            indents_.pop_back();
            const Indentation new_top = indents_.empty() ? Indentation{} : indents_.back();
            const bool greater = pending.column > new_top.column || pending.character > new_top.character;
            const bool smaller_or_equal = pending.column <= new_top.column && pending.character <= new_top.character;
            range_ = TextRange::empty_at(pos_);
            if (greater || !smaller_or_equal) {
                pending_indentation_.reset();
                push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch), range_);
                return TokenKind::Unknown;
            }
            return TokenKind::Dedent;
        }
        pending_indentation_.reset();
        if (!(top == pending)) {
            range_ = TextRange::empty_at(pos_);
            push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch), range_);
            return TokenKind::Unknown;
        }
    }

    // 2. The literal part of an f-string or t-string comes before whitespace skipping.
    if (!fstrings_.empty()) {
        const InterpolatedContext& ctx = fstrings_.back();
        if (nesting_ - ctx.nesting <= ctx.format_spec_depth) {
            if (auto kind = lex_interpolated_string_part()) return *kind;
        }
    }

    // 3. Indentation at the start of a logical line, else whitespace.
    if (line_state_ == 0 && nesting_ == 0) {
        if (auto kind = handle_indentation()) return *kind;
    } else if (!skip_whitespace()) {
        return TokenKind::Unknown;
    }

    // 4. End of input.
    const uint32_t start = pos_;
    if (at_end()) return handle_end_of_input();

    // 5. One token by its first character.
    const unsigned char c = peek();
    if (c >= 0x80) {
        uint32_t len = 0;
        const char32_t ch = utf8::decode(source_, pos_, len);
        if (is_xid_start(ch)) return lex_identifier(start);
        pos_ += len;
        range_ = token_range(start);
        push_error(LexicalErrorType::unexpected_token(ch), range_);
        return TokenKind::Unknown;
    }
    if (kClasses[c] & kIdentStart) return lex_identifier_or_string(start);
    if (is_digit(c)) return lex_number(start, static_cast<char>(c));
    if (c == '.' && is_digit(peek(1))) return lex_number(start, '.');
    if (is_quote(c)) return lex_string(start, StringTokenFlags{});
    if (c == '#') return lex_comment(start);
    if (c == '\n' || c == '\r') return lex_newline(start);
    const TokenKind kind = consume_operator(start, c);
    range_ = token_range(start);
    return kind;
}

std::optional<TokenKind> Lexer::handle_indentation() {
    const uint32_t start = pos_;
    Indentation indentation;
    while (!at_end()) {
        const unsigned char c = peek();
        if (c == ' ') {
            ++indentation.column;
            ++indentation.character;
            ++pos_;
        } else if (c == '\t') {
            indentation.column = (indentation.column / 2 + 1) * 2;
            ++indentation.character;
            ++pos_;
        } else if (c == '\f') {
            indentation = Indentation{};
            ++pos_;
        } else if (c == '\\') {
            const uint32_t backslash = pos_;
            ++pos_;
            if (peek() == '\r' && has(0)) {
                ++pos_;
                if (has(0) && peek() == '\n') ++pos_;
            } else if (at_end()) {
                range_ = TextRange(backslash, pos_);
                push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof), range_);
                return TokenKind::Unknown;
            } else if (peek() == '\n') {
                ++pos_;
            } else {
                range_ = TextRange(backslash, backslash + 1);
                push_error(LexicalErrorType::of(LexicalErrorType::Kind::LineContinuationError), range_);
                return TokenKind::Unknown;
            }
            indentation = Indentation{};
        } else {
            break;
        }
    }
    if (at_end() || peek() == '\n' || peek() == '\r' || peek() == '#') return std::nullopt;

    line_state_ = 1;
    const Indentation top = indents_.empty() ? Indentation{} : indents_.back();
    if (indentation == top) return std::nullopt;
    range_ = TextRange(start, pos_);
    if (indentation.column > top.column && indentation.character > top.character) {
        indents_.push_back(indentation);
        return TokenKind::Indent;
    }
    if (indentation.column < top.column && indentation.character < top.character) {
        indents_.pop_back();
        const Indentation new_top = indents_.empty() ? Indentation{} : indents_.back();
        const bool fits = indentation.column <= new_top.column && indentation.character <= new_top.character;
        const bool consistent = (indentation.column < new_top.column) == (indentation.character < new_top.character);
        if (!fits || !consistent) {
            push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch), range_);
            return TokenKind::Unknown;
        }
        pending_indentation_ = indentation;
        return TokenKind::Dedent;
    }
    push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnindentMismatch), range_);
    return TokenKind::Unknown;
}

bool Lexer::skip_whitespace() {
    while (!at_end()) {
        const unsigned char c = peek();
        if (c == ' ' || c == '\t' || c == '\f') {
            ++pos_;
        } else if (c == '\\') {
            const uint32_t backslash = pos_;
            ++pos_;
            if (at_end()) {
                range_ = TextRange(backslash, pos_);
                push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof), range_);
                return false;
            }
            if (peek() == '\r') {
                ++pos_;
                if (has(0) && peek() == '\n') ++pos_;
            } else if (peek() == '\n') {
                ++pos_;
            } else {
                range_ = TextRange(backslash, backslash + 1);
                push_error(LexicalErrorType::of(LexicalErrorType::Kind::LineContinuationError), range_);
                return false;
            }
        } else {
            break;
        }
    }
    return true;
}

TokenKind Lexer::handle_end_of_input() {
    range_ = TextRange::empty_at(end_);
    while (!fstrings_.empty()) {
        const bool is_t = fstrings_.back().flags.is_tstring();
        const auto e = InterpolatedStringErrorType::UnterminatedString;
        push_error(is_t ? LexicalErrorType::tstring(e) : LexicalErrorType::fstring(e), range_);
        pop_fstring();
    }
    if (nesting_ > 0) {
        nesting_ = 0;
        push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnexpectedEof), range_);
        return TokenKind::Unknown;
    }
    if (line_state_ >= 2) {
        line_state_ = 0;
        return TokenKind::Newline;
    }
    if (!indents_.empty()) {
        indents_.pop_back();
        return TokenKind::Dedent;
    }
    return TokenKind::EndOfFile;
}

// ---------------------------------------------------------------------------
// Identifiers, keywords and string prefixes

TokenKind Lexer::lex_identifier_or_string(uint32_t start) {
    const unsigned char c0 = peek();
    if (uint16_t prefix = single_prefix(c0)) {
        if (has(1) && is_quote(peek(1))) {
            pos_ += 1;
            StringTokenFlags flags(prefix);
            if (flags.is_interpolated()) return lex_interpolated_string_start(start, flags);
            return lex_string(start, flags);
        }
        if (has(2) && is_quote(peek(2))) {
            if (uint16_t pair = pair_prefix(c0, peek(1))) {
                pos_ += 2;
                StringTokenFlags flags(pair);
                if (flags.is_interpolated()) return lex_interpolated_string_start(start, flags);
                return lex_string(start, flags);
            }
        }
    }
    return lex_identifier(start);
}

TokenKind Lexer::lex_identifier(uint32_t start) {
    bool ascii = true;
    // The first character is known to start an identifier.
    while (!at_end()) {
        const unsigned char c = peek();
        if (c < 0x80) {
            if (!is_ident_continue_ascii(c)) break;
            ++pos_;
            continue;
        }
        uint32_t len = 0;
        const char32_t ch = utf8::decode(source_, pos_, len);
        // The first character was checked for XID_Start by the caller.
        if (pos_ != start && !is_xid_continue(ch)) break;
        ascii = false;
        pos_ += len;
    }
    range_ = token_range(start);
    const std::string_view text = source_.substr(start, pos_ - start);
    if (ascii) {
        const TokenKind kw = keyword_kind(text);
        if (kw != TokenKind::Name) return kw;
        value_ = Name(text);
    } else {
        value_ = Name(lumra::text::nfkc(text));
    }
    return TokenKind::Name;
}

// ---------------------------------------------------------------------------
// Numbers

TokenKind Lexer::lex_number(uint32_t start, char first) {
    if (first == '0' && has(1)) {
        const unsigned char p = peek(1);
        if (p == 'x' || p == 'X') return lex_radix_number(start, 16);
        if (p == 'o' || p == 'O') return lex_radix_number(start, 8);
        if (p == 'b' || p == 'B') return lex_radix_number(start, 2);
    }
    return lex_decimal_number(start, first);
}

TokenKind Lexer::lex_radix_number(uint32_t start, unsigned radix) {
    pos_ += 2;
    uint64_t value = 0;
    bool overflow = false;
    bool any = false;
    while (!at_end()) {
        unsigned char c = peek();
        if (c == '_' && has(1) && is_radix_digit(peek(1), radix)) {
            ++pos_;
            c = peek();
        } else if (!is_radix_digit(c, radix)) {
            break;
        }
        const unsigned d = digit_value(c);
        if (!overflow) {
            if (value > (UINT64_MAX - d) / radix) {
                overflow = true;
            } else {
                value = value * radix + d;
            }
        }
        any = true;
        ++pos_;
    }
    range_ = token_range(start);
    if (!any) {
        push_error(LexicalErrorType::other("ParseIntError { kind: Empty }"), range_);
        return TokenKind::Unknown;
    }
    value_ = overflow ? IntValue::big(std::string(source_.substr(start, pos_ - start))) : IntValue::small(value);
    return TokenKind::Int;
}

TokenKind Lexer::lex_decimal_number(uint32_t start, char first) {
    // Digits without underscores; the number's text for float parsing or big integers.
    std::string digits;
    auto take_digits = [&] {
        while (!at_end()) {
            unsigned char c = peek();
            if (c == '_' && has(1) && is_digit(peek(1))) {
                ++pos_;
                c = peek();
            } else if (!is_digit(c)) {
                break;
            }
            digits += static_cast<char>(c);
            ++pos_;
        }
    };

    bool is_float = false;
    if (first == '.') {
        is_float = true;
        digits += '.';
        ++pos_;
        take_digits();
    } else {
        take_digits();
        if (!at_end() && peek() == '.') {
            is_float = true;
            digits += '.';
            ++pos_;
            if (!at_end() && peek() == '_') {
                range_ = TextRange(pos_, pos_ + 1);
                ++pos_;
                push_error(LexicalErrorType::other("Invalid Syntax"), range_);
                return TokenKind::Unknown;
            }
            take_digits();
        }
    }
    // Exponent: e or E, an optional sign, then a digit.
    if (!at_end() && (peek() == 'e' || peek() == 'E')) {
        uint32_t sign = (has(1) && (peek(1) == '+' || peek(1) == '-')) ? 1 : 0;
        if (has(1 + sign) && is_digit(peek(1 + sign))) {
            is_float = true;
            digits += 'e';
            if (sign) digits += static_cast<char>(peek(1));
            pos_ += 1 + sign;
            take_digits();
        }
    }
    const bool imaginary = !at_end() && (peek() == 'j' || peek() == 'J');
    if (imaginary) ++pos_;
    range_ = token_range(start);

    if (is_float || imaginary) {
        const auto value = parse_float(digits);
        if (!value) {
            push_error(LexicalErrorType::other("Invalid decimal literal"), range_);
            return TokenKind::Unknown;
        }
        if (imaginary) {
            value_ = ComplexValue{0.0, *value};
            return TokenKind::Complex;
        }
        value_ = *value;
        return TokenKind::Float;
    }

    if (digits.size() > 1 && digits[0] == '0') {
        if (digits.find_first_not_of('0') != std::string::npos) {
            push_error(LexicalErrorType::other("Invalid decimal integer literal"), range_);
            return TokenKind::Unknown;
        }
        value_ = IntValue::small(0);
        return TokenKind::Int;
    }
    uint64_t value = 0;
    auto res = std::from_chars(digits.data(), digits.data() + digits.size(), value, 10);
    if (res.ec == std::errc() && res.ptr == digits.data() + digits.size()) {
        value_ = IntValue::small(value);
    } else {
        value_ = IntValue::big(std::move(digits));
    }
    return TokenKind::Int;
}

// ---------------------------------------------------------------------------
// Strings

// Consumes the opening quote (one, or three for a triple-quoted string) at the
// cursor and returns the prefix flags with the quote style and tripleness added.
uint16_t Lexer::lex_opening_quote(StringTokenFlags flags) {
    const unsigned char quote = peek();
    uint16_t bits = flags.bits;
    if (quote == '"') bits |= StringTokenFlags::kDoubleQuotes;
    ++pos_;
    if (has(1) && peek() == quote && peek(1) == quote) {
        bits |= StringTokenFlags::kTripleQuoted;
        pos_ += 2;
    }
    return bits;
}

TokenKind Lexer::lex_string(uint32_t start, StringTokenFlags flags) {
    const unsigned char quote = peek();
    uint16_t bits = lex_opening_quote(flags);
    const bool triple = (bits & StringTokenFlags::kTripleQuoted) != 0;
    const uint32_t body_start = pos_;
    uint32_t body_end = 0;
    bool closed = false;

    if (!triple) {
        while (!at_end()) {
            const unsigned char c = peek();
            if (c == '\\') {
                ++pos_;
                if (at_end()) break;
                if (peek() == '\r' && has(1) && peek(1) == '\n') {
                    pos_ += 2;
                } else {
                    ++pos_;
                }
                continue;
            }
            if (c == quote) {
                body_end = pos_;
                ++pos_;
                closed = true;
                break;
            }
            if (c == '\n' || c == '\r') break;
            ++pos_;
        }
    } else {
        while (!at_end()) {
            const unsigned char c = peek();
            if (c == '\\') {
                pos_ += has(1) ? 2 : 1;
                continue;
            }
            if (c == quote && has(2) && peek(1) == quote && peek(2) == quote) {
                body_end = pos_;
                pos_ += 3;
                closed = true;
                break;
            }
            ++pos_;
        }
    }

    range_ = token_range(start);
    if (!closed) {
        body_end = pos_;
        bits |= StringTokenFlags::kUnclosed;
        push_error(LexicalErrorType::of(LexicalErrorType::Kind::UnclosedString), range_);
    }
    flags_ = StringTokenFlags(bits);
    value_ = StringTokenValue{source_.substr(body_start, body_end - body_start)};
    return TokenKind::String;
}

TokenKind Lexer::lex_interpolated_string_start(uint32_t start, StringTokenFlags flags) {
    const uint16_t bits = lex_opening_quote(flags);
    flags_ = StringTokenFlags(bits);
    opening_from_version_ = fstrings_.version();
    fstrings_.push_back(InterpolatedContext{flags_, nesting_, 0});
    opening_version_ = fstrings_.version();
    range_ = token_range(start);
    return flags_.is_tstring() ? TokenKind::TStringStart : TokenKind::FStringStart;
}

std::optional<TokenKind> Lexer::lex_interpolated_string_part() {
    const InterpolatedContext ctx = fstrings_.back();
    const StringTokenFlags flags = ctx.flags;
    const bool is_t = flags.is_tstring();
    const unsigned char quote = static_cast<unsigned char>(flags.quote_char());
    const bool triple = flags.is_triple_quoted();
    const bool raw = flags.is_raw();
    const bool in_format_spec = nesting_ > ctx.nesting;
    const uint32_t start = pos_;
    // What a replay of the part needs (see resume).
    const auto lexed = [&](bool closes) {
        part_ = PartLexed{ctx, fstrings_.size() + (closes ? 1 : 0), start, pos_, in_format_spec, closes};
    };

    // 1. The closing quote(s).
    if (!at_end() && peek() == quote && (!triple || (has(2) && peek(1) == quote && peek(2) == quote))) {
        pos_ += triple ? 3 : 1;
        range_ = token_range(start);
        flags_ = flags;
        fstrings_.pop_back();
        lexed(true);
        return is_t ? TokenKind::TStringEnd : TokenKind::FStringEnd;
    }

    // 2. Literal text.
    std::string reduced;
    bool is_reduced = false;
    uint32_t copied = start;  // start of the stretch not yet copied into `reduced`
    bool in_named_escape = false;
    bool stopped_at_newline = false;
    while (!at_end()) {
        const unsigned char c = peek();
        if (!(kClasses[c] & kStringSpecial)) {
            ++pos_;
            continue;
        }
        if (c == '\\') {
            if (has(1) && (peek(1) == '{' || peek(1) == '}')) {
                ++pos_;  // the brace is handled as a brace
                continue;
            }
            if (!raw && has(2) && peek(1) == 'N' && peek(2) == '{') {
                in_named_escape = true;
                pos_ += 3;
                continue;
            }
            ++pos_;
            if (at_end()) break;
            if (peek() == '\r' && has(1) && peek(1) == '\n') {
                pos_ += 2;
            } else {
                ++pos_;
            }
            continue;
        }
        if (c == '\n' || c == '\r') {
            if (!triple) {
                stopped_at_newline = true;
                break;
            }
            ++pos_;
            continue;
        }
        if (c == '\'' || c == '"') {
            if (c == quote && (!triple || (has(2) && peek(1) == quote && peek(2) == quote))) break;
            ++pos_;
            continue;
        }
        if (in_named_escape) {
            if (c == '}') in_named_escape = false;
            ++pos_;
            continue;
        }
        // A brace: doubled ones are literal outside a format spec.
        if (!in_format_spec && has(1) && peek(1) == c) {
            reduced.append(source_.substr(copied, pos_ + 1 - copied));
            is_reduced = true;
            pos_ += 2;
            copied = pos_;
            continue;
        }
        break;
    }

    auto middle_value = [&]() {
        if (!is_reduced) return InterpolatedMiddleValue::view_of(source_.substr(start, pos_ - start));
        reduced.append(source_.substr(copied, pos_ - copied));
        return InterpolatedMiddleValue::owned(std::move(reduced));
    };
    const TokenKind middle_kind = is_t ? TokenKind::TStringMiddle : TokenKind::FStringMiddle;

    // 3. The end of input or a line break in a single-quoted string.
    if (at_end() || stopped_at_newline) {
        InterpolatedStringErrorType error;
        if (at_end()) {
            error = triple ? InterpolatedStringErrorType::UnterminatedTripleQuotedString
                           : InterpolatedStringErrorType::UnterminatedString;
        } else {
            error = in_format_spec ? InterpolatedStringErrorType::NewlineInFormatSpec
                                   : InterpolatedStringErrorType::UnterminatedString;
        }
        const TextRange error_range(start, pos_);
        push_error(is_t ? LexicalErrorType::tstring(error) : LexicalErrorType::fstring(error), error_range);
        pop_fstring();
        if (pos_ == start) return std::nullopt;
        range_ = error_range;
        flags_ = flags.with(StringTokenFlags::kUnclosed);
        value_ = middle_value();
        lexed(true);
        return middle_kind;
    }

    // 4. A non-empty part is a middle token.
    if (pos_ == start) return std::nullopt;
    range_ = token_range(start);
    flags_ = flags;
    value_ = middle_value();
    lexed(false);
    return middle_kind;
}

TokenKind Lexer::lex_comment(uint32_t start) {
    // The nearer of the two line ends in one scan: looking for a line feed
    // first would scan to the far one from every comment of CR-ended lines.
    pos_ = static_cast<uint32_t>(text::find_first_of_bytes(source_.substr(0, end_), pos_, '\n', '\r'));
    range_ = token_range(start);
    return TokenKind::Comment;
}

TokenKind Lexer::lex_newline(uint32_t start) {
    if (peek() == '\r' && has(1) && peek(1) == '\n') {
        pos_ += 2;
    } else {
        ++pos_;
    }
    range_ = token_range(start);
    if (nesting_ == 0 && line_state_ >= 2) return TokenKind::Newline;
    // A line break inside a format spec (reached only through brackets) closes it.
    if (!fstrings_.empty()) {
        const InterpolatedContext& ctx = fstrings_.back();
        if (ctx.format_spec_depth > 0 && nesting_ - ctx.nesting <= ctx.format_spec_depth) {
            --fstrings_.back_for_update().format_spec_depth;
        }
    }
    return TokenKind::NonLogicalNewline;
}

// ---------------------------------------------------------------------------
// Operators

TokenKind Lexer::consume_operator(uint32_t start, unsigned char c) {
    ++pos_;
    auto next_is = [&](unsigned char x) { return !at_end() && peek() == x; };
    auto eat = [&](unsigned char x) {
        if (next_is(x)) {
            ++pos_;
            return true;
        }
        return false;
    };
    switch (c) {
        case '(': ++nesting_; return TokenKind::Lpar;
        case '[': ++nesting_; return TokenKind::Lsqb;
        case '{': ++nesting_; return TokenKind::Lbrace;
        case ')': if (nesting_ > 0) --nesting_; return TokenKind::Rpar;
        case ']': if (nesting_ > 0) --nesting_; return TokenKind::Rsqb;
        case '}': {
            if (!fstrings_.empty()) {
                const InterpolatedContext& ctx = fstrings_.back();
                if (ctx.nesting == nesting_) {
                    range_ = token_range(start);
                    const auto e = InterpolatedStringErrorType::SingleRbrace;
                    push_error(ctx.flags.is_tstring() ? LexicalErrorType::tstring(e) : LexicalErrorType::fstring(e),
                               range_);
                    return TokenKind::Unknown;
                }
                if (ctx.format_spec_depth > 0 && nesting_ - ctx.nesting <= ctx.format_spec_depth) {
                    --fstrings_.back_for_update().format_spec_depth;
                }
            }
            if (nesting_ > 0) --nesting_;
            return TokenKind::Rbrace;
        }
        case ':': {
            if (!fstrings_.empty()) {
                const InterpolatedContext& ctx = fstrings_.back();
                if (nesting_ - ctx.nesting == ctx.format_spec_depth + 1) {
                    ++fstrings_.back_for_update().format_spec_depth;
                    return TokenKind::Colon;
                }
            }
            return eat('=') ? TokenKind::ColonEqual : TokenKind::Colon;
        }
        case '*':
            if (eat('*')) return eat('=') ? TokenKind::DoubleStarEqual : TokenKind::DoubleStar;
            return eat('=') ? TokenKind::StarEqual : TokenKind::Star;
        case '/':
            if (eat('/')) return eat('=') ? TokenKind::DoubleSlashEqual : TokenKind::DoubleSlash;
            return eat('=') ? TokenKind::SlashEqual : TokenKind::Slash;
        case '<':
            if (eat('<')) return eat('=') ? TokenKind::LeftShiftEqual : TokenKind::LeftShift;
            return eat('=') ? TokenKind::LessEqual : TokenKind::Less;
        case '>':
            if (eat('>')) return eat('=') ? TokenKind::RightShiftEqual : TokenKind::RightShift;
            return eat('=') ? TokenKind::GreaterEqual : TokenKind::Greater;
        case '-':
            if (eat('=')) return TokenKind::MinusEqual;
            return eat('>') ? TokenKind::Rarrow : TokenKind::Minus;
        case '+': return eat('=') ? TokenKind::PlusEqual : TokenKind::Plus;
        case '%': return eat('=') ? TokenKind::PercentEqual : TokenKind::Percent;
        case '&': return eat('=') ? TokenKind::AmperEqual : TokenKind::Amper;
        case '|': return eat('=') ? TokenKind::VbarEqual : TokenKind::Vbar;
        case '^': return eat('=') ? TokenKind::CircumflexEqual : TokenKind::CircumFlex;
        case '@': return eat('=') ? TokenKind::AtEqual : TokenKind::At;
        case '=': return eat('=') ? TokenKind::EqEqual : TokenKind::Equal;
        case '!': return eat('=') ? TokenKind::NotEqual : TokenKind::Exclamation;
        case '.':
            if (has(1) && peek() == '.' && peek(1) == '.') {
                pos_ += 2;
                return TokenKind::Ellipsis;
            }
            return TokenKind::Dot;
        case ',': return TokenKind::Comma;
        case ';': return TokenKind::Semi;
        case '~': return TokenKind::Tilde;
        default: break;
    }
    // `?` (outside the IPython mode) and any other character.
    range_ = token_range(start);
    push_error(LexicalErrorType::unexpected_token(c), range_);
    return TokenKind::Unknown;
}

// ---------------------------------------------------------------------------
// Re-lexing hooks

namespace {

bool is_opening_bracket(TokenKind kind) {
    return kind == TokenKind::Lpar || kind == TokenKind::Lsqb || kind == TokenKind::Lbrace;
}
bool is_closing_bracket(TokenKind kind) {
    return kind == TokenKind::Rpar || kind == TokenKind::Rsqb || kind == TokenKind::Rbrace;
}

}  // namespace

bool Lexer::re_lex_logical_token(std::optional<TextSize> newline_start, SavedToken& replaced) {
    if (nesting_ == 0) return false;
    // Newlines of a triple-quoted f-string or t-string belong to the string.
    if ((flags_.is_triple_quoted() && flags_.is_interpolated()) ||
        (!fstrings_.empty() && fstrings_.back().flags.is_triple_quoted()) || !newline_start) {
        --nesting_;
        return false;
    }
    const uint32_t target = newline_start->raw;
    if (target > end_) internal_fault("assertion failed: re-lex position within the source");
    // One level less; a closing bracket lexed again takes its level again.
    const uint32_t nesting = is_closing_bracket(kind_) ? nesting_ : nesting_ - 1;
    save_current_token(replaced);
    nesting_ = nesting;
    // Errors of the tokens about to be lexed again would otherwise be recorded twice.
    while (!errors_.empty() && errors_.back().location.start().raw >= target) errors_.pop_back();
    pos_ = target;
    line_state_ = 3;
    // When the trivia and the token lex as they did, the token is current
    // again and nothing is lexed.
    if (resume(replaced)) return false;
    next_token();
    return true;
}

namespace {

using Replay = Lexer::SavedToken::Replay;

bool is_interpolated_part(TokenKind kind) {
    return kind == TokenKind::FStringMiddle || kind == TokenKind::TStringMiddle || kind == TokenKind::FStringEnd ||
           kind == TokenKind::TStringEnd;
}

}  // namespace

void Lexer::save_current_token(SavedToken& token) {
    token.kind = kind_;
    token.range = range_;
    token.flags = flags_;
    token.value = std::exchange(value_, TokenValue{});
    token.end = pos_;
    token.line_state = line_state_;
    token.errors.clear();
    token.replay = Replay::None;
    if (is_interpolated_part(kind_)) {
        // A part depends on its string and on being in a format spec, not on
        // the nesting.
        if (part_.start != range_.start().raw || part_.end != pos_) return;
        token.replay = Replay::Part;
        token.part = part_;
    } else {
        // The nesting it was lexed at follows from the nesting after it (an end
        // of input, which leaves 0 at any depth, is never replayed).
        if (nesting_ == 0) return;
        const uint32_t before = is_opening_bracket(kind_)   ? nesting_ - 1
                                : is_closing_bracket(kind_) ? nesting_ + 1
                                                            : nesting_;
        if (token_fstrings_version_ == fstrings_.version()) {
            if (!lexes_plainly(before, kind_)) return;
            token.replay = Replay::Plain;
        } else if ((kind_ == TokenKind::FStringStart || kind_ == TokenKind::TStringStart) &&
                   opening_from_version_ == token_fstrings_version_ && opening_version_ == fstrings_.version()) {
            // Its push alone changed the stack: the rules it met are those
            // under the string it opened.
            const InterpolatedContext* under = fstrings_.size() < 2 ? nullptr : &fstrings_[fstrings_.size() - 2];
            if (!lexes_plainly(before, kind_, under)) return;
            token.replay = Replay::Opens;
        } else {
            return;
        }
    }
    // A token lexed by these rules records its errors at its own start, and
    // every earlier error lies before it.
    size_t first = errors_.size();
    while (first > 0 && errors_[first - 1].location.start() >= range_.start()) --first;
    token.errors.assign(errors_.begin() + static_cast<std::ptrdiff_t>(first), errors_.end());
}

bool Lexer::resume(SavedToken& token) {
    if (token.replay == Replay::None || pending_indentation_ || pos_ > token.range.start().raw) return false;
    if (token.replay == Replay::Part) {
        // Nothing may stand before it: in a literal part, that would be text.
        if (pos_ != token.range.start().raw || fstrings_.size() != token.part.depth) return false;
        const InterpolatedContext& ctx = fstrings_.back();
        if (!(ctx == token.part.context) || nesting_ - ctx.nesting > ctx.format_spec_depth ||
            (nesting_ > ctx.nesting) != token.part.in_format_spec) {
            return false;
        }
        part_ = token.part;
    } else if (!lexes_plainly(nesting_, token.kind)) {
        return false;
    }
    token_fstrings_version_ = fstrings_.version();
    pos_ = token.end;
    kind_ = token.kind;
    range_ = token.range;
    flags_ = token.flags;
    value_ = std::move(token.value);
    line_state_ = token.line_state;
    switch (token.replay) {
        case Replay::Opens:
            opening_from_version_ = fstrings_.version();
            fstrings_.push_back(InterpolatedContext{flags_, nesting_, 0});
            opening_version_ = fstrings_.version();
            break;
        case Replay::Part:
            // As lexing closes it: an end keeps the nesting, a part cut short
            // returns to the string's own.
            if (token.part.closes) {
                if (kind_ == TokenKind::FStringEnd || kind_ == TokenKind::TStringEnd) {
                    fstrings_.pop_back();
                } else {
                    pop_fstring();
                }
            }
            break;
        default:
            if (is_opening_bracket(kind_)) ++nesting_;
            if (is_closing_bracket(kind_)) --nesting_;
            break;
    }
    errors_.insert(errors_.end(), token.errors.begin(), token.errors.end());
    token.replay = Replay::None;
    return true;
}

bool Lexer::lexes_plainly(uint32_t nesting, TokenKind kind, const InterpolatedContext* innermost) {
    // Plain rules: a line break does not end the line (nesting above 0) and no
    // f-string literal part or format spec is open, so comments, line breaks
    // and whitespace lex the same at any such nesting, change no state and
    // record no error, and the token differs only in its change of nesting.
    if (nesting == 0) return false;
    if (innermost == nullptr) return true;
    // The same unsigned difference as lex_token's: below the string's own
    // level it wraps, and the literal part is not lexed.
    const InterpolatedContext& ctx = *innermost;
    const uint32_t inside = nesting - ctx.nesting;
    if (inside <= ctx.format_spec_depth) return false;
    // One level inside a replacement field, a colon (also the first of `:=`)
    // opens the format spec.
    return !((kind == TokenKind::Colon || kind == TokenKind::ColonEqual) && inside == ctx.format_spec_depth + 1);
}

bool Lexer::re_lex_string_token_in_interpolation_element() {
    if (kind_ != TokenKind::String || !flags_.is_unclosed() || fstrings_.empty()) return false;
    if (flags_.prefix_len() != 0) return false;
    const InterpolatedContext ctx = fstrings_.back();
    if (ctx.flags.is_double_quoted() != flags_.is_double_quoted() ||
        ctx.flags.is_triple_quoted() != flags_.is_triple_quoted()) {
        return false;
    }
    const uint32_t quote_len = flags_.quote_len();
    const std::string_view rest = source_.substr(range_.start().raw + quote_len, range_.len().raw - quote_len);
    for (char c : rest) {
        if (c == '\n' || c == '\r' || c == '#') break;
        if (c != ' ' && c != '\t' && c != '\f') return false;
    }
    if (!errors_.empty() && errors_.back().location == range_) errors_.pop_back();
    range_ = TextRange::at(range_.start(), quote_len);
    kind_ = ctx.flags.is_tstring() ? TokenKind::TStringEnd : TokenKind::FStringEnd;
    flags_ = ctx.flags;
    value_ = std::monostate{};
    pop_fstring();
    pos_ = range_.end().raw;
    forget_replay();
    return true;
}

bool Lexer::re_lex_raw_string_in_format_spec() {
    if (kind_ != TokenKind::String || !flags_.is_unclosed()) return false;
    const uint16_t prefix_bits = flags_.bits & ~(StringTokenFlags::kDoubleQuotes | StringTokenFlags::kTripleQuoted |
                                                 StringTokenFlags::kUnclosed);
    if (prefix_bits != StringTokenFlags::kRPrefixLower) return false;
    if (errors_.empty() || errors_.back().error.kind != LexicalErrorType::Kind::UnclosedString) return false;
    errors_.pop_back();
    range_ = TextRange::at(range_.start(), 1);
    kind_ = TokenKind::Name;
    value_ = Name("r");
    flags_ = StringTokenFlags{};
    pos_ = range_.end().raw;
    forget_replay();
    return true;
}

}  // namespace lumra::pyexpr
