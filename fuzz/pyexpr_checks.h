// Checks shared by the expression harnesses (header-only: every fuzz_*.cpp is
// its own program).
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

#include "harness.h"

namespace lumra::fuzz {

// Every "range: a..b" field of a debug rendering lies within 0..limit. The
// texts of literals (double-quoted, with escapes) are skipped: they may hold
// anything, "range: " included.
inline void check_debug_ranges(std::string_view debug, std::size_t limit) {
  constexpr std::string_view kKey = "range: ";
  auto number = [&](std::size_t& i) {
    std::size_t v = 0;
    while (i < debug.size() && debug[i] >= '0' && debug[i] <= '9') v = v * 10 + (debug[i++] - '0');
    return v;
  };
  std::size_t i = 0;
  while (i < debug.size()) {
    const char c = debug[i];
    if (c == '"') {
      for (++i; i < debug.size() && debug[i] != '"'; ++i) {
        if (debug[i] == '\\') ++i;
      }
      ++i;
      continue;
    }
    if (c == 'r' && debug.substr(i, kKey.size()) == kKey && i >= 2 &&
        (debug.substr(i - 2, 2) == ", " || debug.substr(i - 2, 2) == "{ ")) {
      i += kKey.size();
      const std::size_t a_at = i;
      const std::size_t a = number(i);
      FUZZ_CHECK(i > a_at && debug.substr(i, 2) == "..");
      i += 2;
      const std::size_t b_at = i;
      const std::size_t b = number(i);
      FUZZ_CHECK(i > b_at);
      FUZZ_CHECK(a <= b && b <= limit);
      continue;
    }
    ++i;
  }
}

// Skips a balanced `{ ... }` starting at `i` (which is at '{'), honouring the
// double-quoted texts of the debug form.
inline std::size_t skip_braces(std::string_view s, std::size_t i) {
  int depth = 0;
  bool in_str = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (in_str) {
      if (c == '\\') ++i;
      else if (c == '"') in_str = false;
      continue;
    }
    if (c == '"') in_str = true;
    else if (c == '{') ++depth;
    else if (c == '}' && --depth == 0) return i + 1;
  }
  return s.size();
}

inline std::string normalise_debug_fields(std::string_view s) {
  std::string out;
  out.reserve(s.size());
  bool in_str = false;
  std::size_t i = 0;
  auto skip_field = [&](std::string_view key, auto&& skip_value) {
    if (s.substr(i, key.size()) != key) return false;
    if (i < 2 || (s.substr(i - 2, 2) != ", " && s.substr(i - 2, 2) != "{ ")) return false;
    std::size_t j = skip_value(i + key.size());
    if (s.substr(j, 2) == ", ") j += 2;
    else if (!out.empty() && out.size() >= 2 && out.substr(out.size() - 2) == ", ") out.resize(out.size() - 2);
    i = j;
    return true;
  };
  auto word = [&](std::size_t j) {
    while (j < s.size() && ((s[j] >= '0' && s[j] <= '9') || s[j] == '.' || (s[j] >= 'a' && s[j] <= 'z'))) ++j;
    return j;
  };
  auto call = [&](std::size_t j) {  // NodeIndex(None), NodeIndex(Some(3))
    int depth = 0;
    for (; j < s.size(); ++j) {
      if (s[j] == '(') ++depth;
      else if (s[j] == ')' && --depth == 0) return j + 1;
    }
    return j;
  };
  auto flags_value = [&](std::size_t j) {
    while (j < s.size() && s[j] != '{') ++j;
    return skip_braces(s, j);
  };
  while (i < s.size()) {
    const char c = s[i];
    if (in_str) {
      out.push_back(c);
      if (c == '\\' && i + 1 < s.size()) out.push_back(s[++i]);
      else if (c == '"') in_str = false;
      ++i;
      continue;
    }
    if (c == '"') {
      in_str = true;
      out.push_back(c);
      ++i;
      continue;
    }
    if (skip_field("range: ", word) || skip_field("node_index: ", call) ||
        skip_field("parenthesized: ", word) || skip_field("flags: ", flags_value)) {
      continue;
    }
    out.push_back(c);
    ++i;
  }
  return out;
}

// Removes every occurrence of `item` from a debug list, with its separator.
inline void erase_list_items(std::string& s, std::string_view item) {
  std::size_t at;
  while ((at = s.find(item)) != std::string::npos) {
    std::size_t from = at;
    std::size_t to = at + item.size();
    if (s.compare(to, 2, ", ") == 0) to += 2;
    else if (from >= 2 && s.compare(from - 2, 2, ", ") == 0) from -= 2;
    s.erase(from, to - from);
  }
}

// The debug rendering without what printing is free to change: ranges, node
// indexes, literal flags (quotes, prefixes), whether a tuple or generator was
// written in parentheses, and empty literal parts of f- and t-strings (a line
// continuation inside the string leaves one; printing has nothing to write).
inline std::string normalise_debug(std::string_view s) {
  std::string out = normalise_debug_fields(s);
  erase_list_items(out, "Literal(InterpolatedStringLiteralElement { value: \"\" })");
  return out;
}

}  // namespace lumra::fuzz
