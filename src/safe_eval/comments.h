// Finds the `#` comments of a Python expression text.
#pragma once

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

}  // namespace lumra::safe_eval
