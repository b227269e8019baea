// Small UTF-8 helpers shared by the lexers, the string decoder and the debug
// renderings of both syntax trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

namespace lumra::text::utf8 {

inline void append(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

inline constexpr bool is_continuation(unsigned char b) { return (b & 0xC0) == 0x80; }

// Characters in `text`: the bytes that are not continuation bytes, counted a
// word at a time (positions of long lines are counted this way).
inline size_t count_chars(std::string_view text) {
    const char* p = text.data();
    size_t n = text.size();
    size_t continuations = 0;
    constexpr uint64_t kHigh = 0x8080808080808080ULL;
    while (n >= 8) {
        uint64_t word;
        std::memcpy(&word, p, 8);
        // A continuation byte is 10xxxxxx: bit 7 set and bit 6 clear.
        const uint64_t cont = word & ~(word << 1) & kHigh;
        // One bit per byte at most: a multiply sums them into the top byte
        // (a popcount would be a library call without -mpopcnt).
        continuations += static_cast<size_t>(((cont >> 7) * 0x0101010101010101ULL) >> 56);
        p += 8;
        n -= 8;
    }
    for (; n > 0; --n, ++p) continuations += is_continuation(static_cast<unsigned char>(*p));
    return text.size() - continuations;
}

// Decodes the character at `i` and sets `len` to its byte length. A malformed
// sequence decodes as U+FFFD of length 1, so callers always make progress.
inline char32_t decode(std::string_view s, size_t i, uint32_t& len) {
    const auto b0 = static_cast<unsigned char>(s[i]);
    auto cont = [&](size_t k) -> int {
        if (i + k >= s.size()) return -1;
        const auto b = static_cast<unsigned char>(s[i + k]);
        return is_continuation(b) ? (b & 0x3F) : -1;
    };
    len = 1;
    if (b0 < 0x80) return b0;
    if (b0 >= 0xC2 && b0 < 0xE0) {
        const int c1 = cont(1);
        if (c1 >= 0) {
            len = 2;
            return (char32_t(b0 & 0x1F) << 6) | char32_t(c1);
        }
    } else if (b0 >= 0xE0 && b0 < 0xF0) {
        const int c1 = cont(1), c2 = cont(2);
        if (c1 >= 0 && c2 >= 0) {
            const char32_t c = (char32_t(b0 & 0x0F) << 12) | (char32_t(c1) << 6) | char32_t(c2);
            if (c >= 0x800 && (c < 0xD800 || c > 0xDFFF)) {
                len = 3;
                return c;
            }
        }
    } else if (b0 >= 0xF0 && b0 < 0xF5) {
        const int c1 = cont(1), c2 = cont(2), c3 = cont(3);
        if (c1 >= 0 && c2 >= 0 && c3 >= 0) {
            const char32_t c =
                (char32_t(b0 & 0x07) << 18) | (char32_t(c1) << 12) | (char32_t(c2) << 6) | char32_t(c3);
            if (c >= 0x10000 && c <= 0x10FFFF) {
                len = 4;
                return c;
            }
        }
    }
    return 0xFFFD;
}

}  // namespace lumra::text::utf8
