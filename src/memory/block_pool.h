// A per-thread cache of freed small blocks, for the trees that parses make and
// drop by the thousand.
//
// malloc's own per-thread cache keeps only a few blocks of a size; beyond
// them a freed tree's blocks go through its bins, which cost a parse about a
// tenth of its time. Blocks of up to kLargestPooledBlock bytes come here in
// 16-byte size classes. A thread keeps at most kPoolBudget bytes of freed
// blocks for reuse and frees the rest, and all of them when it ends; a block
// freed on another thread joins that thread's cache.
//
// Built with AddressSanitizer, every block goes straight to operator new and
// delete, so that the sanitizer still sees each use after free.
#pragma once

#include <cstddef>
#include <new>
#include <type_traits>

namespace lumra::memory {

#if defined(__SANITIZE_ADDRESS__)
inline constexpr bool kPooling = false;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
inline constexpr bool kPooling = false;
#else
inline constexpr bool kPooling = true;
#endif
#else
inline constexpr bool kPooling = true;
#endif

inline constexpr std::size_t kLargestPooledBlock = 1024;
inline constexpr std::size_t kPoolBudget = std::size_t{2} << 20;

// `bytes` must be passed again, unchanged, to free the block.
void* pool_allocate(std::size_t bytes);
void pool_free(void* block, std::size_t bytes) noexcept;

// The bytes this thread holds for reuse (for tests).
std::size_t pool_cached_bytes() noexcept;

// A standard allocator over the pool. Stateless: any two compare equal, so
// containers move and swap their storage freely.
template <class T>
class PoolAllocator {
 public:
  using value_type = T;
  using propagate_on_container_move_assignment = std::true_type;
  using is_always_equal = std::true_type;

  PoolAllocator() noexcept = default;
  template <class U>
  PoolAllocator(const PoolAllocator<U>&) noexcept {}  // NOLINT: rebinding converts implicitly

  T* allocate(std::size_t n) {
    if (n > std::size_t(-1) / sizeof(T)) throw std::bad_array_new_length();
    return static_cast<T*>(pool_allocate(n * sizeof(T)));
  }
  void deallocate(T* block, std::size_t n) noexcept { pool_free(block, n * sizeof(T)); }

  template <class U>
  friend bool operator==(const PoolAllocator&, const PoolAllocator<U>&) noexcept {
    return true;
  }
};

}  // namespace lumra::memory
