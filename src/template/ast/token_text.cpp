#include "template/ast/token_text.h"

#include <cstring>
#include <functional>
#include <new>

namespace lumra::template_ast {

TokenText::TokenText(std::string_view text) {
  if (text.empty()) return;
  void* memory = ::operator new(sizeof(Buffer) + text.size());
  buffer_ = new (memory) Buffer{1};
  char* bytes = reinterpret_cast<char*>(buffer_ + 1);
  std::memcpy(bytes, text.data(), text.size());
  data_ = bytes;
  size_ = text.size();
}

TokenText TokenText::slice_of(const TokenText& whole, std::string_view part) {
  // Compared as addresses of one array only when inside it: std::less gives
  // a total order over unrelated pointers too.
  const std::less<const char*> before;
  const bool inside = whole.buffer_ && !before(part.data(), whole.data_) &&
                      !before(whole.data_ + whole.size_, part.data() + part.size());
  if (!inside || part.empty()) return TokenText(part);
  TokenText out;
  out.buffer_ = whole.buffer_;
  out.data_ = part.data();
  out.size_ = part.size();
  out.retain();
  return out;
}

void TokenText::release() noexcept {
  if (buffer_ && buffer_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) {
    buffer_->~Buffer();
    ::operator delete(buffer_);
  }
  buffer_ = nullptr;
}

}  // namespace lumra::template_ast
