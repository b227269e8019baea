#include "template/grammar/unicode.h"

#include <unicode/uchar.h>

namespace lumra::grammar {

bool is_xid_start(char32_t c) noexcept {
  if (c < 0x80) return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_START) != 0;
}

bool is_xid_continue(char32_t c) noexcept {
  if (c < 0x80) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_';
  }
  return u_hasBinaryProperty(static_cast<UChar32>(c), UCHAR_XID_CONTINUE) != 0;
}

}  // namespace lumra::grammar
