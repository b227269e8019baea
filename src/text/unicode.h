// Unicode operations on UTF-8 text that the template parser and compiler share:
// NFKC (how variable names are compared), full lower-casing (user rules and
// component names) and White_Space (trimming of attribute values and texts).
//
// Each has an ASCII fast path: template names are nearly always ASCII, and
// ASCII text is its own NFKC form.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace lumra::text {

bool is_ascii(std::string_view s) noexcept;

// NFKC normal form. Malformed UTF-8 is returned unchanged.
std::string nfkc(std::string_view s);

// Full Unicode lower-casing (root locale); ASCII letters map as usual.
std::string unicode_lower(std::string_view s);

// The Unicode White_Space property: tab, line feed, vertical tab, form feed,
// carriage return, space, U+0085, U+00A0, U+1680, U+2000..U+200A, U+2028,
// U+2029, U+202F, U+205F, U+3000.
constexpr bool is_white_space(char32_t c) noexcept {
  if (c < 0x80) return c == ' ' || (c >= 0x09 && c <= 0x0D);
  return c == 0x85 || c == 0xA0 || c == 0x1680 || (c >= 0x2000 && c <= 0x200A) || c == 0x2028 || c == 0x2029 ||
         c == 0x202F || c == 0x205F || c == 0x3000;
}

// Bytes of White_Space at the start / end of `s`.
std::size_t leading_white_space(std::string_view s) noexcept;
std::size_t trailing_white_space(std::string_view s) noexcept;

// `s` without White_Space at both ends.
inline std::string_view trim_white_space(std::string_view s) noexcept {
  const std::size_t lead = leading_white_space(s);
  s.remove_prefix(lead);
  s.remove_suffix(trailing_white_space(s));
  return s;
}

// Empty after trimming White_Space.
inline bool is_blank(std::string_view s) noexcept { return leading_white_space(s) == s.size(); }

}  // namespace lumra::text
