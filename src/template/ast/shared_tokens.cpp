#include "template/ast/shared_tokens.h"

#include <algorithm>
#include <stdexcept>
#include <unordered_map>

namespace lumra::template_ast {

namespace {

// Positions are 32-bit; four billion names are far beyond any page.
void check_room(std::size_t size) {
  if (size >= UINT32_MAX - 1) throw std::length_error("too many used variables in one template");
}

bool ascii(std::string_view s) noexcept {
  unsigned char any = 0;
  for (const char c : s) any |= static_cast<unsigned char>(c);
  return any < 0x80;
}

// The keys of the records open at a point of the sweep. Most names read are
// not left out: an ASCII name (its own key) whose length and first byte no
// open ASCII key shares is let through without a comparison. Keys are then
// compared by scanning while few, and through counts once many are open
// (deep loop nesting).
class OpenKeys {
 public:
  void push(std::span<const std::string> keys) {
    for (const std::string& key : keys) {
      open_.push_back(key);
      if (ascii(key)) ++buckets_[bucket(key)];
    }
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
      if (ascii(key)) --buckets_[bucket(key)];
      open_.pop_back();
    }
    if (open_.size() <= kScanLimit) counts_.clear();
  }

  // Whether the name's key is open.
  bool holds_name(std::string_view name) const {
    if (open_.empty()) return false;
    if (ascii(name)) return buckets_[bucket(name)] != 0 && contains(name);
    return contains(VariableKey(name).view());
  }

 private:
  static constexpr std::size_t kScanLimit = 8;
  static std::size_t bucket(std::string_view key) noexcept {
    return (key.size() * 31 + (key.empty() ? 0 : static_cast<unsigned char>(key[0]))) % 64;
  }
  bool contains(std::string_view key) const {
    if (!counts_.empty()) return counts_.contains(key);
    return std::find(open_.begin(), open_.end(), key) != open_.end();
  }

  std::vector<std::string_view> open_;
  std::uint32_t buckets_[64] = {};
  std::unordered_map<std::string_view, std::uint32_t> counts_;
};

}  // namespace

SharedTokens::SharedTokens(List<Token> tokens) {
  if (tokens.empty()) return;
  store_ = new TokenStore;
  store_->tokens = std::move(tokens);
  end_ = kToEnd;
}

void SharedTokens::release() noexcept {
  if (store_->refs.fetch_sub(1, std::memory_order_acq_rel) == 1) delete store_;
  store_ = nullptr;
}

std::span<const Token> SharedTokens::span() const {
  if (!store_) return {};
  if (!is_flat()) throw std::logic_error("a list that leaves names out was read as a plain run");
  return {store_->tokens.data() + begin_, end_index() - begin_};
}

void SharedTokens::for_each_left_in(void (*visit)(void*, const Token&), void* context) const {
  const TokenStore& store = *store_;
  // The records that apply, outer ones first where they start together, so
  // that open records form a stack.
  std::vector<const LeftOut*> records;
  records.reserve(left_end_ - left_begin_);
  for (std::uint32_t i = left_begin_; i < left_end_; ++i) {
    if (store.left_out[i].from < store.left_out[i].to) records.push_back(&store.left_out[i]);
  }
  std::sort(records.begin(), records.end(), [](const LeftOut* a, const LeftOut* b) {
    return a->from != b->from ? a->from < b->from : a->to > b->to;
  });
  std::vector<const LeftOut*> open;
  OpenKeys keys;
  std::size_t next = 0;
  const std::size_t end = end_index();
  for (std::size_t i = begin_; i < end;) {
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
    const Token& token = store.tokens[i++];
    if (!keys.holds_name(token.content)) visit(context, token);
  }
}

SharedTokens SharedTokens::flat() const {
  if (is_flat()) return *this;
  List<Token> tokens;
  for_each([&](const Token& token) { tokens.push_back(token); });
  return SharedTokens(std::move(tokens));
}

std::size_t SharedTokens::size() const {
  if (!store_) return 0;
  if (is_flat()) return end_index() - begin_;
  std::size_t count = 0;
  for_each([&](const Token&) { ++count; });
  return count;
}

bool operator==(const SharedTokens& a, const SharedTokens& b) {
  if (a.is_flat() && b.is_flat()) {
    const auto x = a.span();
    const auto y = b.span();
    return std::equal(x.begin(), x.end(), y.begin(), y.end());
  }
  return a.flat() == b.flat();
}

List<Token>& SharedTokens::mut() {
  const bool own = store_ && begin_ == 0 && end_ == kToEnd && store_->refs.load(std::memory_order_acquire) == 1;
  if (!own) {
    auto* fresh = new TokenStore;
    try {
      if (is_flat()) {
        const auto tokens = span();
        fresh->tokens.assign(tokens.begin(), tokens.end());
      } else {
        for_each([&](const Token& token) { fresh->tokens.push_back(token); });
      }
    } catch (...) {
      delete fresh;
      throw;
    }
    if (store_) release();
    store_ = fresh;
    begin_ = 0;
    end_ = kToEnd;
    left_begin_ = left_end_ = 0;
  }
  return store_->tokens;
}

TokenStore& TokenStoreWriter::store() {
  if (!whole_.store_) {
    whole_.store_ = new TokenStore;
    whole_.end_ = SharedTokens::kToEnd;
  }
  return *whole_.store_;
}

void TokenStoreWriter::push_back(const Token& token) {
  List<Token>& out = store().tokens;
  check_room(out.size());
  out.push_back(Token{texts_.copy(token.content), token.start_index, token.end_index, token.line_col});
}

void TokenStoreWriter::append(std::span<const Token> tokens) {
  if (tokens.empty()) return;
  List<Token>& out = store().tokens;
  if (out.capacity() - out.size() < tokens.size()) {
    // Doubling at least, so that many small appends stay linear.
    out.reserve(std::max(out.size() + tokens.size(), 2 * out.capacity()));
  }
  for (const Token& token : tokens) push_back(token);
}

void TokenStoreWriter::append_list(const SharedTokens& tokens) {
  // Copied out first: the list may be a run of this very store, which
  // growing would move.
  List<Token> copy;
  tokens.for_each([&](const Token& token) { copy.push_back(token); });
  append(copy);
}

std::pair<std::uint32_t, std::uint32_t> TokenStoreWriter::keep_keys(std::span<const Token> names) {
  std::vector<std::string>& keys = store().keys;
  const auto from = static_cast<std::uint32_t>(keys.size());
  check_room(keys.size() + names.size());
  for (const Token& name : names) keys.emplace_back(VariableKey(name.content).view());
  return {from, static_cast<std::uint32_t>(keys.size())};
}

void TokenStoreWriter::leave_out(std::uint32_t from, std::uint32_t to, std::pair<std::uint32_t, std::uint32_t> keys) {
  if (from >= to || keys.first >= keys.second) return;
  std::vector<LeftOut>& records = store().left_out;
  check_room(records.size());
  records.push_back({from, to, keys.first, keys.second});
}

void TokenStoreWriter::skip(std::uint32_t from, std::uint32_t to) {
  if (from >= to) return;
  std::vector<LeftOut>& records = store().left_out;
  check_room(records.size());
  records.push_back({from, to, 0, 0});
}

}  // namespace lumra::template_ast
