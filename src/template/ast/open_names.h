// The names left out at a point of a walk over a token store's records: the
// keys of the records open there (see shared_list.h).
//
// A record leaves out a set of keys, kept once per node in the store's key
// list; the records of one node share it (a loop's body and each attribute
// that sees its names), and a walk meets them one after the other. While the
// open sets hold few keys in all (a loop or two over a name or two, as on
// most pages), a name is compared with those keys. Past that, pushing a set's
// keys for each record, or for each read, would cost records x names. So from
// then on each key names the set that took it last, and a set opened again
// while it still holds all its keys takes them for free: a walk pays each
// set's keys once, whatever the number of its records. A set that takes a
// key from a set still open (nested records that share a name, which a parse
// refuses as shadowing) gives it back when its record closes, so the answer
// stays right for any store.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <utility>
#include <vector>

#include "template/ast/shared_list.h"
#include "text/unicode.h"

namespace lumra::template_ast {

class OpenNames {
 public:
  static constexpr std::uint32_t kNone = UINT32_MAX;

  // Opens record number `number` of the store, which leaves out keys (closes
  // in the reverse order).
  void open(const ListStore<Token>& store, std::uint32_t number);
  void close();
  // The keys that opening this record would take: none when its set holds
  // them already, or was met while the open keys were few.
  std::size_t keys_to_take(const ListStore<Token>& store, std::uint32_t number) const;

  // The least open record that leaves the name out, or kNone.
  std::uint32_t first_leaving_out(std::string_view name) const {
    if (opened_.empty()) return kNone;
    // An ASCII name is its own key.
    return text::is_ascii(name) ? least_holding(name) : least_holding(VariableKey(name).view());
  }
  bool leaves_out(std::string_view name) const {
    if (opened_.empty()) return false;
    return text::is_ascii(name) ? holds(name) : holds(VariableKey(name).view());
  }

  // Forgets every record and set, keeping the storage for the next walk.
  void clear();

 private:
  // Open keys are compared one by one, and keys met looked for one by one,
  // while at most this many.
  static constexpr std::size_t kScanLimit = 8;

  struct Set {
    std::uint32_t first_key;      // its range in the store's keys: its identity
    std::uint32_t keys;
    std::uint32_t open = 0;       // records open with it
    std::uint32_t least = kNone;  // least of those records
    bool current = false;         // every key of it names it
  };
  struct Opened {
    std::uint32_t set;
    std::uint32_t least_before;
    std::uint32_t taken_from;  // its entries in taken_
  };
  // Which set took a key last. The key's hash is kept: the table grows
  // without hashing the keys again.
  struct Owner {
    std::string_view key;
    std::uint32_t set;
    std::uint64_t hash;
  };
  // A key taken from a set that was open: given back at the close.
  struct Taken {
    std::uint32_t owner;  // index in owners_
    std::uint32_t set;
  };

  std::uint32_t looked_up(std::string_view key) const;
  std::uint32_t least_holding(std::string_view key) const {
    if (!scanning_) return looked_up(key);
    std::uint32_t least = kNone;
    for (const auto& [open_key, set] : scan_) {
      if (open_key == key) least = std::min(least, sets_[set].least);
    }
    return least;
  }
  bool holds(std::string_view key) const {
    if (!scanning_) return looked_up(key) != kNone;
    return std::any_of(scan_.begin(), scan_.end(), [&](const auto& open) { return open.first == key; });
  }
  // The set of the record met last, when the record holds its keys.
  std::uint32_t known_set(const LeftOut& record) const {
    return last_ != kNone && sets_[last_].first_key == record.keys_from ? last_ : kNone;
  }
  // The owner of `key`, whose hash is `hash` (read only once the owners are many).
  std::uint32_t find_owner(std::string_view key, std::uint64_t hash) const;
  void add_owner(std::string_view key, std::uint32_t set, std::uint64_t hash);
  void place(std::uint32_t owner);
  void take_keys(const ListStore<Token>& store, std::uint32_t set);

  // The sets met, a set again when its records are met apart (never in a
  // parse's store): that costs only its keys once more.
  std::vector<Set> sets_;
  std::uint32_t last_ = kNone;  // the set of the record opened or closed last
  std::vector<Opened> opened_;
  // The keys of the open sets, each set once, in the order they opened: kept
  // while they are few, and again once none is open.
  std::vector<std::pair<std::string_view, std::uint32_t>> scan_;
  std::size_t open_keys_ = 0;
  bool scanning_ = true;
  // Which set took each key last: kept from the first time the open keys
  // were many, when the open records take their keys again in order.
  bool owning_ = false;
  std::vector<Owner> owners_;
  // Once many: owners_ by key, open addressing (kNone is empty), at most half full.
  std::vector<std::uint32_t> slots_;
  std::vector<Taken> taken_;
};

}  // namespace lumra::template_ast
