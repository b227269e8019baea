#include "template/compiler/ir.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <new>
#include <stdexcept>
#include <utility>

namespace lumra::template_compiler {

namespace {

// Read for every node a compile makes: initial-exec, so a read is one load
// (the module's thread-local storage is static anyway).
[[gnu::tls_model("initial-exec")]] thread_local IrArena* current_arena = nullptr;

// Blocks have one size, below the C library's mapping threshold; a larger
// request gets a block of its own. Each thread keeps a few freed blocks for
// its next tree: blocks handed back to the system cost a page fault per page
// when the next compile takes them again.
constexpr std::size_t kBlockSize = std::size_t{64} << 10;
constexpr std::size_t kSpareBlocks = 64;

struct SpareBlocks {
  std::vector<std::unique_ptr<std::byte[]>> blocks;
};
thread_local SpareBlocks spare;

std::unique_ptr<std::byte[]> new_block(std::size_t size) {
  if (size == kBlockSize && !spare.blocks.empty()) {
    std::unique_ptr<std::byte[]> block = std::move(spare.blocks.back());
    spare.blocks.pop_back();
    return block;
  }
  return std::make_unique_for_overwrite<std::byte[]>(size);
}

}  // namespace

IrArena::~IrArena() {
  for (Region* region : {&nodes_, &texts_}) {
    for (Block& block : region->blocks) {
      if (block.size != kBlockSize || spare.blocks.size() >= kSpareBlocks) continue;
      // Without room on the list the block is simply freed.
      try {
        spare.blocks.push_back(std::move(block.bytes));
      } catch (const std::bad_alloc&) {
      }
    }
  }
}

IrArena::Scope::Scope(IrArena& arena) noexcept : previous_(current_arena) { current_arena = &arena; }

IrArena::Scope::~Scope() { current_arena = previous_; }

IrArena& IrArena::current() {
  if (current_arena == nullptr) throw std::logic_error("Internal error: a value tree was built without an arena");
  return *current_arena;
}

std::byte* IrArena::Region::take_from_new_block(std::size_t size, std::size_t align) {
  if (size > std::numeric_limits<std::size_t>::max() - align) throw std::bad_alloc();
  const std::size_t needed = size + align;
  const std::size_t block_size = needed <= kBlockSize ? kBlockSize : needed;
  blocks.push_back(Block{new_block(block_size), block_size});
  std::byte* start = blocks.back().bytes.get();
  const std::size_t padding = (0 - reinterpret_cast<std::uintptr_t>(start)) & (align - 1);
  // A block of its own leaves the current block open for the next requests.
  if (block_size != kBlockSize && cursor != nullptr) return start + padding;
  cursor = start + padding + size;
  end = start + block_size;
  return start + padding;
}

IrNode* IrArena::allocate_nodes(std::size_t count) {
  if (count > std::numeric_limits<std::size_t>::max() / sizeof(IrNode)) throw std::bad_alloc();
  return reinterpret_cast<IrNode*>(nodes_.take(count * sizeof(IrNode), alignof(IrNode)));
}

std::string_view IrArena::copy(std::string_view text) {
  if (text.empty()) return {};
  char* out = reinterpret_cast<char*>(texts_.take(text.size(), 1));
  std::memcpy(out, text.data(), text.size());
  return {out, text.size()};
}

std::string_view IrArena::concat(std::string_view text, std::string_view more) {
  if (more.empty()) return text;
  if (text.empty()) return copy(more);
  const auto* text_end = reinterpret_cast<const std::byte*>(text.data() + text.size());
  if (text_end == texts_.cursor && static_cast<std::size_t>(texts_.end - texts_.cursor) >= more.size()) {
    std::memcpy(texts_.cursor, more.data(), more.size());
    texts_.cursor += more.size();
    return {text.data(), text.size() + more.size()};
  }
  if (text.size() > std::numeric_limits<std::size_t>::max() - more.size()) throw std::bad_alloc();
  char* out = reinterpret_cast<char*>(texts_.take(text.size() + more.size(), 1));
  std::memcpy(out, text.data(), text.size());
  std::memcpy(out + text.size(), more.data(), more.size());
  return {out, text.size() + more.size()};
}

IrNode IrNode::sequence(Kind kind, std::string_view name, std::span<const IrNode> items) {
  IrNode node(kind);
  node.text_ = name;
  std::uint32_t inner = 0;
  for (const IrNode& item : items) inner = std::max(inner, item.depth_);
  node.depth_ = inner + 1;
  IrNode* stored = items.empty() ? nullptr : IrArena::current().allocate_nodes(items.size());
  if (!items.empty()) std::memcpy(static_cast<void*>(stored), items.data(), items.size() * sizeof(IrNode));
  node.payload_.items = {stored, items.size()};
  return node;
}

bool operator==(const IrNode& a, const IrNode& b) {
  if (a.kind_ != b.kind_ || a.depth_ != b.depth_ || a.text() != b.text() || a.number() != b.number() ||
      a.span_end() != b.span_end()) {
    return false;
  }
  const auto x = a.items();
  const auto y = b.items();
  return std::equal(x.begin(), x.end(), y.begin(), y.end());
}

}  // namespace lumra::template_compiler
