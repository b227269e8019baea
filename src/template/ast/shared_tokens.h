// The lists of used variables, as runs of a shared store.
//
// Each level of a tree lists every variable that its descendants use, so
// lists held as copies cost a parse a copy of each name per level. A parse
// instead writes each name once into a store, in an order that makes every
// body's and every node's list one run of it (see the parser's scopes), and
// each list is a read-only view of its run that keeps the store alive.
// Copies share the store; writing a list (`mut()`) first gives it a store of
// its own, so a copy still behaves like a deep copy.
#pragma once

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <utility>

#include "template/ast/list.h"
#include "template/ast/token.h"

namespace lumra::template_ast {

struct TokenStore {
  std::atomic<std::size_t> refs{1};
  List<Token> tokens;
};

class SharedTokens {
 public:
  SharedTokens() noexcept = default;
  SharedTokens(List<Token> tokens);  // NOLINT: implicit, a list is assigned from any token list
  SharedTokens(std::initializer_list<Token> tokens) : SharedTokens(List<Token>(tokens)) {}
  SharedTokens(const SharedTokens& other) noexcept
      : store_(other.store_), begin_(other.begin_), end_(other.end_) {
    if (store_) store_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedTokens(SharedTokens&& other) noexcept
      : store_(std::exchange(other.store_, nullptr)),
        begin_(std::exchange(other.begin_, 0)),
        end_(std::exchange(other.end_, 0)) {}
  SharedTokens& operator=(const SharedTokens& other) noexcept {
    SharedTokens copy(other);
    swap(copy);
    return *this;
  }
  SharedTokens& operator=(SharedTokens&& other) noexcept {
    SharedTokens moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~SharedTokens() {
    if (store_) release();
  }

  const Token* data() const noexcept { return store_ ? store_->tokens.data() + begin_ : nullptr; }
  const Token* begin() const noexcept { return data(); }
  const Token* end() const noexcept { return data() + size(); }
  std::size_t size() const noexcept {
    if (!store_) return 0;
    return end_ == kToEnd ? store_->tokens.size() - begin_ : end_ - begin_;
  }
  bool empty() const noexcept { return size() == 0; }
  const Token& operator[](std::size_t i) const noexcept { return data()[i]; }
  const Token& front() const noexcept { return data()[0]; }
  const Token& back() const noexcept { return data()[size() - 1]; }
  operator std::span<const Token>() const noexcept { return {data(), size()}; }  // NOLINT

  // The list for writing: these tokens, in a store that only this list holds.
  List<Token>& mut();

  // Whether two lists view one store (for tests of the parser's layout).
  bool shares_store_with(const SharedTokens& other) const noexcept {
    return store_ != nullptr && store_ == other.store_;
  }

  void swap(SharedTokens& other) noexcept {
    std::swap(store_, other.store_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
  }

  friend bool operator==(const SharedTokens& a, const SharedTokens& b) noexcept {
    return std::equal(a.begin(), a.end(), b.begin(), b.end());
  }

 private:
  friend class TokenStoreWriter;

  // `end_` of a list that owns its whole store, which may grow.
  static constexpr std::uint32_t kToEnd = UINT32_MAX;

  void release() noexcept;

  TokenStore* store_ = nullptr;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
};

// A parse's store: tokens go on the end, and runs of what is already written
// become lists. Runs stay valid as the store grows (they hold positions).
class TokenStoreWriter {
 public:
  TokenStoreWriter() = default;
  TokenStoreWriter(const TokenStoreWriter&) = delete;
  TokenStoreWriter& operator=(const TokenStoreWriter&) = delete;
  TokenStoreWriter(TokenStoreWriter&&) noexcept = default;
  TokenStoreWriter& operator=(TokenStoreWriter&&) = delete;

  std::uint32_t size() const noexcept { return static_cast<std::uint32_t>(whole_.size()); }
  // Room for `count` more tokens: until they are written, runs of this store
  // may be read while writing.
  void reserve_more(std::size_t count);
  void push_back(const Token& token);
  // `tokens` must not lie in this store (growing it may move them)...
  void append(std::span<const Token> tokens);
  // ... a list may.
  void append_list(const SharedTokens& tokens);
  // The list of the tokens at [from, to): to <= size().
  SharedTokens run(std::uint32_t from, std::uint32_t to) const;

 private:
  List<Token>& tokens();

  SharedTokens whole_;  // the store, whole
  TokenBatch texts_;
};

}  // namespace lumra::template_ast
