// Escape decoding of string, bytes and f-string literal bodies: values, and
// error types with their absolute ranges.
#include <gtest/gtest.h>
#include <unicode/uchar.h>

#include <optional>
#include <string>
#include <utility>

#include "pyexpr/char_names.h"
#include "pyexpr/string_decode.h"

namespace lumra::pyexpr {
namespace {

using namespace std::string_view_literals;
using Kind = LexicalErrorType::Kind;

constexpr StringTokenFlags kPlain{};
constexpr StringTokenFlags kRaw{StringTokenFlags::kRPrefixLower};
constexpr StringTokenFlags kBytes{StringTokenFlags::kBPrefix};
constexpr StringTokenFlags kRawBytes{StringTokenFlags::kBPrefix | StringTokenFlags::kRPrefixUpper};
constexpr StringTokenFlags kFString{StringTokenFlags::kFPrefix};
constexpr StringTokenFlags kRawFString{StringTokenFlags::kFPrefix | StringTokenFlags::kRPrefixLower};
// Only triple-quoted bodies hold a line break without a backslash before it.
constexpr StringTokenFlags kTriple{StringTokenFlags::kTripleQuoted};
constexpr StringTokenFlags kTripleBytes{StringTokenFlags::kBPrefix | StringTokenFlags::kTripleQuoted};
constexpr StringTokenFlags kTripleFString{StringTokenFlags::kFPrefix | StringTokenFlags::kTripleQuoted};

struct ValueCase {
    std::string_view body;
    StringTokenFlags flags;
    std::string_view expected;
};

struct ErrorCase {
    std::string_view body;
    StringTokenFlags flags;
    Kind kind;
    uint32_t start;  // absolute, with the body starting at offset 10
    uint32_t end;
};

constexpr uint32_t kBase = 10;

std::optional<LexicalError> decode(std::string_view body, StringTokenFlags flags, std::string& out) {
    if (flags.is_bytes()) return decode_bytes(body, TextSize(kBase), flags, out);
    if (flags.is_interpolated()) return decode_interpolated_literal(body, TextSize(kBase), flags, out);
    return decode_string(body, TextSize(kBase), flags, out);
}

TEST(StringDecodeTest, Values) {
    const ValueCase cases[] = {
        {"plain", kPlain, "plain"},
        {"a\\x41", kPlain, "aA"},
        {"\\u00e9", kPlain, "\xc3\xa9"},
        {"\\U0001F600!", kPlain, "\xf0\x9f\x98\x80!"},
        {"\\N{BULLET}", kPlain, "\xe2\x80\xa2"},
        {"\\N{bullet}", kPlain, "\xe2\x80\xa2"},
        {"\\N{LATIN CAPITAL LETTER GHA}", kPlain, "\xc6\xa2"},  // a correction alias
        {"\\N{LINE FEED}\\N{lf}\\N{BEL}", kPlain, "\n\n\a"},     // control aliases
        {"\\N{BYTE ORDER MARK}\\N{vs1}", kPlain, "\xef\xbb\xbf\xef\xb8\x80"},
        {"\\N{HANGUL SYLLABLE GA}", kPlain, "\xea\xb0\x80"},
        {"\\N{CJK UNIFIED IDEOGRAPH-4E00}", kPlain, "\xe4\xb8\x80"},
        {"\\q", kPlain, "\\q"},
        {"\\d+\\.\\w", kPlain, "\\d+\\.\\w"},
        {"\\\xc3\xa9", kPlain, "\\\xc3\xa9"},
        {"\\777", kPlain, "\xc7\xbf"},
        {"\\1234", kPlain, "S4"},
        {"\\0", kPlain, "\0"sv},
        {"\\12x", kPlain, "\nx"},
        {"\\8", kPlain, "\\8"},
        {"\\uD800", kPlain, "\xef\xbf\xbd"},
        {"\\udfff", kPlain, "\xef\xbf\xbd"},
        {"\\a\\b\\f\\n\\r\\t\\v", kPlain, "\a\b\f\n\r\t\v"},
        {"\\\\ \\' \\\"", kPlain, "\\ ' \""},
        {"a\\\nb", kPlain, "ab"},
        {"a\\\r\nb", kPlain, "ab"},
        {"a\\\rb", kPlain, "ab"},
        {"end\\", kPlain, "end\\"},
        {"\\n\\x41", kRaw, "\\n\\x41"},
        // Bytes: decoded characters become one byte; \u, \U and \N stay as written.
        {"\\777", kBytes, "\xff"},
        {"\\x80\\n", kBytes, "\x80\n"},
        {"\\u00e9", kBytes, "\\u00e9"},
        {"\\N{BULLET}", kBytes, "\\N{BULLET}"},
        {"\\x41\\q", kRawBytes, "\\x41\\q"},
        // f-string literal parts: doubled braces are reduced, escapes decoded unless raw.
        {"a{{b}}c", kFString, "a{b}c"},
        {"\\{{x", kFString, "\\{x"},
        {"x\\}}", kFString, "x\\}"},
        {"\\N{BULLET} ", kFString, "\xe2\x80\xa2 "},
        {"\\x41{{", kFString, "A{"},
        {"\\n{{", kRawFString, "\\n{"},
        {"", kFString, ""},
        // A CR or CRLF of the source is a line feed, raw or not; an escaped CR stays.
        {"a\r\nb\rc\n", kTriple, "a\nb\nc\n"},
        {"\\r\r\r\n\\15", kTriple, "\r\n\n\r"},
        {"a\\\r\nb\r", kRaw, "a\\\nb\n"},
        {"\r\n\\x0d", kTripleBytes, "\n\r"},
        {"\\\r\r", kRawBytes, "\\\n\n"},
        {"{{\r\n}}\\r\r", kTripleFString, "{\n}\r\n"},
        {"\\\r\n{{\r", kRawFString, "\\\n{\n"},
    };
    for (const auto& c : cases) {
        std::string out = "stale";
        const auto err = decode(c.body, c.flags, out);
        EXPECT_FALSE(err.has_value()) << c.body << ": " << (err ? err->error.message() : "");
        EXPECT_EQ(out, c.expected) << c.body;
    }
}

TEST(StringDecodeTest, Errors) {
    const ErrorCase cases[] = {
        {"\\x4", kPlain, Kind::UnexpectedUnicode, 13, 13},
        {"ab\\x4g", kPlain, Kind::UnexpectedUnicode, 15, 16},
        {"\\u12\xc3\xa9", kPlain, Kind::UnexpectedUnicode, 14, 16},
        {"\\U00110000", kPlain, Kind::UnexpectedUnicode, 20, 20},
        {"\\N", kPlain, Kind::MissingUnicodeLbrace, 12, 12},
        {"\\Nx", kPlain, Kind::MissingUnicodeLbrace, 12, 12},
        {"\\N{BULLET", kPlain, Kind::MissingUnicodeRbrace, 19, 19},
        {"\\N{NOT A NAME}", kPlain, Kind::UnexpectedUnicode, 13, 23},
        {"\\N{}", kPlain, Kind::UnexpectedUnicode, 13, 13},
        {"x\xc3\xa9y", kBytes, Kind::NonAsciiBytes, 11, 13},
        {"\xe2\x82\xac", kRawBytes, Kind::NonAsciiBytes, 10, 13},
        {"\\x4", kBytes, Kind::UnexpectedUnicode, 13, 13},
        {"{{\\x4", kFString, Kind::UnexpectedUnicode, 15, 15},
        {"\\N{NOPE}", kFString, Kind::UnexpectedUnicode, 13, 17},
        // Ranges stay source offsets after a CRLF, which the value holds as one byte.
        {"\r\n\\x4g", kTriple, Kind::UnexpectedUnicode, 15, 16},
    };
    for (const auto& c : cases) {
        std::string out;
        const auto err = decode(c.body, c.flags, out);
        ASSERT_TRUE(err.has_value()) << c.body;
        EXPECT_EQ(err->error.kind, c.kind) << c.body;
        EXPECT_EQ(err->location, TextRange(c.start, c.end)) << c.body << " got " << err->location.to_string();
    }
}

TEST(StringDecodeTest, NamedEscapeLookupIsBounded) {
    EXPECT_EQ(lookup_unicode_name("BULLET"), char32_t{0x2022});
    // A NUL inside the name must not end it early.
    EXPECT_FALSE(lookup_unicode_name("BULLET\0X"sv).has_value());
    EXPECT_FALSE(lookup_unicode_name("BULLET\0"sv).has_value());
    // A name longer than any real one is refused, not cut to a real one.
    std::string long_name = "BULLET";
    long_name.append(300, ' ');
    EXPECT_FALSE(lookup_unicode_name(long_name).has_value());
    EXPECT_FALSE(lookup_unicode_name(std::string(100000, 'A')).has_value());
    EXPECT_FALSE(lookup_unicode_name("").has_value());

    std::string out;
    const auto err = decode_string("\\N{BULLET\0}"sv, TextSize(0), kPlain, out);
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->error.kind, Kind::UnexpectedUnicode);
    EXPECT_EQ(err->location, TextRange(3, 10));
}

TEST(StringDecodeTest, NamesAndAliasesAreCPythons) {
    const std::pair<std::string_view, std::optional<char32_t>> cases[] = {
        {"LF", 0xA},
        {"em", 0x19},  // an abbreviation ICU lacks
        {"VARIATION SELECTOR-256", 0xE01EF},
        {"tag latin small letter z", 0xE007A},
        {"CJK UNIFIED IDEOGRAPH-2B739", 0x2B739},  // the last of an extension
        {"CJK UNIFIED IDEOGRAPH-323AF", 0x323AF},
        {"cjk unified ideograph-323af", std::nullopt},  // the computed families: capitals only
        {"CJK UNIFIED IDEOGRAPH-4e00", std::nullopt},
        {"CJK UNIFIED IDEOGRAPH-2B73A", std::nullopt},  // the gap after it
        {"CJK UNIFIED IDEOGRAPH-04E00", 0x4E00},  // four or five digits
        {"CJK UNIFIED IDEOGRAPH-004E00", std::nullopt},
        {"CJK UNIFIED IDEOGRAPH-", std::nullopt},
        {"HANGUL SYLLABLE GAG", 0xAC01},
        {"HANGUL SYLLABLE I", 0xC774},  // no leading consonant
        {"hangul syllable i", std::nullopt},
        {"HANGUL SYLLABLE HIH", 0xD7A3},
        {"HANGUL SYLLABLE GAGX", std::nullopt},
        {"HANGUL SYLLABLE ", std::nullopt},
        {"TANGUT COMPONENT-001", 0x18800},
        {"TANGUT IDEOGRAPH-17000", std::nullopt},  // ICU derives it; CPython 3.12 does not
        {"TANGUT IDEOGRAPH-18D08", std::nullopt},
        {"KEYCAP NUMBER SIGN", std::nullopt},  // a named sequence
        {"LATIN SMALL LETTER A ", std::nullopt},
    };
    for (const auto& [name, expected] : cases) EXPECT_EQ(lookup_unicode_name(name), expected) << name;

    // Every name ICU spells but the Tangut ideographs' finds its code point:
    // CPython 3.12's 143,041 names.
    struct Count {
        size_t found = 0;
        size_t tangut = 0;
        std::string wrong;
    } count;
    UErrorCode status = U_ZERO_ERROR;
    u_enumCharNames(
        0, UCHAR_MAX_VALUE + 1,
        [](void* context, UChar32 c, UCharNameChoice, const char* name, int32_t length) -> UBool {
            auto& count = *static_cast<Count*>(context);
            const std::string_view text(name, static_cast<size_t>(length));
            const auto found = lookup_unicode_name(text);
            if (text.starts_with("TANGUT IDEOGRAPH-") && !found) {
                ++count.tangut;
            } else if (found == static_cast<char32_t>(c)) {
                ++count.found;
            } else if (count.wrong.empty()) {
                count.wrong = text;
            }
            return true;
        },
        &count, U_UNICODE_CHAR_NAME, &status);
    ASSERT_TRUE(U_SUCCESS(status));
    EXPECT_EQ(count.wrong, "");
    EXPECT_EQ(count.found, 143041u);
    EXPECT_EQ(count.tangut, 6145u);
}

TEST(StringDecodeTest, SkippedNamesAreNoErrors) {
    std::string out;
    EXPECT_FALSE(decode_string("a\\N{NO SUCH NAME}b\\N{BULLET}", TextSize(kBase), kPlain, out, NamedEscapes::Skip));
    EXPECT_EQ(out, "ab");
    EXPECT_FALSE(decode_interpolated_literal("\\N{ZZ}{{", TextSize(kBase), kFString, out, NamedEscapes::Skip));
    EXPECT_EQ(out, "{");
    // Escapes without their braces are errors without a lookup.
    const auto err = decode_string("\\N{BULLET", TextSize(kBase), kPlain, out, NamedEscapes::Skip);
    ASSERT_TRUE(err.has_value());
    EXPECT_EQ(err->error.kind, Kind::MissingUnicodeRbrace);
}

TEST(StringDecodeTest, ErrorMessages) {
    struct Case {
        LexicalErrorType error;
        std::string_view message;
    };
    const Case cases[] = {
        {LexicalErrorType::of(Kind::UnexpectedUnicode), "Got unexpected unicode"},
        {LexicalErrorType::of(Kind::MissingUnicodeLbrace), "Missing `{` in Unicode escape sequence"},
        {LexicalErrorType::of(Kind::MissingUnicodeRbrace), "Missing `}` in Unicode escape sequence"},
        {LexicalErrorType::of(Kind::NonAsciiBytes), "bytes can only contain ASCII literal characters"},
        {LexicalErrorType::of(Kind::UnexpectedString), "Got unexpected string"},
        {LexicalErrorType::of(Kind::UnclosedString), "missing closing quote in string literal"},
        {LexicalErrorType::of(Kind::UnindentMismatch), "unindent does not match any outer indentation level"},
        {LexicalErrorType::of(Kind::LineContinuationError), "Expected a newline after line continuation character"},
        {LexicalErrorType::of(Kind::UnexpectedEof), "unexpected EOF while parsing"},
        {LexicalErrorType::unexpected_token(U'\u00e9'), "Got unexpected token \xc3\xa9"},
        {LexicalErrorType::other("Invalid Syntax"), "Invalid Syntax"},
        {LexicalErrorType::fstring(InterpolatedStringErrorType::UnclosedLbrace), "f-string: expecting `}`"},
        {LexicalErrorType::tstring(InterpolatedStringErrorType::InvalidConversionFlag),
         "t-string: invalid conversion character"},
        {LexicalErrorType::fstring(InterpolatedStringErrorType::ConversionFlagNotRightAfterExclamation),
         "f-string: conversion type must come right after the exclamation mark"},
        {LexicalErrorType::fstring(InterpolatedStringErrorType::LambdaWithoutParentheses),
         "f-string: lambda expressions are not allowed without parentheses"},
    };
    for (const auto& c : cases) EXPECT_EQ(c.error.message(), c.message);
}

}  // namespace
}  // namespace lumra::pyexpr

