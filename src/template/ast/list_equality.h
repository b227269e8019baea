// Equality of the lists that every level of two trees holds (used variables,
// comments, slots), compared level by level as a tree walk meets them.
//
// Compared as lists, the levels of a tree d deep read its items d times. But
// a parse lays its lists out in one store per kind, in an order that the
// tree's shape fixes: two equal trees hold, in their stores, the same items
// and records at the same places relative to their runs. So two runs are
// equal when their stores agree item for item and record for record over
// them at one offset, and that agreement is checked once per stretch of the
// stores: every level's run lies inside its parent's, whose check already
// covered it. Each stored item and record is compared at most once per pair
// of stores and offset, whatever the depth.
//
// Lists laid out otherwise (written from Python, or two stores that differ
// where a record leaves the difference out) are read and compared as lists,
// which costs what they hold (a read skips what records leave out). The
// equality walk compares every other part of two trees first, so parsed trees
// that differ are told apart before their lists are compared.
#pragma once

#include <algorithm>
#include <concepts>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <iterator>
#include <map>
#include <set>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

#include "hashing/keyed_hash.h"
#include "template/ast/shared_list.h"

namespace lumra::template_ast {

// What an equality read, for tests of its cost.
struct ListReads {
  std::size_t lists = 0;   // pairs of lists compared
  std::size_t stored = 0;  // store items and records compared in place
  std::size_t listed = 0;  // items of lists read whole
};

namespace list_equality_detail {

// Positions [from, to) of a store already found to agree with the other
// store, and positions found to differ: neither is compared again.
class Agreement {
 public:
  // Whether `same(i)` holds for every i in [from, to), asking only about the
  // positions not known yet.
  template <class Same>
  bool check(std::uint32_t from, std::uint32_t to, Same&& same) {
    if (from >= to) return true;
    if (const auto differs = differ_.lower_bound(from); differs != differ_.end() && *differs < to) return false;
    auto it = agree_.upper_bound(from);
    if (it != agree_.begin() && std::prev(it)->second >= from) --it;
    const auto first = it;
    const std::uint32_t low = it != agree_.end() && it->first < from ? it->first : from;
    std::uint32_t at = from;
    bool same_all = true;
    while (true) {
      // Known stretches that start by `at` are taken whole.
      for (; it != agree_.end() && it->first <= at; ++it) at = std::max(at, it->second);
      if (at >= to) break;
      const std::uint32_t stop = it != agree_.end() && it->first < to ? it->first : to;
      for (; at < stop; ++at) {
        if (!same(at)) {
          differ_.insert(at);
          same_all = false;
          break;
        }
      }
      if (!same_all) break;
    }
    // The stretches met become one, up to the first difference if any.
    agree_.erase(first, it);
    if (low < at) agree_.emplace(low, at);
    return same_all;
  }

 private:
  std::map<std::uint32_t, std::uint32_t> agree_;  // start -> end, apart
  std::set<std::uint32_t> differ_;
};

}  // namespace list_equality_detail

// One per kind of list and equality walk.
template <class T>
class ListEquality {
 public:
  explicit ListEquality(ListReads* reads = nullptr) : reads_(reads) {}

  bool equal(const SharedList<T>& a, const SharedList<T>& b) {
    if (reads_) ++reads_->lists;
    if (a.store_ == nullptr || b.store_ == nullptr || a.same_run(b)) return a == b;
    if (a.is_flat() && b.is_flat() && a.end_index() - a.begin_ <= kShort && b.end_index() - b.begin_ <= kShort) {
      return read_whole(a, b);
    }
    if (laid_out_alike(a, b)) return true;
    return read_whole(a, b);
  }

 private:
  // Short flat runs are compared directly: cheaper than looking them up, and
  // bounded per level.
  static constexpr std::size_t kShort = 16;

  struct Alignment {
    const ListStore<T>* a;
    const ListStore<T>* b;
    std::int64_t items;    // a's item position minus b's
    std::int64_t records;  // a's record position minus b's
    friend bool operator==(const Alignment&, const Alignment&) = default;
  };
  // The shifts and key positions follow what the trees hold: keyed, so that
  // no input can send them to one bucket. Not noexcept, so that libstdc++
  // stores each node's hash rather than computing it again along a bucket.
  struct AlignmentHash {
    std::size_t operator()(const Alignment& k) const {
      return hashing::hash_numbers(reinterpret_cast<std::uintptr_t>(k.a), reinterpret_cast<std::uintptr_t>(k.b),
                                   k.items, k.records);
    }
  };
  struct PairHash {
    std::size_t operator()(const std::pair<std::uint32_t, std::uint32_t>& p) const {
      return hashing::hash_numbers((std::uint64_t{p.first} << 32) | p.second);
    }
  };
  struct Known {
    list_equality_detail::Agreement items;
    list_equality_detail::Agreement records;
    // Key ranges (by their starts) found equal; a node's records share one.
    std::unordered_set<std::pair<std::uint32_t, std::uint32_t>, PairHash> keys;
  };

  bool read_whole(const SharedList<T>& a, const SharedList<T>& b) {
    if (reads_) reads_->listed += a.size() + b.size();
    return a == b;
  }

  // Whether the two runs agree in place: same length, same items, same
  // records at the same relative places (see the header comment).
  bool laid_out_alike(const SharedList<T>& a, const SharedList<T>& b) {
    const std::size_t size = a.end_index() - a.begin_;
    const std::uint32_t records = a.left_end_ - a.left_begin_;
    if (size != b.end_index() - b.begin_ || records != b.left_end_ - b.left_begin_) return false;
    const std::int64_t shift = std::int64_t{a.begin_} - std::int64_t{b.begin_};
    const std::int64_t record_shift = std::int64_t{a.left_begin_} - std::int64_t{b.left_begin_};
    Known& known = known_[Alignment{a.store_, b.store_, shift, record_shift}];
    const ListStore<T>& sa = *a.store_;
    const ListStore<T>& sb = *b.store_;
    const bool items = known.items.check(a.begin_, static_cast<std::uint32_t>(a.begin_ + size), [&](std::uint32_t i) {
      if (reads_) ++reads_->stored;
      return sa.items[i] == sb.items[static_cast<std::size_t>(i - shift)];
    });
    if (!items) return false;
    if constexpr (std::same_as<T, Token>) {
      return known.records.check(a.left_begin_, a.left_end_, [&](std::uint32_t i) {
        if (reads_) ++reads_->stored;
        return same_record(sa, sb, sa.left_out[i], sb.left_out[static_cast<std::size_t>(i - record_shift)], shift,
                           known);
      });
    }
    return true;
  }

  bool same_record(const ListStore<T>& sa, const ListStore<T>& sb, const LeftOut& x, const LeftOut& y,
                   std::int64_t shift, Known& known) {
    if (std::int64_t{x.from} - y.from != shift || std::int64_t{x.to} - y.to != shift) return false;
    const std::uint32_t count = x.keys_to - x.keys_from;
    if (count != y.keys_to - y.keys_from) return false;
    if (count == 0 || known.keys.contains({x.keys_from, y.keys_from})) return true;
    for (std::uint32_t k = 0; k < count; ++k) {
      if (std::string_view(sa.keys[x.keys_from + k]) != sb.keys[y.keys_from + k]) return false;
    }
    known.keys.insert({x.keys_from, y.keys_from});
    return true;
  }

  std::unordered_map<Alignment, Known, AlignmentHash> known_;
  ListReads* reads_;
};

}  // namespace lumra::template_ast
