#include "text/debug_escape.h"

#include <unicode/uchar.h>

#include <charconv>
#include <cstdint>

#include "text/utf8.h"

namespace lumra::text {

namespace {

void append_unicode_escape(std::string& out, char32_t c) {
  char buf[16];
  const auto res = std::to_chars(buf, buf + sizeof buf, static_cast<std::uint32_t>(c), 16);
  out += "\\u{";
  out.append(buf, res.ptr);
  out += '}';
}

// One character inside quotes; `quote` is the delimiter that must be escaped.
void append_escaped(std::string& out, char32_t c, char quote) {
  switch (c) {
    case U'\0': out += "\\0"; return;
    case U'\t': out += "\\t"; return;
    case U'\r': out += "\\r"; return;
    case U'\n': out += "\\n"; return;
    case U'\\': out += "\\\\"; return;
    default: break;
  }
  if (c == static_cast<char32_t>(quote)) {
    out += '\\';
    out += quote;
  } else if (needs_debug_escape(c)) {
    append_unicode_escape(out, c);
  } else {
    utf8::append(out, c);
  }
}

}  // namespace

bool needs_debug_escape(char32_t c) {
  if (c < 0x80) return c < 0x20 || c == 0x7F;
  switch (u_charType(static_cast<UChar32>(c))) {
    case U_CONTROL_CHAR:
    case U_FORMAT_CHAR:
    case U_SURROGATE:
    case U_PRIVATE_USE_CHAR:
    case U_UNASSIGNED:
    case U_SPACE_SEPARATOR:
    case U_LINE_SEPARATOR:
    case U_PARAGRAPH_SEPARATOR:
      return true;
    default:
      break;
  }
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_GRAPHEME_EXTEND) != 0;
}

void append_debug_str(std::string& out, std::string_view s) {
  out += '"';
  std::size_t i = 0;
  while (i < s.size()) {
    // Copy runs of plain printable ASCII at once.
    std::size_t j = i;
    while (j < s.size()) {
      const auto b = static_cast<unsigned char>(s[j]);
      if (b < 0x20 || b >= 0x7F || b == '"' || b == '\\') break;
      ++j;
    }
    out.append(s.data() + i, j - i);
    i = j;
    if (i < s.size()) {
      std::uint32_t len = 0;
      const char32_t c = utf8::decode(s, i, len);
      i += len;
      append_escaped(out, c, '"');
    }
  }
  out += '"';
}

void append_debug_char(std::string& out, char32_t c) {
  out += '\'';
  append_escaped(out, c, '\'');
  out += '\'';
}

}  // namespace lumra::text