// Differential check against CPython: data/string_literals.bin holds string,
// bytes and field-free f-string literals of the standard library with the
// values CPython gives them (see data/make_string_literals.py).
#include "pyexpr/lexer.h"
#include "support/records.h"

namespace lumra::pyexpr {
namespace {

std::string decode_literal(std::string_view text) {
    Lexer lexer(text);
    const TokenKind kind = lexer.next_token();
    std::string value;
    if (kind == TokenKind::String) {
        const StringTokenFlags flags = lexer.current_flags();
        const auto raw = std::get<StringTokenValue>(lexer.current_value()).raw;
        const TextSize body_start = lexer.current_range().start() + TextSize(flags.opener_len());
        EXPECT_EQ(text.substr(body_start.raw, raw.size()), raw);
        const auto err = flags.is_bytes() ? decode_bytes(raw, body_start, flags, value)
                                          : decode_string(raw, body_start, flags, value);
        EXPECT_FALSE(err.has_value()) << text << ": " << err->error.message();
        return value;
    }
    EXPECT_EQ(kind, TokenKind::FStringStart) << text;
    const StringTokenFlags flags = lexer.current_flags();
    while (lexer.next_token() == TokenKind::FStringMiddle) {
        std::string part;
        const auto err = decode_interpolated_literal(lexer.current_range().slice(text), lexer.current_range().start(),
                                                     flags, part);
        EXPECT_FALSE(err.has_value()) << text;
        value += part;
    }
    EXPECT_EQ(lexer.current_kind(), TokenKind::FStringEnd) << text;
    return value;
}

TEST(StringDecodeTest, MatchesCPythonOnStandardLibraryLiterals) {
    const auto data = test_support::read_file(std::string(LUMRA_TEST_DATA_DIR) + "/string_literals.bin");
    ASSERT_TRUE(data) << "missing data/string_literals.bin";
    const auto fields = test_support::nul_fields(*data);
    ASSERT_EQ(fields.size() % 2, 0u);
    size_t checked = 0;
    for (size_t i = 0; i < fields.size(); i += 2) {
        EXPECT_EQ(decode_literal(fields[i]), fields[i + 1]) << fields[i];
        ++checked;
    }
    EXPECT_GT(checked, 1000u);
}

}  // namespace
}  // namespace lumra::pyexpr

