// Byte classes and name comparisons shared by the HTML scanners.
//
// Everything here works on bytes of UTF-8 text and is independent of the
// locale: classes come from one constexpr table, and case folding touches
// only the ASCII letters A-Z.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "template/ast/names.h"

namespace lumra::html {

enum CharClass : std::uint8_t {
  kXmlSpace = 1 << 0,    // space, tab, LF, CR (the XML reader's whitespace)
  kHtmlSpace = 1 << 1,   // the same plus form feed (the marking scanner's whitespace)
  kAsciiAlpha = 1 << 2,  // A-Z, a-z
};

namespace detail {
constexpr std::array<std::uint8_t, 256> make_char_classes() {
  std::array<std::uint8_t, 256> table{};
  for (unsigned char c : {' ', '\t', '\n', '\r'}) table[c] |= kXmlSpace;
  for (unsigned char c : {' ', '\t', '\n', '\f', '\r'}) table[c] |= kHtmlSpace;
  for (int c = 'a'; c <= 'z'; ++c) table[c] |= kAsciiAlpha;
  for (int c = 'A'; c <= 'Z'; ++c) table[c] |= kAsciiAlpha;
  return table;
}
}  // namespace detail

inline constexpr std::array<std::uint8_t, 256> kCharClasses = detail::make_char_classes();

constexpr bool has_class(char c, std::uint8_t cls) {
  return (kCharClasses[static_cast<unsigned char>(c)] & cls) != 0;
}
constexpr bool is_xml_space(char c) { return has_class(c, kXmlSpace); }
constexpr bool is_html_space(char c) { return has_class(c, kHtmlSpace); }
constexpr bool is_ascii_alpha(char c) { return has_class(c, kAsciiAlpha); }

constexpr char ascii_lower(char c) {
  return (c >= 'A' && c <= 'Z') ? static_cast<char>(c + ('a' - 'A')) : c;
}

// Equal under ASCII case folding: lengths equal, A-Z matched to a-z, every
// other byte exactly.
constexpr bool ascii_iequal(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
  }
  return true;
}

// The 14 void element names, as in the module's HTML_VOID_ELEMENTS.
using template_ast::kHtmlVoidElements;

// A void element name under ASCII case folding ("BR" and "Br" are void).
constexpr bool is_void_name(std::string_view name) {
  // Every void name has 2 to 6 bytes; most tag names are rejected here.
  if (name.size() < 2 || name.size() > 6) return false;
  for (std::string_view v : kHtmlVoidElements) {
    if (ascii_iequal(name, v)) return true;
  }
  return false;
}

}  // namespace lumra::html
