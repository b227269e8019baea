// Shared by the harnesses whose entry points take UTF-8 text: the module only
// ever passes them the UTF-8 of a Python str, so other byte strings are not
// inputs they have to handle.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string_view>

namespace lumra::fuzz {

// Well-formed UTF-8 as Python produces it: no overlong forms, no surrogates,
// nothing above U+10FFFF.
inline bool is_valid_utf8(std::string_view text) noexcept {
  const auto* s = reinterpret_cast<const unsigned char*>(text.data());
  const std::size_t n = text.size();
  std::size_t i = 0;
  while (i < n) {
    const unsigned char c = s[i];
    if (c < 0x80) {
      ++i;
      continue;
    }
    std::size_t len;
    std::uint32_t cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (std::size_t k = 1; k < len; ++k) {
      if ((s[i + k] & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (s[i + k] & 0x3F);
    }
    if ((len == 3 && cp < 0x800) || (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)) ||
        (cp >= 0xD800 && cp <= 0xDFFF)) {
      return false;
    }
    i += len;
  }
  return true;
}

inline bool is_char_boundary(std::string_view text, std::size_t offset) noexcept {
  if (offset >= text.size()) return offset == text.size();
  return (static_cast<unsigned char>(text[offset]) & 0xC0) != 0x80;
}

// A broken invariant: report it and abort, so libFuzzer keeps the input.
[[noreturn]] inline void fail(const char* file, int line, const char* what) {
  std::fprintf(stderr, "%s:%d: invariant broken: %s\n", file, line, what);
  std::abort();
}

}  // namespace lumra::fuzz

#define FUZZ_CHECK(cond) \
  do {                   \
    if (!(cond)) ::lumra::fuzz::fail(__FILE__, __LINE__, #cond); \
  } while (0)