#include <random>

namespace lumra::pyexpr {
namespace {

TEST(StringDecodeTest, RandomBodiesStayInRange) {
    static constexpr std::string_view kPieces[] = {"\\", "x", "u", "U", "N", "{", "}", "{{", "}}", "0", "7", "9",
                                                   "a", "F", "\n", "\r", "'", "\xc3\xa9", "\xff", "BULLET", "\\N{",
                                                   "\\x", "\\u12", "\\U0010FFFF", "\\U00110000", " "};
    const StringTokenFlags all_flags[] = {kPlain, kRaw, kBytes, kRawBytes, kFString, kRawFString};
    std::mt19937 rng(7);
    std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 16);
    for (int round = 0; round < 5000; ++round) {
        std::string body;
        const int n = length(rng);
        for (int i = 0; i < n; ++i) body += kPieces[pick(rng)];
        for (StringTokenFlags flags : all_flags) {
            std::string out;
            const auto err = decode(body, flags, out);
            if (err) {
                EXPECT_GE(err->location.start().raw, kBase) << body;
                EXPECT_LE(err->location.end().raw, kBase + body.size()) << body;
            } else if (!flags.is_bytes()) {
                // Decoding never makes text longer.
                EXPECT_LE(out.size(), body.size()) << body;
            }
        }
    }
}

}  // namespace
}  // namespace lumra::pyexpr
