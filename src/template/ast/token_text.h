// The text of a token: a view into a reference-counted buffer.
//
// A parse copies its input into one buffer and every token of the tree views
// into it, so making, copying and dropping a token allocates nothing. A text
// made from anything else (a Python string, a name the compiler writes) gets a
// buffer of its own. A token kept alive keeps its whole buffer alive, as with
// any view into a source. The count is atomic: trees may be copied on several
// threads at once.
#pragma once

#include <fmt/core.h>

#include <atomic>
#include <compare>
#include <cstddef>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>
#include <utility>

namespace lumra::template_ast {

class TokenText {
 public:
  TokenText() noexcept = default;
  // A copy of `text` in a buffer of its own (none for an empty text).
  TokenText(std::string_view text);  // NOLINT: implicit, a token's text is assigned from any string
  TokenText(const std::string& text) : TokenText(std::string_view(text)) {}  // NOLINT
  TokenText(const char* text) : TokenText(std::string_view(text)) {}         // NOLINT

  TokenText(const TokenText& other) noexcept : buffer_(other.buffer_), data_(other.data_), size_(other.size_) {
    retain();
  }
  TokenText(TokenText&& other) noexcept : buffer_(other.buffer_), data_(other.data_), size_(other.size_) {
    other.buffer_ = nullptr;
    other.data_ = nullptr;
    other.size_ = 0;
  }
  TokenText& operator=(const TokenText& other) noexcept {
    TokenText copy(other);
    swap(copy);
    return *this;
  }
  TokenText& operator=(TokenText&& other) noexcept {
    TokenText moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~TokenText() {
    if (buffer_) release();
  }

  // `part` sharing `whole`'s buffer when it lies inside it, else a copy.
  // Inline: the parser makes one for every token it reads.
  static TokenText slice_of(const TokenText& whole, std::string_view part) {
    if (!whole.holds(part)) [[unlikely]] return TokenText(part);
    TokenText out = whole.unowned_slice(part);
    out.retain();
    return out;
  }

  std::string_view view() const noexcept { return {data_ ? data_ : "", size_}; }
  operator std::string_view() const noexcept { return view(); }  // NOLINT
  std::string str() const { return std::string(view()); }

  const char* data() const noexcept { return view().data(); }
  std::size_t size() const noexcept { return size_; }
  std::size_t length() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const char* begin() const noexcept { return data(); }
  const char* end() const noexcept { return data() + size_; }
  char operator[](std::size_t i) const noexcept { return data_[i]; }
  char front() const noexcept { return data_[0]; }
  char back() const noexcept { return data_[size_ - 1]; }
  bool starts_with(std::string_view prefix) const noexcept { return view().starts_with(prefix); }
  bool ends_with(std::string_view suffix) const noexcept { return view().ends_with(suffix); }
  std::size_t find(std::string_view s, std::size_t from = 0) const noexcept { return view().find(s, from); }
  std::size_t find(char c, std::size_t from = 0) const noexcept { return view().find(c, from); }
  std::string_view substr(std::size_t from, std::size_t n = std::string_view::npos) const {
    return view().substr(from, n);
  }

  // Whether two texts share one buffer (for tests of the parser's layout).
  bool shares_buffer_with(const TokenText& other) const noexcept {
    return buffer_ != nullptr && buffer_ == other.buffer_;
  }

  // How many texts hold this text's buffer (for tests of reference counting).
  std::size_t buffer_references() const noexcept { return buffer_ ? buffer_->refs.load() : 0; }

  void swap(TokenText& other) noexcept {
    std::swap(buffer_, other.buffer_);
    std::swap(data_, other.data_);
    std::swap(size_, other.size_);
  }

  // Exact overloads for every string type, so no comparison is ambiguous or
  // builds a buffer.
  friend bool operator==(const TokenText& a, const TokenText& b) noexcept { return a.view() == b.view(); }
  friend bool operator==(const TokenText& a, std::string_view b) noexcept { return a.view() == b; }
  friend bool operator==(const TokenText& a, const std::string& b) noexcept { return a.view() == b; }
  friend bool operator==(const TokenText& a, const char* b) noexcept { return a.view() == b; }
  friend std::strong_ordering operator<=>(const TokenText& a, const TokenText& b) noexcept {
    return a.view() <=> b.view();
  }
  friend std::strong_ordering operator<=>(const TokenText& a, std::string_view b) noexcept { return a.view() <=> b; }

 private:
  struct Buffer {
    std::atomic<std::size_t> refs;
  };

  void retain() const noexcept {
    if (buffer_) buffer_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  void release() noexcept;

  // Whether `part` is a non-empty range of this text's buffer.
  bool holds(std::string_view part) const noexcept {
    // Compared as addresses of one array only when inside it: std::less gives
    // a total order over unrelated pointers too.
    const std::less<const char*> before;
    return buffer_ && !part.empty() && !before(part.data(), data_) && !before(data_ + size_, part.data() + part.size());
  }
  // `part` over this buffer, its reference not yet counted.
  TokenText unowned_slice(std::string_view part) const noexcept {
    TokenText out;
    out.buffer_ = buffer_;
    out.data_ = part.data();
    out.size_ = part.size();
    return out;
  }

  static void free_buffer(Buffer* buffer) noexcept;

  friend class TokenBatch;

  Buffer* buffer_ = nullptr;
  const char* data_ = nullptr;
  std::size_t size_ = 0;
};

// Copies and slices of texts for code that makes thousands of them (the
// parser's tokens, the lists of used variables): references to a buffer are
// taken in batches, one atomic add for many texts, and those not handed out
// go back when the batch moves to another buffer or is destroyed.
class TokenBatch {
 public:
  // `batch`: how many references to take at once.
  explicit TokenBatch(std::size_t batch = 1024) noexcept : batch_(batch > 0 ? batch : 1) {}
  TokenBatch(TokenBatch&& other) noexcept
      : buffer_(std::exchange(other.buffer_, nullptr)), credit_(std::exchange(other.credit_, 0)), batch_(other.batch_) {}
  TokenBatch(const TokenBatch&) = delete;
  TokenBatch& operator=(const TokenBatch&) = delete;
  TokenBatch& operator=(TokenBatch&&) = delete;
  ~TokenBatch() { give_back(); }

  // The same as TokenText(text).
  TokenText copy(const TokenText& text) {
    if (text.buffer_ == nullptr) return text;
    take_one(text.buffer_);
    return text.unowned_slice(text.view());
  }
  // The same as TokenText::slice_of(whole, part).
  TokenText slice(const TokenText& whole, std::string_view part) {
    if (!whole.holds(part)) [[unlikely]] return TokenText(part);
    take_one(whole.buffer_);
    return whole.unowned_slice(part);
  }
  // `out = slice(whole, part)`, written in place: a text returned and then
  // moved is read back, in wider loads, from the stores just made, and such
  // a load waits for the stores to finish.
  void assign_slice(TokenText& out, const TokenText& whole, std::string_view part) {
    if (!whole.holds(part)) [[unlikely]] {
      out = TokenText(part);
      return;
    }
    take_one(whole.buffer_);
    if (out.buffer_) out.release();
    out.buffer_ = whole.buffer_;
    out.data_ = part.data();
    out.size_ = part.size();
  }

 private:
  using Buffer = TokenText::Buffer;

  void take_one(Buffer* buffer) {
    if (buffer != buffer_ || credit_ == 0) [[unlikely]] {
      give_back();
      buffer->refs.fetch_add(batch_, std::memory_order_relaxed);
      buffer_ = buffer;
      credit_ = batch_;
    }
    --credit_;
  }
  // Returns the references not handed out; the last one frees the buffer.
  void give_back() noexcept {
    if (credit_ > 0 && buffer_->refs.fetch_sub(credit_, std::memory_order_acq_rel) == credit_) {
      TokenText::free_buffer(buffer_);
    }
    buffer_ = nullptr;
    credit_ = 0;
  }

  Buffer* buffer_ = nullptr;
  std::size_t credit_ = 0;
  std::size_t batch_;
};

inline std::ostream& operator<<(std::ostream& out, const TokenText& text) { return out << text.view(); }
inline std::string& operator+=(std::string& out, const TokenText& text) { return out.append(text.view()); }
inline std::string operator+(std::string out, const TokenText& text) { return out.append(text.view()); }
inline std::string operator+(const char* head, const TokenText& text) { return std::string(head).append(text.view()); }

}  // namespace lumra::template_ast

template <>
struct fmt::formatter<lumra::template_ast::TokenText> : fmt::formatter<fmt::string_view> {
  template <class Context>
  auto format(const lumra::template_ast::TokenText& text, Context& ctx) const {
    return fmt::formatter<fmt::string_view>::format(fmt::string_view(text.data(), text.size()), ctx);
  }
};

