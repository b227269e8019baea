// Flags of string tokens (as the lexer sets them) and of the tree's literal
// nodes, with the conversions between them.
#pragma once

#include <cstdint>
#include <string_view>

namespace lumra::pyexpr {

// Bit set carried by String, FStringStart/Middle/End and TStringStart/Middle/End tokens.
struct StringTokenFlags {
    static constexpr uint16_t kDoubleQuotes = 1;
    static constexpr uint16_t kTripleQuoted = 2;
    static constexpr uint16_t kUPrefix = 4;
    static constexpr uint16_t kBPrefix = 8;
    static constexpr uint16_t kFPrefix = 16;
    static constexpr uint16_t kTPrefix = 32;
    static constexpr uint16_t kRPrefixLower = 64;
    static constexpr uint16_t kRPrefixUpper = 128;
    static constexpr uint16_t kUnclosed = 256;

    uint16_t bits = 0;

    constexpr StringTokenFlags() = default;
    constexpr explicit StringTokenFlags(uint16_t b) : bits(b) {}

    constexpr bool has(uint16_t mask) const { return (bits & mask) != 0; }
    constexpr bool is_double_quoted() const { return has(kDoubleQuotes); }
    constexpr bool is_triple_quoted() const { return has(kTripleQuoted); }
    constexpr bool is_unclosed() const { return has(kUnclosed); }
    constexpr bool is_raw() const { return has(kRPrefixLower | kRPrefixUpper); }
    constexpr bool is_bytes() const { return has(kBPrefix); }
    constexpr bool is_fstring() const { return has(kFPrefix); }
    constexpr bool is_tstring() const { return has(kTPrefix); }
    constexpr bool is_interpolated() const { return has(kFPrefix | kTPrefix); }
    constexpr char quote_char() const { return is_double_quoted() ? '"' : '\''; }
    constexpr uint32_t quote_len() const { return is_triple_quoted() ? 3 : 1; }
    // Prefix as printed: "", "u", "r", "R", "b", "rb", "Rb", "f", "rf", "Rf", "t", "rt", "Rt".
    std::string_view prefix_text() const;
    constexpr uint32_t prefix_len() const {
        return (has(kUPrefix | kBPrefix | kFPrefix | kTPrefix) ? 1 : 0) + (is_raw() ? 1 : 0);
    }
    // Prefix plus opening quote(s): where the literal's body starts in its token.
    constexpr uint32_t opener_len() const { return prefix_len() + quote_len(); }

    constexpr StringTokenFlags with(uint16_t mask) const { return StringTokenFlags(static_cast<uint16_t>(bits | mask)); }
    constexpr StringTokenFlags without(uint16_t mask) const {
        return StringTokenFlags(static_cast<uint16_t>(bits & ~mask));
    }
    friend constexpr bool operator==(StringTokenFlags a, StringTokenFlags b) = default;
};

enum class QuoteStyle : uint8_t { Single, Double };

constexpr char quote_char(QuoteStyle style) { return style == QuoteStyle::Double ? '"' : '\''; }

// Prefix of a plain string literal.
struct StrPrefix {
    enum class Kind : uint8_t { Empty, Unicode, Raw };
    Kind kind = Kind::Empty;
    bool uppercase = false;  // only for Raw: R rather than r

    static constexpr StrPrefix empty() { return {}; }
    static constexpr StrPrefix unicode() { return {Kind::Unicode, false}; }
    static constexpr StrPrefix raw(bool upper) { return {Kind::Raw, upper}; }
    constexpr bool is_raw() const { return kind == Kind::Raw; }
    // "", "u", "r" or "R".
    constexpr std::string_view text() const {
        switch (kind) {
            case Kind::Empty: return "";
            case Kind::Unicode: return "u";
            case Kind::Raw: return uppercase ? "R" : "r";
        }
        return "";
    }
    friend constexpr bool operator==(StrPrefix, StrPrefix) = default;
};

// Prefix of bytes, f-string and t-string literals: raw or not.
struct RawPrefix {
    bool raw = false;
    bool uppercase_r = false;  // only when raw

    static constexpr RawPrefix regular() { return {}; }
    static constexpr RawPrefix raw_prefix(bool upper) { return {true, upper}; }
    constexpr bool is_raw() const { return raw; }
    // "", "r" or "R" (the b, f or t is added by the caller).
    constexpr std::string_view text() const { return raw ? (uppercase_r ? "R" : "r") : ""; }
    friend constexpr bool operator==(RawPrefix, RawPrefix) = default;
};

struct StringLiteralFlags {
    QuoteStyle quote_style = QuoteStyle::Single;
    StrPrefix prefix{};
    bool triple_quoted = false;
    bool unclosed = false;
    friend constexpr bool operator==(const StringLiteralFlags&, const StringLiteralFlags&) = default;
};

// Same shape for bytes, f-strings and t-strings.
struct BytesLiteralFlags {
    QuoteStyle quote_style = QuoteStyle::Single;
    RawPrefix prefix{};
    bool triple_quoted = false;
    bool unclosed = false;
    friend constexpr bool operator==(const BytesLiteralFlags&, const BytesLiteralFlags&) = default;
};
struct FStringFlags {
    QuoteStyle quote_style = QuoteStyle::Single;
    RawPrefix prefix{};
    bool triple_quoted = false;
    bool unclosed = false;
    friend constexpr bool operator==(const FStringFlags&, const FStringFlags&) = default;
};
struct TStringFlags {
    QuoteStyle quote_style = QuoteStyle::Single;
    RawPrefix prefix{};
    bool triple_quoted = false;
    bool unclosed = false;
    friend constexpr bool operator==(const TStringFlags&, const TStringFlags&) = default;
};

// Printed prefixes: "b"/"rb"/"Rb", "f"/"rf"/"Rf", "t"/"rt"/"Rt".
constexpr std::string_view bytes_prefix_text(RawPrefix p) { return p.raw ? (p.uppercase_r ? "Rb" : "rb") : "b"; }
constexpr std::string_view fstring_prefix_text(RawPrefix p) { return p.raw ? (p.uppercase_r ? "Rf" : "rf") : "f"; }
constexpr std::string_view tstring_prefix_text(RawPrefix p) { return p.raw ? (p.uppercase_r ? "Rt" : "rt") : "t"; }

// Conversions from token flags. A token with a b, f or t prefix given to
// string_literal_flags is an internal fault (InternalFault).
StringLiteralFlags string_literal_flags(StringTokenFlags flags);
BytesLiteralFlags bytes_literal_flags(StringTokenFlags flags);
FStringFlags fstring_flags(StringTokenFlags flags);
TStringFlags tstring_flags(StringTokenFlags flags);

}  // namespace lumra::pyexpr
