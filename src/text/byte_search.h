// Finding the next of a few given bytes in a text: the scanners spend most of
// their time skipping plain text up to a markup or escape byte.
#pragma once

#include <cstddef>
#include <string_view>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace lumra::text {

// Index of the first byte at or after `from` equal to one of `bytes`, or
// s.size() when there is none. Sixteen bytes at a time where SSE2 exists.
template <class... Bytes>
inline std::size_t find_first_of_bytes(std::string_view s, std::size_t from, Bytes... bytes) {
  static_assert(sizeof...(Bytes) > 0);
  const char* p = s.data();
  const std::size_t n = s.size();
  std::size_t i = from;
#if defined(__SSE2__)
  if (i < n && n - i >= 16) {
    const __m128i wanted[] = {_mm_set1_epi8(static_cast<char>(bytes))...};
    for (; i + 16 <= n; i += 16) {
      const __m128i x = _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + i));
      __m128i hit = _mm_cmpeq_epi8(x, wanted[0]);
      for (std::size_t k = 1; k < sizeof...(Bytes); ++k) hit = _mm_or_si128(hit, _mm_cmpeq_epi8(x, wanted[k]));
      if (const int mask = _mm_movemask_epi8(hit); mask != 0) {
        return i + static_cast<std::size_t>(__builtin_ctz(static_cast<unsigned>(mask)));
      }
    }
  }
#endif
  for (; i < n; ++i) {
    if (((p[i] == static_cast<char>(bytes)) || ...)) return i;
  }
  return n;
}

}  // namespace lumra::text
