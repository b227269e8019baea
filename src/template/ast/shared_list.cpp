#include "template/ast/shared_list.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

namespace lumra::template_ast {

namespace {

// The keys of the records open at a point of the sweep, compared by scanning
// while few and through counts once many are open (deep loop nesting).
class OpenKeys {
 public:
  void push(std::span<const std::string> keys) {
    for (const std::string& key : keys) open_.push_back(key);
    if (!counts_.empty()) {
      for (const std::string& key : keys) ++counts_[key];
    } else if (open_.size() > kScanLimit) {
      for (std::string_view key : open_) ++counts_[key];
    }
  }
  void pop(std::size_t count) {
    for (; count > 0; --count) {
      const std::string_view key = open_.back();
      if (!counts_.empty()) {
        const auto it = counts_.find(key);
        if (--it->second == 0) counts_.erase(it);
      }
      open_.pop_back();
    }
    if (open_.size() <= kScanLimit) counts_.clear();
  }

  // Whether the name's key is open.
  bool holds_name(std::string_view name) const {
    if (open_.empty()) return false;
    const VariableKey key(name);
    if (!counts_.empty()) return counts_.contains(key.view());
    return std::find(open_.begin(), open_.end(), key.view()) != open_.end();
  }

 private:
  static constexpr std::size_t kScanLimit = 8;

  std::vector<std::string_view> open_;
  std::unordered_map<std::string_view, std::uint32_t> counts_;
};

}  // namespace

void check_list_room(std::size_t size) {
  if (size >= UINT32_MAX - 1) throw std::length_error("too many items in one template's lists");
}

void for_each_listed(const ListStore<Token>& store, std::size_t begin, std::size_t end, std::uint32_t left_begin,
                     std::uint32_t left_end, void (*visit)(void*, const Token&), void* context) {
  // The records that apply, outer ones first where they start together, so
  // that open records form a stack.
  std::vector<const LeftOut*> records;
  records.reserve(left_end - left_begin);
  for (std::uint32_t i = left_begin; i < left_end; ++i) {
    if (store.left_out[i].from < store.left_out[i].to) records.push_back(&store.left_out[i]);
  }
  std::sort(records.begin(), records.end(), [](const LeftOut* a, const LeftOut* b) {
    return a->from != b->from ? a->from < b->from : a->to > b->to;
  });
  std::vector<const LeftOut*> open;
  OpenKeys keys;
  std::size_t next = 0;
  for (std::size_t i = begin; i < end;) {
    while (!open.empty() && open.back()->to <= i) {
      keys.pop(open.back()->keys_to - open.back()->keys_from);
      open.pop_back();
    }
    bool skipped = false;
    for (; next < records.size() && records[next]->from <= i; ++next) {
      const LeftOut* record = records[next];
      if (record->keys_from == record->keys_to) {
        // Every name of the range is left out, and so are the records inside it.
        i = record->to;
        while (next + 1 < records.size() && records[next + 1]->from < record->to) ++next;
        skipped = true;
        break;
      }
      open.push_back(record);
      keys.push(std::span<const std::string>(store.keys).subspan(record->keys_from, record->keys_to - record->keys_from));
    }
    if (skipped) {
      ++next;
      continue;
    }
    const Token& token = store.items[i++];
    if (!keys.holds_name(token.content)) visit(context, token);
  }
}

}  // namespace lumra::template_ast
