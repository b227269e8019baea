#include "template/ast/shared_tokens.h"

#include <algorithm>
#include <stdexcept>

namespace lumra::template_ast {

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

List<Token>& SharedTokens::mut() {
  const bool own = store_ && begin_ == 0 && end_ == kToEnd && store_->refs.load(std::memory_order_acquire) == 1;
  if (!own) {
    auto* fresh = new TokenStore;
    try {
      fresh->tokens.assign(begin(), end());
    } catch (...) {
      delete fresh;
      throw;
    }
    if (store_) release();
    store_ = fresh;
    begin_ = 0;
    end_ = kToEnd;
  }
  return store_->tokens;
}

List<Token>& TokenStoreWriter::tokens() {
  if (!whole_.store_) {
    whole_.store_ = new TokenStore;
    whole_.end_ = SharedTokens::kToEnd;
  }
  return whole_.store_->tokens;
}

void TokenStoreWriter::push_back(const Token& token) {
  List<Token>& out = tokens();
  // Positions are 32-bit; a list of four billion names is far beyond any page.
  if (out.size() >= SharedTokens::kToEnd - 1) throw std::length_error("too many used variables in one template");
  out.push_back(Token{texts_.copy(token.content), token.start_index, token.end_index, token.line_col});
}

void TokenStoreWriter::reserve_more(std::size_t count) {
  List<Token>& out = tokens();
  if (out.capacity() - out.size() >= count) return;
  // Doubling at least, so that many small reserves stay linear.
  out.reserve(std::max(out.size() + count, 2 * out.capacity()));
}

void TokenStoreWriter::append(std::span<const Token> tokens) {
  if (tokens.empty()) return;
  reserve_more(tokens.size());
  for (const Token& token : tokens) push_back(token);
}

void TokenStoreWriter::append_list(const SharedTokens& tokens) {
  const std::size_t count = tokens.size();
  if (count == 0) return;
  reserve_more(count);
  // Read after the growth: the list may be a run of this very store.
  for (std::size_t i = 0; i < count; ++i) push_back(tokens[i]);
}

SharedTokens TokenStoreWriter::run(std::uint32_t from, std::uint32_t to) const {
  SharedTokens out;
  if (from >= to) return out;
  out.store_ = whole_.store_;
  out.store_->refs.fetch_add(1, std::memory_order_relaxed);
  out.begin_ = from;
  out.end_ = to;
  return out;
}

}  // namespace lumra::template_ast
