// The records of a successful parse, and cheap handles to walk them.
//
// A parse leaves one flat list of entries in pre-order: an opening entry when
// a recorded rule is entered and a closing entry when it matches, each holding
// the index of the other. A Pair is a pointer to the tree plus the index of
// its opening entry, so copying pairs and walking inner pairs copies no text
// and allocates nothing; a whole subtree is skipped in one step.
//
// Pairs point into their ParseTree: they stay valid while the tree lives
// (moving the tree is fine) and the parsed text is still alive.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iterator>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "template/grammar/error.h"
#include "template/grammar/rule.h"

namespace lumra::grammar {

struct RecordEntry {
  std::uint32_t pos;      // opening: start offset; closing: end offset
  std::uint32_t partner;  // index of the matching entry
  Rule rule;
  bool opening;
};

// The flat record list. A recogniser appends and drops entries at the end
// with every rule it tries, so both are inline and never touch the entries
// beyond the end; growth keeps the entries (they are plain values).
class RecordList {
 public:
  explicit RecordList(std::size_t capacity = 16)
      : data_(new RecordEntry[capacity < 16 ? 16 : capacity]), capacity_(capacity < 16 ? 16 : capacity) {}

  std::size_t size() const noexcept { return size_; }
  bool empty() const noexcept { return size_ == 0; }
  const RecordEntry& operator[](std::size_t i) const noexcept { return data_[i]; }
  RecordEntry& operator[](std::size_t i) noexcept { return data_[i]; }
  const RecordEntry* data() const noexcept { return data_.get(); }
  const RecordEntry* begin() const noexcept { return data_.get(); }
  const RecordEntry* end() const noexcept { return data_.get() + size_; }

  // Inlined into every rule call: a call here costs more than the store.
  [[gnu::always_inline]] void push_back(const RecordEntry& entry) {
    if (size_ == capacity_) [[unlikely]] grow();
    data_[size_++] = entry;
  }
  // Drops the entries from `size` on (a failed try).
  void truncate(std::size_t size) noexcept { size_ = size < size_ ? size : size_; }

 private:
  [[gnu::noinline]] void grow() {
    std::unique_ptr<RecordEntry[]> bigger(new RecordEntry[capacity_ * 2]);
    std::copy(data_.get(), data_.get() + size_, bigger.get());
    data_ = std::move(bigger);
    capacity_ *= 2;
  }

  std::unique_ptr<RecordEntry[]> data_;
  std::size_t size_ = 0;
  std::size_t capacity_;
};

struct TreeData {
  std::string_view input;
  RecordList entries;
  // Offset 0 and the offset after every line feed.
  std::vector<std::uint32_t> line_starts;
};

class Pairs;

class Pair {
 public:
  Pair(const TreeData* tree, std::uint32_t open) noexcept : tree_(tree), open_(open) {}

  Rule rule() const noexcept { return tree_->entries[open_].rule; }
  std::size_t start() const noexcept { return tree_->entries[open_].pos; }
  std::size_t end() const noexcept { return tree_->entries[close_index()].pos; }
  std::string_view as_str() const noexcept { return tree_->input.substr(start(), end() - start()); }
  // The whole text the grammar ran over.
  std::string_view input() const noexcept { return tree_->input; }
  const std::vector<std::uint32_t>& line_starts() const noexcept { return tree_->line_starts; }
  // Of the start offset, from the line starts.
  LineCol line_col() const noexcept;
  Pairs inner() const noexcept;
  // "rule(start, end)", or "rule(start, end, [inner, ...])" when it has inner pairs.
  std::string to_string() const;

  friend bool operator==(const Pair& a, const Pair& b) noexcept {
    return a.tree_ == b.tree_ && a.open_ == b.open_;
  }

 private:
  std::uint32_t close_index() const noexcept { return tree_->entries[open_].partner; }

  const TreeData* tree_;
  std::uint32_t open_;
};

// A run of sibling pairs: iterable with range-for.
class Pairs {
 public:
  class iterator {
   public:
    using iterator_category = std::forward_iterator_tag;
    using value_type = Pair;
    using difference_type = std::ptrdiff_t;
    using pointer = void;
    using reference = Pair;

    iterator() noexcept = default;
    iterator(const TreeData* tree, std::uint32_t index) noexcept : tree_(tree), index_(index) {}
    Pair operator*() const noexcept { return Pair(tree_, index_); }
    iterator& operator++() noexcept {
      index_ = tree_->entries[index_].partner + 1;
      return *this;
    }
    iterator operator++(int) noexcept {
      iterator old = *this;
      ++*this;
      return old;
    }
    friend bool operator==(const iterator& a, const iterator& b) noexcept {
      return a.index_ == b.index_;
    }

   private:
    const TreeData* tree_ = nullptr;
    std::uint32_t index_ = 0;
  };

  Pairs(const TreeData* tree, std::uint32_t begin, std::uint32_t end) noexcept
      : tree_(tree), begin_(begin), end_(end) {}

  iterator begin() const noexcept { return {tree_, begin_}; }
  iterator end() const noexcept { return {tree_, end_}; }
  bool empty() const noexcept { return begin_ == end_; }
  std::size_t size() const noexcept;
  std::optional<Pair> first() const noexcept {
    if (empty()) return std::nullopt;
    return Pair(tree_, begin_);
  }
  // The first pair of this run with the given rule.
  std::optional<Pair> find(Rule rule) const noexcept;

 private:
  const TreeData* tree_;
  std::uint32_t begin_;
  std::uint32_t end_;
};

inline Pairs Pair::inner() const noexcept { return Pairs(tree_, open_ + 1, close_index()); }

// The records of one successful parse.
class ParseTree {
 public:
  // `entries` must be a well-formed record list over `input`.
  ParseTree(std::string_view input, RecordList entries);

  std::string_view input() const noexcept { return data_->input; }
  // The top-level pairs: exactly one, the start rule's.
  Pairs pairs() const noexcept {
    return Pairs(data_.get(), 0, static_cast<std::uint32_t>(data_->entries.size()));
  }
  Pair root() const noexcept { return Pair(data_.get(), 0); }
  const std::vector<std::uint32_t>& line_starts() const noexcept { return data_->line_starts; }
  LineCol line_col(std::size_t offset) const noexcept;
  const RecordList& entries() const noexcept { return data_->entries; }

 private:
  std::unique_ptr<TreeData> data_;
};

// Line and column of `offset` by bisection over `line_starts` of `input`.
LineCol line_col_from_starts(std::string_view input, const std::vector<std::uint32_t>& line_starts,
                             std::size_t offset) noexcept;

}  // namespace lumra::grammar
