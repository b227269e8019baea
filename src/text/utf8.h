// Small UTF-8 helpers shared by the lexers, the string decoder and the debug
// renderings of both syntax trees.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

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

// What a decoded copy of a text needs: its length in characters (bytes that
// are not continuation bytes) and its largest byte, which bounds its widest
// character (below 0x80: ASCII; below 0xC4: up to U+00FF; below 0xF0: the
// Basic Multilingual Plane). Exact for valid UTF-8 only.
struct Measure {
    size_t chars = 0;
    unsigned char max_byte = 0;
};

inline Measure measure(std::string_view text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    size_t continuations = 0;
    unsigned char max_byte = 0;
#if defined(__SSE2__)
    // Per-byte counters of continuation bytes, summed before they can wrap.
    const __m128i lowest_lead = _mm_set1_epi8(static_cast<char>(0xC0));
    __m128i widest = _mm_setzero_si128();
    __m128i sums = _mm_setzero_si128();
    while (n - i >= 16) {
        __m128i counts = _mm_setzero_si128();
        for (int k = 0; k < 255 && n - i >= 16; ++k, i += 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            widest = _mm_max_epu8(widest, x);
            // As signed bytes, 10xxxxxx are exactly those below 0xC0 (-64).
            const __m128i cont = _mm_cmplt_epi8(x, lowest_lead);
            counts = _mm_sub_epi8(counts, cont);
        }
        sums = _mm_add_epi64(sums, _mm_sad_epu8(counts, _mm_setzero_si128()));
    }
    continuations += static_cast<size_t>(_mm_cvtsi128_si64(sums)) +
                     static_cast<size_t>(_mm_cvtsi128_si64(_mm_unpackhi_epi64(sums, sums)));
    alignas(16) unsigned char lanes[16];
    _mm_store_si128(reinterpret_cast<__m128i*>(lanes), widest);
    for (unsigned char b : lanes) max_byte = b > max_byte ? b : max_byte;
#endif
    for (; i < n; ++i) {
        continuations += is_continuation(p[i]);
        max_byte = p[i] > max_byte ? p[i] : max_byte;
    }
    return {n - continuations, max_byte};
}

// Decodes `text` into code units of type `Unit` (1, 2 or 4 bytes), writing at
// most `capacity` of them. Returns how many it wrote, or `capacity + 1` when
// the text is not valid UTF-8, holds a character wider than `Unit` or needs
// more room: the caller then takes the slow path that reports the fault.
template <class Unit>
size_t decode_into(std::string_view text, Unit* out, size_t capacity) {
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    const size_t n = text.size();
    const size_t failed = capacity + 1;
    size_t i = 0;
    size_t o = 0;
    while (i < n) {
#if defined(__SSE2__)
        // Runs of ASCII, sixteen bytes at a time, widened to the unit.
        if (n - i >= 16 && capacity - o >= 16) {
            const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
            const int non_ascii = _mm_movemask_epi8(x);
            if (non_ascii == 0) {
                if constexpr (sizeof(Unit) == 1) {
                    _mm_storeu_si128(reinterpret_cast<__m128i*>(out + o), x);
                } else {
                    const __m128i zero = _mm_setzero_si128();
                    const __m128i lo = _mm_unpacklo_epi8(x, zero);
                    const __m128i hi = _mm_unpackhi_epi8(x, zero);
                    auto* to = reinterpret_cast<__m128i*>(out + o);
                    if constexpr (sizeof(Unit) == 2) {
                        _mm_storeu_si128(to, lo);
                        _mm_storeu_si128(to + 1, hi);
                    } else {
                        _mm_storeu_si128(to, _mm_unpacklo_epi16(lo, zero));
                        _mm_storeu_si128(to + 1, _mm_unpackhi_epi16(lo, zero));
                        _mm_storeu_si128(to + 2, _mm_unpacklo_epi16(hi, zero));
                        _mm_storeu_si128(to + 3, _mm_unpackhi_epi16(hi, zero));
                    }
                }
                i += 16;
                o += 16;
                continue;
            }
            // The ASCII bytes before the first other one, then that character.
            const auto ascii = static_cast<size_t>(__builtin_ctz(static_cast<unsigned>(non_ascii)));
            for (size_t k = 0; k < ascii; ++k) out[o + k] = static_cast<Unit>(p[i + k]);
            i += ascii;
            o += ascii;
        }
#endif
        if (o == capacity) return failed;
        if (p[i] < 0x80) {
            out[o++] = static_cast<Unit>(p[i++]);
            continue;
        }
        uint32_t len = 0;
        const char32_t c = decode(text, i, len);
        if (len == 1 || c > static_cast<char32_t>(Unit(~Unit(0)))) return failed;  // malformed, or too wide
        out[o++] = static_cast<Unit>(c);
        i += len;
    }
    return o;
}

}  // namespace lumra::text::utf8
