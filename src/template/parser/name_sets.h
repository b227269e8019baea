// Name sets and maps that view the names in place (attribute keys, slot
// names, rule names): a linear scan while small, so ordinary tags allocate
// nothing, and a hash map beyond, so a tag with thousands of attributes stays
// linear.
#pragma once

#include <cstddef>
#include <new>
#include <string_view>
#include <type_traits>
#include <utility>

#include "hashing/keyed_hash.h"

namespace lumra::template_parser {

template <class Value>
class NameMap {
  // Entries are plain values: the inline slots need no construction (every
  // node builds a few of these maps) and no destruction.
  static_assert(std::is_trivially_copyable_v<Value> && std::is_trivially_destructible_v<Value>);
  struct Entry {
    std::string_view name;
    Value value;
  };

 public:
  NameMap() {}  // NOLINT(modernize-use-equals-default): leaves the inline slots unset
  NameMap(const NameMap&) = delete;
  NameMap& operator=(const NameMap&) = delete;

  // The value stored under `name`, or null.
  const Value* find(std::string_view name) const {
    if (count_ <= kInline) {
      for (std::size_t i = 0; i < count_; ++i) {
        if (slot(i).name == name) return &slot(i).value;
      }
      return nullptr;
    }
    auto it = spill_.find(name);
    return it == spill_.end() ? nullptr : &it->second;
  }

  // Stores `value` under `name` unless the name is present; returns the
  // stored value and whether this call stored it.
  std::pair<const Value*, bool> insert(std::string_view name, Value value) {
    if (const Value* found = find(name)) return {found, false};
    if (count_ < kInline) {
      Entry* entry = ::new (static_cast<void*>(inline_ + count_ * sizeof(Entry))) Entry{name, value};
      ++count_;
      return {&entry->value, true};
    }
    if (count_ == kInline) {
      spill_.reserve(2 * kInline);
      for (std::size_t i = 0; i < kInline; ++i) spill_.emplace(slot(i).name, slot(i).value);
    }
    ++count_;
    return {&spill_.emplace(name, value).first->second, true};
  }

  std::size_t size() const noexcept { return count_; }

 private:
  static constexpr std::size_t kInline = 16;
  const Entry& slot(std::size_t i) const {
    return *std::launder(reinterpret_cast<const Entry*>(inline_ + i * sizeof(Entry)));
  }

  alignas(Entry) unsigned char inline_[kInline * sizeof(Entry)];
  std::size_t count_ = 0;
  hashing::TextMap<std::string_view, Value> spill_;
};

class NameSet {
 public:
  // False when the name was already there.
  bool insert(std::string_view name) { return map_.insert(name, true).second; }
  bool contains(std::string_view name) const { return map_.find(name) != nullptr; }
  std::size_t size() const noexcept { return map_.size(); }

 private:
  NameMap<bool> map_;
};

}  // namespace lumra::template_parser
