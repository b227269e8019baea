// Literal text: escaping of string and bytes bodies, quote choice, numbers.
//
// Bodies are scanned once to count quotes and the escaped length; a body that
// needs no escaping is copied whole.
#include "pycodegen/literal.h"

#include <unicode/uchar.h>

#include <array>
#include <charconv>
#include <cmath>
#include <limits>

#include "pycodegen/generator.h"

namespace lumra::codegen {

using pyexpr::QuoteStyle;

namespace {

constexpr char kHexDigits[] = "0123456789abcdef";

// Escaped length of each ASCII character, quotes counted as 1 (their escape is
// added once the quote is chosen).
constexpr std::array<uint8_t, 128> make_ascii_len() {
    std::array<uint8_t, 128> table{};
    for (int c = 0; c < 128; ++c) table[c] = (c < 32 || c == 127) ? 4 : 1;
    table['\t'] = table['\n'] = table['\r'] = table['\\'] = 2;
    return table;
}
constexpr std::array<uint8_t, 128> kAsciiLen = make_ascii_len();

// Marks a byte that starts no valid sequence; it prints as a \x escape.
constexpr char32_t kMalformedFlag = 0x80000000;

// Decodes one UTF-8 sequence at `i` and advances `i`. Encoded surrogates
// (which Python text may hold) decode to their code points; a malformed byte
// comes back as itself with kMalformedFlag set.
char32_t next_code_point(std::string_view s, size_t& i) {
    auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) -> int {
        if (i + k >= s.size()) return -1;
        auto b = static_cast<unsigned char>(s[i + k]);
        return (b & 0xC0) == 0x80 ? (b & 0x3F) : -1;
    };
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        int c1 = cont(1);
        if (c1 >= 0) {
            i += 2;
            return static_cast<char32_t>(((b0 & 0x1F) << 6) | c1);
        }
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1;
        if (c2 >= 0) {
            char32_t c = static_cast<char32_t>(((b0 & 0x0F) << 12) | (c1 << 6) | c2);
            if (c >= 0x800) {
                i += 3;
                return c;
            }
        }
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        int c1 = cont(1), c2 = c1 >= 0 ? cont(2) : -1, c3 = c2 >= 0 ? cont(3) : -1;
        if (c3 >= 0) {
            char32_t c = static_cast<char32_t>(((b0 & 0x07) << 18) | (c1 << 12) | (c2 << 6) | c3);
            if (c >= 0x10000 && c <= 0x10FFFF) {
                i += 4;
                return c;
            }
        }
    }
    i += 1;
    return b0 | kMalformedFlag;
}

size_t non_ascii_len(char32_t c, size_t utf8_len) {
    if (c & kMalformedFlag) return 4;
    if (is_printable(c)) return utf8_len;
    if (c < 0x100) return 4;
    if (c < 0x10000) return 6;
    return 10;
}

// Counts quotes and the escaped length (quotes as 1 each) of a string body.
EscapeLayout scan_str(std::string_view text) {
    EscapeLayout layout;
    // No character grows past ten bytes, so below this size the sum cannot
    // overflow and the per-character check is skipped.
    const bool small = text.size() <= std::numeric_limits<size_t>::max() / 16;
    size_t len = 0;
    bool overflow = false;
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        size_t add;
        if (b < 0x80) {
            if (b == '\'') ++layout.single_quotes;
            if (b == '"') ++layout.double_quotes;
            add = kAsciiLen[b];
            ++i;
        } else {
            size_t start = i;
            char32_t c = next_code_point(text, i);
            add = non_ascii_len(c, i - start);
        }
        if (!small && len > std::numeric_limits<size_t>::max() - add) overflow = true;
        len += add;
    }
    if (!overflow) layout.body_len = len;
    return layout;
}

EscapeLayout scan_bytes(std::string_view bytes) {
    EscapeLayout layout;
    size_t len = 0;
    bool overflow = false;
    for (char ch : bytes) {
        auto b = static_cast<unsigned char>(ch);
        if (b == '\'') ++layout.single_quotes;
        if (b == '"') ++layout.double_quotes;
        size_t add = b < 0x80 ? kAsciiLen[b] : 4;
        if (len > std::numeric_limits<size_t>::max() - add) overflow = true;
        len += add;
    }
    if (!overflow) layout.body_len = len;
    return layout;
}

void add_quote_escapes(EscapeLayout& layout) {
    if (!layout.body_len) return;
    uint32_t escaped = layout.quote == QuoteStyle::Single ? layout.single_quotes : layout.double_quotes;
    if (*layout.body_len > std::numeric_limits<size_t>::max() - escaped) {
        layout.body_len.reset();
    } else {
        *layout.body_len += escaped;
    }
}

