// Decoding of string literal bodies: escapes of plain strings, bytes and the
// literal stretches of f-strings and t-strings. All error ranges are absolute
// source offsets. Decoding stops at the first error.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "pyexpr/lexical_error.h"
#include "pyexpr/string_flags.h"
#include "pyexpr/text_size.h"

namespace lumra::pyexpr {

// Whether `\N{...}` escapes look their names up (see char_names.h). A parse
// reports its first error only, so once it has one, later literals skip the
// lookups: a skipped escape stands for nothing and is no error (one without
// its braces still is).
enum class NamedEscapes : bool { Look, Skip };

// A plain string body (the raw text between the quotes; `body_start` is its
// offset in the source; `flags` those of the String token, without b/f/t).
// Writes the decoded text to `out` (replacing its content); returns the first
// error, if any (then `out` is unspecified).
std::optional<LexicalError> decode_string(std::string_view body, TextSize body_start, StringTokenFlags flags,
                                          std::string& out, NamedEscapes names = NamedEscapes::Look);

// A bytes body: NonAsciiBytes for a non-ASCII character, then escapes as
// bytes (\u, \U and \N kept as written). `out` receives the bytes.
std::optional<LexicalError> decode_bytes(std::string_view body, TextSize body_start, StringTokenFlags flags,
                                         std::string& out);

// A literal stretch of an f-string or t-string, given as the SOURCE text of the
// FStringMiddle/TStringMiddle token (its range sliced from the source) and the
// token's start. Reduces doubled braces like the lexer did and, unless the
// string is raw, decodes escapes; error ranges are therefore exact.
std::optional<LexicalError> decode_interpolated_literal(std::string_view source_text, TextSize start,
                                                        StringTokenFlags flags, std::string& out,
                                                        NamedEscapes names = NamedEscapes::Look);

}  // namespace lumra::pyexpr
