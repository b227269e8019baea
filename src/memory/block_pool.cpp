#include "memory/block_pool.h"

namespace lumra::memory {

namespace {

constexpr std::size_t kStep = 16;
constexpr std::size_t kClasses = kLargestPooledBlock / kStep;

constexpr std::size_t class_of(std::size_t bytes) noexcept { return (bytes - 1) / kStep; }
constexpr std::size_t class_size(std::size_t c) noexcept { return (c + 1) * kStep; }

struct FreeBlock {
  FreeBlock* next;
};

struct Cache {
  FreeBlock* heads[kClasses] = {};
  std::size_t bytes = 0;
};

// The module's thread-local storage is static (it is loaded with other
// extension modules into a fixed reserve), so only a pointer lives there; the
// heads are allocated by the first free. Initial-exec: read on every call.
[[gnu::tls_model("initial-exec")]] thread_local Cache* t_cache = nullptr;
[[gnu::tls_model("initial-exec")]] thread_local bool t_closed = false;

// Returns the cached blocks when the thread ends; blocks freed after that go
// straight back to operator delete.
struct CacheReleaser {
  ~CacheReleaser() {
    t_closed = true;
    Cache* cache = t_cache;
    t_cache = nullptr;
    if (!cache) return;
    for (FreeBlock*& head : cache->heads) {
      while (FreeBlock* block = head) {
        head = block->next;
        ::operator delete(block);
      }
    }
    delete cache;
  }
  bool armed = false;
};
thread_local CacheReleaser t_releaser;

Cache* cache_for_freeing() noexcept {
  if (Cache* cache = t_cache) return cache;
  if (t_closed) return nullptr;
  Cache* cache = new (std::nothrow) Cache;
  if (!cache) return nullptr;
  t_releaser.armed = true;  // constructs it, which schedules its destructor
  t_cache = cache;
  return cache;
}

}  // namespace

void* pool_allocate(std::size_t bytes) {
  if (kPooling && bytes != 0 && bytes <= kLargestPooledBlock) {
    const std::size_t c = class_of(bytes);
    if (Cache* cache = t_cache) {
      if (FreeBlock* block = cache->heads[c]) {
        cache->heads[c] = block->next;
        cache->bytes -= class_size(c);
        // The list runs through cold memory: fetch the next block now, so
        // that the next request of this class does not wait for it.
        __builtin_prefetch(block->next, 1);
        return block;
      }
    }
    // Always the class's full size, so that any block of a class serves any request in it.
    return ::operator new(class_size(c));
  }
  return ::operator new(bytes);
}

void pool_free(void* block, std::size_t bytes) noexcept {
  if (kPooling && bytes != 0 && bytes <= kLargestPooledBlock) {
    const std::size_t c = class_of(bytes);
    Cache* cache = cache_for_freeing();
    if (cache && cache->bytes + class_size(c) <= kPoolBudget) {
      cache->heads[c] = new (block) FreeBlock{cache->heads[c]};
      cache->bytes += class_size(c);
      return;
    }
  }
  ::operator delete(block);
}

std::size_t pool_cached_bytes() noexcept {
  const Cache* cache = t_cache;
  return cache ? cache->bytes : 0;
}

}  // namespace lumra::memory
