#include "text/unicode.h"

#include <unicode/bytestream.h>
#include <unicode/normalizer2.h>
#include <unicode/stringpiece.h>
#include <unicode/locid.h>
#include <unicode/unistr.h>

#include "text/utf8.h"

namespace lumra::text {

bool is_ascii(std::string_view s) noexcept {
  for (const char c : s) {
    if (static_cast<unsigned char>(c) >= 0x80) return false;
  }
  return true;
}

std::string nfkc(std::string_view s) {
  if (is_ascii(s)) return std::string(s);
  UErrorCode status = U_ZERO_ERROR;
  const icu::Normalizer2* norm = icu::Normalizer2::getNFKCInstance(status);
  if (U_FAILURE(status)) return std::string(s);
  std::string out;
  icu::StringByteSink<std::string> sink(&out);
  norm->normalizeUTF8(0, icu::StringPiece(s.data(), static_cast<int32_t>(s.size())), sink, nullptr, status);
  if (U_FAILURE(status)) return std::string(s);
  return out;
}

std::string unicode_lower(std::string_view s) {
  if (is_ascii(s)) {
    std::string out(s);
    for (char& c : out) {
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    }
    return out;
  }
  icu::UnicodeString u = icu::UnicodeString::fromUTF8(icu::StringPiece(s.data(), static_cast<int32_t>(s.size())));
  u.toLower(icu::Locale::getRoot());
  std::string out;
  u.toUTF8String(out);
  return out;
}

std::size_t leading_white_space(std::string_view s) noexcept {
  std::size_t i = 0;
  while (i < s.size()) {
    std::uint32_t len = 1;
    const char32_t c = utf8::decode(s, i, len);
    if (!is_white_space(c)) break;
    i += len;
  }
  return i;
}

std::size_t trailing_white_space(std::string_view s) noexcept {
  std::size_t end = s.size();
  while (end > 0) {
    // Step back to the first byte of the last character.
    std::size_t start = end - 1;
    while (start > 0 && utf8::is_continuation(static_cast<unsigned char>(s[start]))) --start;
    std::uint32_t len = 1;
    const char32_t c = utf8::decode(s, start, len);
    if (start + len != end || !is_white_space(c)) break;
    end = start;
  }
  return s.size() - end;
}

}  // namespace lumra::text
