// The lists that each level of a tree holds of its descendants (used
// variables, comments, static slots), as runs of a shared store.
//
// Lists held as copies would cost a parse a copy of each item per level. A
// parse instead writes each item once into a store, in an order that makes
// every body's and every node's list one run of it (see the parser's
// listings), and each list is a read-only view of its run that keeps the
// store alive.
//
// A node that introduces variables (a loop, a fill's data binding) leaves
// them out of its used variables. A filtered copy of its body at every such
// level would cost depth x uses; the store instead records which names the
// node leaves out of which of its ranges, and a list applies the records
// written inside its run as it is read. So a tree holds each use once,
// whatever the nesting, and a list is built only when it is read whole (by
// Python, by the compiler).
//
// A read through records costs what it returns, not its run: from the second
// long read on, the store keeps an index of the first record that leaves out
// each token (see ListedIndex), so a read jumps from one listed token to the
// next. The first long read walks its run, as building the index would.
// Records nest as the nodes that wrote them do, so a walk enters only those
// that leave out some names, and jumps over one that leaves out every name
// with all it holds; a walk takes each set of names once, however many
// records share it (see open_names.h). A short run whose walk would enter
// more than a few of the former (loops over literals nest records around few
// names), or take more than a few names (a loop over many), reads on through
// the index instead. So no read costs the records in its window, nor the
// names they leave out.
//
// Copies share the store; writing a list (`mut()`) first gives it a store of
// its own, so a copy still behaves like a deep copy.
#pragma once

#include <algorithm>
#include <atomic>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
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

// The order in which a sweep by position opens the records of one store
// (`a` and `b` point into its list): by start, the outer first where two start
// together, and of two with one range the later written, which is the outer.
// So open records form a stack in nesting order, as OpenNames needs.
inline bool opens_before(const LeftOut* a, const LeftOut* b) noexcept {
  if (a->from != b->from) return a->from < b->from;
  return a->to != b->to ? a->to > b->to : a > b;
}

// Built by the first long read of a token store through its records; freed
// with the store (shared_list.cpp).
struct ListedIndex;
void drop_listed_index(ListedIndex* index) noexcept;

template <class T>
struct ListStore {
  ListStore() = default;
  ListStore(const ListStore&) = delete;
  ListStore& operator=(const ListStore&) = delete;
  ~ListStore() { forget_index(); }

  // Before the items are written in place (by a list that owns the store).
  void forget_index() noexcept {
    if (ListedIndex* index = listed.exchange(nullptr, std::memory_order_acq_rel)) drop_listed_index(index);
  }

  std::atomic<std::size_t> refs{1};
  List<T> items;
  // Token stores only. In the order they were written, each after the tokens
  // it covers; their ranges nest or lie apart, as the nodes that wrote them do.
  std::vector<LeftOut> left_out;
  // For each record, where the records written inside its range start: they
  // are those just before it, from this number on (its own number when there
  // are none). A read jumps over them when it leaves out every name.
  std::vector<std::uint32_t> inside;
  std::vector<std::string> keys;
  mutable std::atomic<ListedIndex*> listed{nullptr};
  // Whether a long run was read already: the first is walked (a parse reads
  // its whole list once), the index serves the next.
  mutable std::atomic<bool> read_long{false};
};

// Positions are 32-bit; four billion items are far beyond any page.
void check_list_room(std::size_t size);

// Calls visit(context, token) for each token at [begin, end) of the store that
// the records at [left_begin, left_end) do not leave out. A short run is
// walked, or read through the index when its records, or the names they leave
// out, are many; a longer one is read through the index (walked the first
// time).
void for_each_listed(const ListStore<Token>& store, std::size_t begin, std::size_t end, std::uint32_t left_begin,
                     std::uint32_t left_end, void (*visit)(void*, const Token&), void* context);
// The same by walking the whole run with its records, whatever its length
// (for tests, which compare the two ways).
void for_each_listed_by_walk(const ListStore<Token>& store, std::size_t begin, std::size_t end,
                              std::uint32_t left_begin, std::uint32_t left_end, void (*visit)(void*, const Token&),
                              void* context);

template <class T>
class SharedList {
 public:
  SharedList() noexcept = default;
  SharedList(List<T> items) {  // NOLINT: implicit, a list is assigned from any item list
    if (!items.empty()) *this = owning(std::move(items));
  }
  SharedList(std::initializer_list<T> items) : SharedList(List<T>(items)) {}
  SharedList(const SharedList& other) noexcept
      : store_(other.store_),
        begin_(other.begin_),
        end_(other.end_),
        left_begin_(other.left_begin_),
        left_end_(other.left_end_) {
    if (store_) store_->refs.fetch_add(1, std::memory_order_relaxed);
  }
  SharedList(SharedList&& other) noexcept
      : store_(std::exchange(other.store_, nullptr)),
        begin_(std::exchange(other.begin_, 0)),
        end_(std::exchange(other.end_, 0)),
        left_begin_(std::exchange(other.left_begin_, 0)),
        left_end_(std::exchange(other.left_end_, 0)) {}
  SharedList& operator=(const SharedList& other) noexcept {
    SharedList copy(other);
    swap(copy);
    return *this;
  }
  SharedList& operator=(SharedList&& other) noexcept {
    SharedList moved(std::move(other));
    swap(moved);
    return *this;
  }
  ~SharedList() {
    if (store_) release();
  }