void choose_quote(EscapeLayout& layout, QuoteStyle preferred) {
    uint32_t same = preferred == QuoteStyle::Single ? layout.single_quotes : layout.double_quotes;
    uint32_t other = preferred == QuoteStyle::Single ? layout.double_quotes : layout.single_quotes;
    if (same > 0 && other == 0) {
        layout.quote = preferred == QuoteStyle::Single ? QuoteStyle::Double : QuoteStyle::Single;
    } else {
        layout.quote = preferred;
        add_quote_escapes(layout);
    }
}

void append_hex(std::string& out, char prefix, uint32_t value, int digits) {
    out.push_back('\\');
    out.push_back(prefix);
    for (int shift = (digits - 1) * 4; shift >= 0; shift -= 4) out.push_back(kHexDigits[(value >> shift) & 0xF]);
}

// Escape of an ASCII character other than the quote; false when it is written as itself.
bool append_ascii_escape(std::string& out, unsigned char b) {
    switch (b) {
        case '\t': out.append("\\t"); return true;
        case '\n': out.append("\\n"); return true;
        case '\r': out.append("\\r"); return true;
        case '\\': out.append("\\\\"); return true;
        default: break;
    }
    if (b < 32 || b >= 127) {
        append_hex(out, 'x', b, 2);
        return true;
    }
    return false;
}

// Shortest round-trip digits of a finite double: value = 0.d1d2...dn * 10^(exp10 + 1).
struct ShortestDecimal {
    bool negative = false;
    char digits[24] = {};
    int count = 0;
    int exp10 = 0;  // exponent of the first digit
};

ShortestDecimal shortest_decimal(double value) {
    // Shortest scientific form, e.g. "-1.2345e-07"; the digits are laid out
    // by the callers, never by a fixed-precision format.
    char buf[64];
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
    ShortestDecimal d;
    const char* p = buf;
    const char* end = res.ptr;
    if (p < end && *p == '-') {
        d.negative = true;
        ++p;
    }
    for (; p < end && *p != 'e'; ++p) {
        if (*p >= '0' && *p <= '9' && d.count < 23) d.digits[d.count++] = *p;
    }
    if (p < end) {
        ++p;
        int exp = 0;
        auto r = std::from_chars(p + (*p == '+' ? 1 : 0), end, exp);
        if (r.ec != std::errc()) internal_fault("called `Result::unwrap()` on an `Err` value: ParseIntError");
        d.exp10 = exp;
    }
    // Shortest digits carry no trailing zeros except for zero itself.
    while (d.count > 1 && d.digits[d.count - 1] == '0') --d.count;
    return d;
}

// Positional layout of the digits: "123.45", "0.00012", "1500" (no point when
// there is no fraction; `point_zero` then adds ".0").
void append_positional(std::string& out, const ShortestDecimal& d, bool point_zero) {
    if (d.negative) out.push_back('-');
    if (d.exp10 >= 0) {
        int int_digits = d.exp10 + 1;
        if (d.count <= int_digits) {
            out.append(d.digits, static_cast<size_t>(d.count));
            out.append(static_cast<size_t>(int_digits - d.count), '0');
            if (point_zero) out.append(".0");
        } else {
            out.append(d.digits, static_cast<size_t>(int_digits));
            out.push_back('.');
            out.append(d.digits + int_digits, static_cast<size_t>(d.count - int_digits));
        }
    } else {
        out.append("0.");
        out.append(static_cast<size_t>(-d.exp10 - 1), '0');
        out.append(d.digits, static_cast<size_t>(d.count));
    }
}

// The shortest form without exponent, as the imaginary and real parts of a
// complex number print.
void append_plain_decimal(std::string& out, double value) {
    if (std::isnan(value)) {
        out.append("nan");
    } else if (std::isinf(value)) {
        out.append(value < 0 ? "-inf" : "inf");
    } else {
        append_positional(out, shortest_decimal(value), false);
    }
}

}  // namespace

bool is_printable(char32_t c) {
    if (c > 0x10FFFF) return false;
    constexpr uint32_t kPrintable = U_GC_L_MASK | U_GC_M_MASK | U_GC_N_MASK | U_GC_P_MASK | U_GC_S_MASK;
    return (U_GET_GC_MASK(static_cast<UChar32>(c)) & kPrintable) != 0;
}

EscapeLayout str_escape_layout(std::string_view text, QuoteStyle preferred) {
    EscapeLayout layout = scan_str(text);
    choose_quote(layout, preferred);
    return layout;
}

