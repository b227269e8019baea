// Comment scanner: one pass over the bytes, outside or inside a string literal.
#include "safe_eval/comments.h"

#include <cstring>

namespace lumra::safe_eval {

namespace {

// Bytes that change the scanner's state outside a string.
constexpr bool is_outside_stop(unsigned char b) { return b == '#' || b == '"' || b == '\''; }

// Offset of the first LF or CR at or after `from`, or `size`.
std::size_t line_end(std::string_view text, std::size_t from) {
    const char* data = text.data();
    for (std::size_t i = from; i < text.size(); ++i) {
        if (data[i] == '\n' || data[i] == '\r') return i;
    }
    return text.size();
}

}  // namespace

std::vector<CommentSpan> scan_comments(std::string_view text) {
    std::vector<CommentSpan> out;
    // Nearly every expression has no `#` at all; then there is nothing to find.
    if (text.empty() || std::memchr(text.data(), '#', text.size()) == nullptr) return out;

    const std::size_t n = text.size();
    std::size_t i = 0;
    while (i < n) {
        const auto b = static_cast<unsigned char>(text[i]);
        if (!is_outside_stop(b)) {
            ++i;
            continue;
        }
        if (b == '#') {
            const std::size_t end = line_end(text, i + 1);
            out.push_back({static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(end)});
            i = end;
            continue;
        }
        i = string_literal_end(text, i);
    }
    return out;
}

std::size_t string_literal_end(std::string_view text, std::size_t quote_at) {
    const std::size_t n = text.size();
    const char quote = text[quote_at];
    std::size_t count = 1;
    if (quote_at + 2 < n && text[quote_at + 1] == quote && text[quote_at + 2] == quote) count = 3;
    std::size_t i = quote_at + count;
    while (i < n) {
        const char c = text[i];
        if (c == '\\' && i + 1 < n) {
            i += 2;
            continue;
        }
        if (c == quote) {
            std::size_t run = 0;
            while (run < count && i + run < n && text[i + run] == quote) ++run;
            if (run == count) return i + count;
        }
        ++i;
    }
    return n;
}

}  // namespace lumra::safe_eval