  // Whether the list is its run as it stands: no names are left out of it.
  bool is_flat() const noexcept { return left_begin_ == left_end_; }
  // The items of a flat list; a list that leaves names out is an internal
  // fault here (read it with for_each, or flatten it first).
  std::span<const T> span() const {
    if (!store_) return {};
    if (!is_flat()) throw std::logic_error("a list that leaves names out was read as a plain run");
    return {store_->items.data() + begin_, end_index() - begin_};
  }
  // The same list, flat: this one when it already is, else a new store.
  SharedList flat() const {
    if (is_flat()) return *this;
    return SharedList(copied());
  }

  // Calls visit(item) for each item of the list, in order.
  template <class Visit>
  void for_each(Visit&& visit) const {
    if (!store_) return;
    if (is_flat()) {
      for (const T& item : span()) visit(item);
      return;
    }
    // Only token stores hold records.
    if constexpr (std::same_as<T, Token>) {
      using V = std::remove_reference_t<Visit>;
      for_each_listed(
          *store_, begin_, end_index(), left_begin_, left_end_,
          [](void* v, const Token& token) { (*static_cast<V*>(v))(token); },
          const_cast<void*>(static_cast<const void*>(&visit)));
    }
  }

  // The same by walking the whole run with its records, as short runs are
  // read (for tests that compare the two ways).
  template <class Visit>
  void for_each_by_walk(Visit&& visit) const {
    if constexpr (std::same_as<T, Token>) {
      if (store_ && !is_flat()) {
        using V = std::remove_reference_t<Visit>;
        for_each_listed_by_walk(
            *store_, begin_, end_index(), left_begin_, left_end_,
            [](void* v, const Token& token) { (*static_cast<V*>(v))(token); },
            const_cast<void*>(static_cast<const void*>(&visit)));
        return;
      }
    }
    for_each(visit);
  }

  std::size_t size() const {
    if (!store_) return 0;
    if (is_flat()) return end_index() - begin_;
    std::size_t count = 0;
    for_each([&](const T&) { ++count; });
    return count;
  }
  bool empty() const { return size() == 0; }

  // The list for writing: these items, in a store that only this list holds.
  List<T>& mut() {
    const bool own = store_ && begin_ == 0 && end_ == kToEnd && store_->refs.load(std::memory_order_acquire) == 1;
    if (!own) *this = owning(copied());
    store_->forget_index();
    return store_->items;
  }

  // Whether two lists view one store, and how many items that store holds
  // (for tests of the parser's layout).
  bool shares_store_with(const SharedList& other) const noexcept { return store_ != nullptr && store_ == other.store_; }
  std::size_t stored_items() const noexcept { return store_ ? store_->items.size() : 0; }
  // Where the list lies: its store (none for an empty list), its run and its
  // records, for readers that reuse what they read of runs inside it.
  struct Layout {
    const ListStore<T>* store = nullptr;
    std::size_t begin = 0;
    std::size_t end = 0;
    std::uint32_t left_begin = 0;
    std::uint32_t left_end = 0;
  };
  Layout layout() const noexcept {
    if (!store_) return {};
    return {store_, begin_, end_index(), left_begin_, left_end_};
  }

  void swap(SharedList& other) noexcept {
    std::swap(store_, other.store_);
    std::swap(begin_, other.begin_);
    std::swap(end_, other.end_);
    std::swap(left_begin_, other.left_begin_);
    std::swap(left_end_, other.left_end_);
  }

  friend bool operator==(const SharedList& a, const SharedList& b) {
    if (a.same_run(b)) return true;
    if (a.is_flat() && b.is_flat()) {
      const auto x = a.span();
      const auto y = b.span();
      return std::equal(x.begin(), x.end(), y.begin(), y.end());
    }
    return a.flat() == b.flat();
  }

 private:
  template <class>
  friend class ListWriter;
  template <class>
  friend class ListEquality;

  // `end_` of a list that owns its whole store, which may grow.
  static constexpr std::uint32_t kToEnd = UINT32_MAX;