EscapeLayout bytes_escape_layout(std::string_view bytes, QuoteStyle preferred) {
    EscapeLayout layout = scan_bytes(bytes);
    choose_quote(layout, preferred);
    return layout;
}

EscapeLayout str_escape_layout_fixed(std::string_view text, QuoteStyle quote) {
    EscapeLayout layout = scan_str(text);
    layout.quote = quote;
    add_quote_escapes(layout);
    return layout;
}

void escape_str_write(const EscapeLayout& layout, std::string_view text, Generator& g) {
    std::string& out = g.raw_buffer();
    out.reserve(out.size() + layout.body_len.value_or(text.size()));
    const char quote = pyexpr::quote_char(layout.quote);
    for (size_t i = 0; i < text.size();) {
        auto b = static_cast<unsigned char>(text[i]);
        if (b < 0x80) {
            ++i;
            if (b == static_cast<unsigned char>(quote)) {
                out.push_back('\\');
                out.push_back(quote);
            } else if (!append_ascii_escape(out, b)) {
                out.push_back(static_cast<char>(b));
            }
            continue;
        }
        size_t start = i;
        char32_t c = next_code_point(text, i);
        if (c & kMalformedFlag) {
            append_hex(out, 'x', c & 0xFF, 2);
        } else if (is_printable(c)) {
            out.append(text.substr(start, i - start));
        } else if (c < 0x100) {
            append_hex(out, 'x', c, 2);
        } else if (c < 0x10000) {
            append_hex(out, 'u', c, 4);
        } else {
            append_hex(out, 'U', c, 8);
        }
    }
}

void escape_bytes_write(const EscapeLayout& layout, std::string_view bytes, Generator& g) {
    std::string& out = g.raw_buffer();
    out.reserve(out.size() + layout.body_len.value_or(bytes.size()));
    const char quote = pyexpr::quote_char(layout.quote);
    for (char ch : bytes) {
        auto b = static_cast<unsigned char>(ch);
        if (b == static_cast<unsigned char>(quote)) {
            out.push_back('\\');
            out.push_back(quote);
        } else if (!append_ascii_escape(out, b)) {
            out.push_back(ch);
        }
    }
}

void write_str_body(const EscapeLayout& layout, std::string_view text, Generator& g) {
    if (needs_no_escape(layout, text.size())) {
        g.write(text);
    } else {
        escape_str_write(layout, text, g);
    }
}

void write_bytes_body(const EscapeLayout& layout, std::string_view bytes, Generator& g) {
    if (needs_no_escape(layout, bytes.size())) {
        g.write(bytes);
    } else {
        escape_bytes_write(layout, bytes, g);
    }
}

std::string_view quote_text(QuoteStyle style, bool triple) {
    if (style == QuoteStyle::Double) return triple ? "\"\"\"" : "\"";
    return triple ? "'''" : "'";
}

std::string float_to_string(double value) {
    if (std::isnan(value)) return "nan";
    if (std::isinf(value)) return value < 0 ? "-inf" : "inf";
    ShortestDecimal d = shortest_decimal(value);
    std::string out;
    if (d.exp10 >= 16 || d.exp10 <= -5) {
        if (d.negative) out.push_back('-');
        out.push_back(d.digits[0]);
        if (d.count > 1) {
            out.push_back('.');
            out.append(d.digits + 1, static_cast<size_t>(d.count - 1));
        }
        out.push_back('e');
        out.push_back(d.exp10 < 0 ? '-' : '+');
        int mag = d.exp10 < 0 ? -d.exp10 : d.exp10;
        if (mag < 10) out.push_back('0');
        out.append(std::to_string(mag));
        return out;
    }
    // Integral is decided exactly: a value just below an integer keeps its digits.
    const bool integral = value == std::trunc(value);
    append_positional(out, d, integral);
    return out;
}

std::string float_literal_text(double value) {
    if (std::isinf(value)) return "1e309";
    return float_to_string(value);
}

std::string complex_literal_text(double real, double imag) {
    std::string text;
    if (real == 0.0) {
        append_plain_decimal(text, imag);
        text.push_back('j');
    } else {
        text.push_back('(');
        append_plain_decimal(text, real);
        if (!std::signbit(imag) || std::isnan(imag)) text.push_back('+');
        append_plain_decimal(text, imag);
        text.append("j)");
    }
    if (std::isinf(real) || std::isinf(imag)) return replace_infinity(text);
    return text;
}

std::string replace_infinity(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 4);
    for (size_t i = 0; i < text.size();) {
        if (text.compare(i, 3, "inf") == 0) {
            out.append("1e309");
            i += 3;
        } else {
            out.push_back(text[i++]);
        }
    }
    return out;
}

}  // namespace lumra::codegen
