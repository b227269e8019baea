// Finds the `#` comments of a Python expression text.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

namespace lumra::safe_eval {

// One `#` comment: `hash` is the offset of the `#`, `end` the offset one past the
// last byte of its text (the next LF or CR, or the end of the input).
struct CommentSpan {
    std::uint32_t hash;
    std::uint32_t end;
};

// One forward pass that skips string literals and collects comments.  It knows no
// string prefixes and nothing of quotes nested in f-string fields: a quote always
// opens or closes a string, a backslash inside a string always escapes the next byte.
// A string still open at the end of the text is left open without complaint.
std::vector<CommentSpan> scan_comments(std::string_view text);

// Offset just past the string literal whose opening quote is at `quote_at`
// (three in a row open a triple-quoted one), or text.size() when it is left
// open: the same rules as scan_comments (no prefixes; a backslash always takes
// the next byte along, so in raw strings too it never closes one).
std::size_t string_literal_end(std::string_view text, std::size_t quote_at);

}  // namespace lumra::safe_eval
