// The lists of used variables, as runs of a shared store.
//
// Each level of a tree lists every variable that its descendants use, so
// lists held as copies cost a parse a copy of each name per level. A parse
// instead writes each name once into a store, in an order that makes every
// body's and every node's list one run of it (see the parser's scopes), and
// each list is a read-only view of its run that keeps the store alive.
//
// A node that introduces variables (a loop, a fill's data binding) leaves
// them out of its list. A filtered copy of its body at every such level would
// cost depth x uses; the store instead records which names the node leaves
// out of which of its ranges, and a list applies the records written inside
// its run as it is read. So a tree holds each use once, whatever the nesting,
// and a list is built only when it is read whole (by Python, by the compiler).
//
// Copies share the store; writing a list (`mut()`) first gives it a store of
// its own, so a copy still behaves like a deep copy.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "template/ast/list.h"
#include "template/ast/token.h"
#include "text/unicode.h"

namespace lumra::template_ast {

// A variable name as scopes compare it: its NFKC form ("ﬁle" and "file" are
// one name), viewing the name itself when it is ASCII (its own form).
class VariableKey {
 public:
  explicit VariableKey(std::string_view name) {
    if (text::is_ascii(name)) {
      view_ = name;
    } else {
      owned_ = text::nfkc(name);
      view_ = owned_;
    }
  }
  VariableKey(VariableKey&& other) noexcept { *this = std::move(other); }
  VariableKey& operator=(VariableKey&& other) noexcept {
    const bool owning = other.view_.data() == other.owned_.data();
    owned_ = std::move(other.owned_);
    view_ = owning ? std::string_view(owned_) : other.view_;
    return *this;
  }
  std::string_view view() const noexcept { return view_; }

 private:
  std::string owned_;
  std::string_view view_;
};

// Names left out of the tokens at [from, to) of a store: the keys at
// [keys_from, keys_to) of its key list, or every name when that range is
// empty (a range whose list was written out again after it).
struct LeftOut {
  std::uint32_t from = 0;
  std::uint32_t to = 0;
  std::uint32_t keys_from = 0;
  std::uint32_t keys_to = 0;
};

struct TokenStore {
  std::atomic<std::size_t> refs{1};
  List<Token> tokens;
  // In the order they were written. Their ranges nest or lie apart, as the
  // nodes that wrote them do.
  std::vector<LeftOut> left_out;
  std::vector<std::string> keys;
};

class SharedTokens {
 public:
  SharedTokens() noexcept = default;
  SharedTokens(List<Token> tokens);  // NOLINT: implicit, a list is assigned from any token list
  SharedTokens(std::initializer_list<Token> tokens) : SharedTokens(List<Token>(tokens)) {}
  SharedTokens(const SharedTokens& other) noexcept
      : store_(other.store_),
        begin_(other.begin_),
        end_(other.end_),
        left_begin_(other.left_begin_),
        left_end_(other.left_end_) {
    if (store_) store_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedTokens(SharedTokens&& other) noexcept
      : store_(std::exchange(other.store_, nullptr)),
        begin_(std::exchange(other.begin_, 0)),
        end_(std::exchange(other.end_, 0)),
        left_begin_(std::exchange(other.left_begin_, 0)),
        left_end_(std::exchange(other.left_end_, 0)) {}
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

  // Whether the list is its run as it stands: no names are left out of it.
  bool is_flat() const noexcept { return left_begin_ == left_end_; }
  // The tokens of a flat list; a list that leaves names out is an internal
  // fault here (read it with for_each, or flatten it first).
  std::span<const Token> span() const;
  // The same list, flat: this one when it already is, else a new store.
  SharedTokens flat() const;

  // Calls visit(token) for each token of the list, in order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    if (!store_) return;
    if (is_flat()) {
      for (const Token& token : span()) visit(token);
      return;
    }
    for_each_left_in([](void* v, const Token& token) { (*static_cast<Visit*>(v))(token); }, &visit);
  }

  std::size_t size() const;
  bool empty() const { return size() == 0; }

  // The list for writing: these tokens, in a store that only this list holds.
  List<Token>& mut();

  // Whether two lists view one store, and how many tokens that store holds
  // (for tests of the parser's layout).
  bool shares_store_with(const SharedTokens& other) const noexcept {
    return store_ != nullptr && store_ == other.store_;
  }
  std::size_t stored_tokens() const noexcept { return store_ ? store_->tokens.size() : 0; }

  void swap(SharedTokens& other) noexcept {
    std::swap(store_, other.store_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
    std::swap(left_begin_, other.left_begin_);
    std::swap(left_end_, other.left_end_);
  }

  friend bool operator==(const SharedTokens& a, const SharedTokens& b);

 private:
  friend class TokenStoreWriter;

  // `end_` of a list that owns its whole store, which may grow.
  static constexpr std::uint32_t kToEnd = UINT32_MAX;

  std::size_t end_index() const noexcept { return end_ == kToEnd ? store_->tokens.size() : end_; }
  void for_each_left_in(void (*visit)(void*, const Token&), void* context) const;
  void release() noexcept;

  TokenStore* store_ = nullptr;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  // The records of the store that apply: those written inside the run.
  std::uint32_t left_begin_ = 0;
  std::uint32_t left_end_ = 0;
};

// A parse's store: tokens and records go on the end, and runs of what is
// already written become lists. Runs stay valid as the store grows (they
// hold positions).
class TokenStoreWriter {
 public:
  // Where the store stands: a list's start, or its end.
  struct Mark {
    std::uint32_t tokens = 0;
    std::uint32_t left_out = 0;
  };

  TokenStoreWriter() = default;
  TokenStoreWriter(const TokenStoreWriter&) = delete;
  TokenStoreWriter& operator=(const TokenStoreWriter&) = delete;
  TokenStoreWriter(TokenStoreWriter&&) noexcept = default;
  TokenStoreWriter& operator=(TokenStoreWriter&&) = delete;

  Mark mark() const noexcept {
    if (!whole_.store_) return {};
    return {static_cast<std::uint32_t>(whole_.store_->tokens.size()),
            static_cast<std::uint32_t>(whole_.store_->left_out.size())};
  }
  void push_back(const Token& token);
  // `tokens` must not lie in this store (growing it may move them)...
  void append(std::span<const Token> tokens);
  // ... a list may.
  void append_list(const SharedTokens& tokens);

  // Keeps the keys of these names for records to come; gives their range.
  std::pair<std::uint32_t, std::uint32_t> keep_keys(std::span<const Token> names);
  // Leaves the kept keys `keys` out of the tokens written at [from, to).
  void leave_out(std::uint32_t from, std::uint32_t to, std::pair<std::uint32_t, std::uint32_t> keys);
  // Leaves every token written at [from, to) out of the lists around it.
  void skip(std::uint32_t from, std::uint32_t to);

  // The list of what was written between the marks.
  SharedTokens run(Mark from, Mark to) const {
    SharedTokens out;
    if (from.tokens >= to.tokens) return out;
    out.store_ = whole_.store_;
    out.store_->refs.fetch_add(1, std::memory_order_relaxed);
    out.begin_ = from.tokens;
    out.end_ = to.tokens;
    out.left_begin_ = from.left_out;
    out.left_end_ = to.left_out;
    return out;
  }

 private:
  TokenStore& store();

  SharedTokens whole_;  // the store, whole
  TokenBatch texts_;
};

}  // namespace lumra::template_ast
