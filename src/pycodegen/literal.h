// Literal text for the expression printer: escaping of string and bytes
// bodies with the choice of quote, and the text of numbers.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "pyexpr/string_flags.h"

namespace lumra::codegen {

class Generator;

// The result of one pass over a body: the quote counts, the quote to print
// with, and the length of the escaped body without its quotes (absent when the
// count overflowed).
struct EscapeLayout {
    uint32_t single_quotes = 0;
    uint32_t double_quotes = 0;
    pyexpr::QuoteStyle quote = pyexpr::QuoteStyle::Single;
    std::optional<size_t> body_len;
};

// Printable: a letter, mark, number, punctuation or symbol (by the Unicode
// general category); separators, controls, format, surrogate, private-use and
// unassigned characters are not.
bool is_printable(char32_t c);

// Layouts with the quote chosen: the preferred quote unless the body holds it
// and not the other one.
EscapeLayout str_escape_layout(std::string_view text, pyexpr::QuoteStyle preferred);
EscapeLayout bytes_escape_layout(std::string_view bytes, pyexpr::QuoteStyle preferred);
// Layout that keeps `quote` whatever the body holds (f-string and t-string
// literal text, whose delimiters are fixed).
EscapeLayout str_escape_layout_fixed(std::string_view text, pyexpr::QuoteStyle quote);

// True when the escaped body is the body itself.
inline bool needs_no_escape(const EscapeLayout& layout, size_t body_size) {
    return layout.body_len && *layout.body_len == body_size;
}

// Append the escaped body, escaping the layout's quote.
void escape_str_write(const EscapeLayout& layout, std::string_view text, Generator& g);
void escape_bytes_write(const EscapeLayout& layout, std::string_view bytes, Generator& g);

// The body unchanged when nothing needs escaping, else escaped.
void write_str_body(const EscapeLayout& layout, std::string_view text, Generator& g);
void write_bytes_body(const EscapeLayout& layout, std::string_view bytes, Generator& g);

// One quote or three of the given style.
std::string_view quote_text(pyexpr::QuoteStyle style, bool triple);

// Shortest text that reads back as the same double, laid out as Python's
// repr does: positional from 1e-4 up to below 1e16 (".0" on integral values),
// exponent form outside ("1e+16", "1.5e-07"); "nan", "inf", "-inf".
std::string float_to_string(double value);
// The float literal text: as float_to_string, an infinity as "1e309".
std::string float_literal_text(double value);
// A complex number: "2j", "1.5j", "(1+2j)"; infinities as 1e309.
std::string complex_literal_text(double real, double imag);
// Every "inf" replaced by "1e309".
std::string replace_infinity(std::string_view text);

}  // namespace lumra::codegen
