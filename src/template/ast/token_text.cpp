#include "template/ast/token_text.h"

#include <cstring>
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

void TokenText::release() noexcept {
  if (buffer_ && buffer_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) free_buffer(buffer_);
  buffer_ = nullptr;
}

void TokenText::free_buffer(Buffer* buffer) noexcept {
  buffer->~Buffer();
  ::operator delete(buffer);
}

}  // namespace lumra::template_ast
