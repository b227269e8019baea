// The quoted, escaped text form in which strings and characters appear inside
// the debug renderings (reprs of syntax-tree records, parser messages): double
// quotes for text, single quotes for a character, backslash escapes for \0 \t
// \r \n \\ and the delimiter, and \u{hex} for every character that does not
// print as itself.
#pragma once

#include <string>
#include <string_view>

namespace lumra::text {

// Malformed UTF-8 in `utf8` is written as U+FFFD, one per bad byte, so the
// output is always valid UTF-8.
void append_debug_str(std::string& out, std::string_view utf8);
void append_debug_char(std::string& out, char32_t c);

// True for characters written as \u{...}: controls, format characters,
// surrogates, private use, unassigned, separators other than the ASCII space,
// and grapheme extenders (which would otherwise combine with the quote).
bool needs_debug_escape(char32_t c);

}  // namespace lumra::text