  std::size_t end_index() const noexcept { return end_ == kToEnd ? store_->items.size() : end_; }
  // One run of one store (a copy, or the same level of a copied tree).
  bool same_run(const SharedList& other) const noexcept {
    return store_ == other.store_ && begin_ == other.begin_ && end_ == other.end_ &&
           left_begin_ == other.left_begin_ && left_end_ == other.left_end_;
  }
  // The items the list holds, in a list of their own.
  List<T> copied() const {
    List<T> items;
    if (is_flat()) items.reserve(size());
    for_each([&](const T& item) { items.push_back(item); });
    return items;
  }
  // A list that owns a store of these items (made even when there are none).
  static SharedList owning(List<T> items) {
    SharedList out;
    out.store_ = new ListStore<T>;
    out.store_->items = std::move(items);
    out.end_ = kToEnd;
    return out;
  }
  void release() noexcept {
    if (store_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete store_;
    store_ = nullptr;
  }

  ListStore<T>* store_ = nullptr;
  std::uint32_t begin_ = 0;
  std::uint32_t end_ = 0;
  // The records of the store that apply: those written inside the run.
  std::uint32_t left_begin_ = 0;
  std::uint32_t left_end_ = 0;
};

using SharedTokens = SharedList<Token>;

// A token copied with a batch's references to its text (see TokenBatch).
inline Token copy_with(TokenBatch& texts, const Token& token) {
  return Token{texts.copy(token.content), token.start_index, token.end_index, token.line_col};
}

// A parse's store: items (and, for tokens, records) go on the end, and runs
// of what is already written become lists. Runs stay valid as the store
// grows (they hold positions).
template <class T>
class ListWriter {
 public:
  // Where the store stands: a list's start, or its end.
  struct Mark {
    std::uint32_t items = 0;
    std::uint32_t left_out = 0;
  };

  ListWriter() = default;
  ListWriter(const ListWriter&) = delete;
  ListWriter& operator=(const ListWriter&) = delete;
  ListWriter(ListWriter&&) noexcept = default;
  ListWriter& operator=(ListWriter&&) = delete;

  Mark mark() const noexcept {
    if (!whole_.store_) return {};
    return {static_cast<std::uint32_t>(whole_.store_->items.size()),
            static_cast<std::uint32_t>(whole_.store_->left_out.size())};
  }
  void push_back(const T& item) {
    List<T>& out = store().items;
    check_list_room(out.size());
    out.push_back(copy_with(texts_, item));
  }
  // `items` must not lie in this store (growing it may move them)...
  void append(std::span<const T> items) {
    if (items.empty()) return;
    List<T>& out = store().items;
    if (out.capacity() - out.size() < items.size()) {
      // Doubling at least, so that many small appends stay linear.
      out.reserve(std::max(out.size() + items.size(), 2 * out.capacity()));
    }
    for (const T& item : items) push_back(item);
  }
  // ... a list may: it is copied out first.
  void append_list(const SharedList<T>& items) { append(items.copied()); }

  // Token stores: keeps the keys of these names for records to come, and
  // gives their range.
  std::pair<std::uint32_t, std::uint32_t> keep_keys(std::span<const Token> names)
    requires std::same_as<T, Token>
  {
    std::vector<std::string>& keys = store().keys;
    const auto from = static_cast<std::uint32_t>(keys.size());
    check_list_room(keys.size() + names.size());
    for (const Token& name : names) keys.emplace_back(VariableKey(name.content).view());
    return {from, static_cast<std::uint32_t>(keys.size())};
  }
  // Leaves the kept keys `keys` out of the tokens written at [from, to).
  void leave_out(std::uint32_t from, std::uint32_t to, std::pair<std::uint32_t, std::uint32_t> keys)
    requires std::same_as<T, Token>
  {
    if (from < to && keys.first < keys.second) add_record({from, to, keys.first, keys.second});
  }
  // Leaves every token written at [from, to) out of the lists around it.
  void skip(std::uint32_t from, std::uint32_t to)
    requires std::same_as<T, Token>
  {
    if (from < to) add_record({from, to, 0, 0});
  }

  // The list of what was written between the marks.
  SharedList<T> run(Mark from, Mark to) const {
    SharedList<T> out;
    if (from.items >= to.items) return out;
    out.store_ = whole_.store_;
    out.store_->refs.fetch_add(1, std::memory_order_relaxed);
    out.begin_ = from.items;
    out.end_ = to.items;
    out.left_begin_ = from.left_out;
    out.left_end_ = to.left_out;
    return out;
  }

 private:
  ListStore<T>& store() {
    if (!whole_.store_) {
      whole_.store_ = new ListStore<T>;
      whole_.end_ = SharedList<T>::kToEnd;
    }
    return *whole_.store_;
  }
  void add_record(LeftOut record) {
    // A record covers tokens already written: so no run that starts after it
    // is written holds a token it covers (the reads rely on it).
    if (record.to > store().items.size()) throw std::logic_error("a record covers tokens not written yet");
    std::vector<LeftOut>& records = store().left_out;
    std::vector<std::uint32_t>& inside = store().inside;
    check_list_room(records.size());
    // Those written inside its range lie just before it, as ranges nest or
    // lie apart: each step jumps one of them with all it holds, so each
    // record is jumped once.
    auto first = static_cast<std::uint32_t>(records.size());
    while (first > 0 && records[first - 1].from >= record.from && records[first - 1].to <= record.to) {
      first = inside[first - 1];
    }
    records.push_back(record);
    inside.push_back(first);
  }

  SharedList<T> whole_;  // the store, whole
  TokenBatch texts_;
};

using TokenStoreWriter = ListWriter<Token>;

}  // namespace lumra::template_ast
