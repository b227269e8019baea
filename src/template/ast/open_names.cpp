#include "template/ast/open_names.h"

#include <bit>

#include "hashing/keyed_hash.h"

namespace lumra::template_ast {

void OpenNames::open(const ListStore<Token>& store, std::uint32_t number) {
  const LeftOut& record = store.left_out[number];
  std::uint32_t set = known_set(record);
  if (set == kNone) {
    set = static_cast<std::uint32_t>(sets_.size());
    sets_.push_back({record.keys_from, record.keys_to - record.keys_from});
  }
  last_ = set;
  Set& state = sets_[set];
  opened_.push_back({set, state.least, static_cast<std::uint32_t>(taken_.size())});
  state.least = std::min(state.least, number);
  if (state.open++ == 0) {
    open_keys_ += state.keys;
    if (scanning_ && open_keys_ <= kScanLimit) {
      for (std::uint32_t k = record.keys_from; k < record.keys_to; ++k) scan_.emplace_back(store.keys[k], set);
    } else if (scanning_) {
      scanning_ = false;
      scan_.clear();
    }
  }
  if (owning_) {
    if (!sets_[set].current) take_keys(store, set);
  } else if (!scanning_) {
    // The open records take their keys as if they had opened from now on.
    owning_ = true;
    for (Opened& opened : opened_) {
      opened.taken_from = static_cast<std::uint32_t>(taken_.size());
      if (!sets_[opened.set].current) take_keys(store, opened.set);
    }
  }
}

void OpenNames::close() {
  const Opened opened = opened_.back();
  opened_.pop_back();
  last_ = opened.set;
  // The keys it took from sets still open go back to them.
  for (std::size_t i = taken_.size(); i > opened.taken_from; --i) {
    owners_[taken_[i - 1].owner].set = taken_[i - 1].set;
    sets_[opened.set].current = false;
  }
  taken_.resize(opened.taken_from);
  Set& state = sets_[opened.set];
  state.least = opened.least_before;
  if (--state.open > 0) return;
  // Sets close in the reverse order they opened: its keys are the last.
  open_keys_ -= state.keys;
  if (scanning_) {
    scan_.resize(scan_.size() - state.keys);
  } else if (open_keys_ == 0) {
    scanning_ = true;
  }
}

std::size_t OpenNames::keys_to_take(const ListStore<Token>& store, std::uint32_t number) const {
  const LeftOut& record = store.left_out[number];
  const std::uint32_t set = known_set(record);
  if (set != kNone && (!owning_ || sets_[set].current)) return 0;
  return record.keys_to - record.keys_from;
}

std::uint32_t OpenNames::looked_up(std::string_view key) const {
  const std::uint32_t owner = find_owner(key, slots_.empty() ? 0 : hashing::hash_text(key));
  if (owner == kNone) return kNone;
  // The set that took the key last is the innermost open one that holds it.
  const Set& set = sets_[owners_[owner].set];
  return set.open > 0 ? set.least : kNone;
}

void OpenNames::clear() {
  sets_.clear();
  last_ = kNone;
  opened_.clear();
  scan_.clear();
  open_keys_ = 0;
  scanning_ = true;
  if (owning_) {
    owning_ = false;
    owners_.clear();
    slots_.clear();
    taken_.clear();
  }
}

std::uint32_t OpenNames::find_owner(std::string_view key, std::uint64_t hash) const {
  if (slots_.empty()) {
    for (std::uint32_t o = 0; o < owners_.size(); ++o) {
      if (owners_[o].key == key) return o;
    }
    return kNone;
  }
  const std::size_t mask = slots_.size() - 1;
  for (std::size_t i = hash & mask;; i = (i + 1) & mask) {
    const std::uint32_t owner = slots_[i];
    if (owner == kNone || owners_[owner].key == key) return owner;
  }
}

void OpenNames::add_owner(std::string_view key, std::uint32_t set, std::uint64_t hash) {
  const auto added = static_cast<std::uint32_t>(owners_.size());
  owners_.push_back({key, set, hash});
  if (slots_.empty() && owners_.size() <= kScanLimit) return;
  if (2 * owners_.size() <= slots_.size()) {
    place(added);
    return;
  }
  slots_.assign(std::bit_ceil(4 * owners_.size()), kNone);
  for (std::uint32_t o = 0; o < owners_.size(); ++o) place(o);
}

void OpenNames::place(std::uint32_t owner) {
  const std::size_t mask = slots_.size() - 1;
  std::size_t i = owners_[owner].hash & mask;
  while (slots_[i] != kNone) i = (i + 1) & mask;
  slots_[i] = owner;
}

void OpenNames::take_keys(const ListStore<Token>& store, std::uint32_t set) {
  const std::uint32_t first = sets_[set].first_key;
  for (std::uint32_t k = first; k < first + sets_[set].keys; ++k) {
    const std::string_view key = store.keys[k];
    // Keys are taken only once the open keys are many: the table is in use,
    // or about to be, and each key is hashed once.
    const std::uint64_t hash = hashing::hash_text(key);
    const std::uint32_t owner = find_owner(key, hash);
    if (owner == kNone) {
      add_owner(key, set, hash);
      continue;
    }
    const std::uint32_t before = owners_[owner].set;
    if (before == set) continue;
    sets_[before].current = false;
    if (sets_[before].open > 0) taken_.push_back({owner, before});
    owners_[owner].set = set;
  }
  sets_[set].current = true;
}

}  // namespace lumra::template_ast
