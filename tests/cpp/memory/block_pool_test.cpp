// The block pool: blocks come back for reuse within their size class, the
// thread's reserve stays within its budget, and a thread's blocks are its own.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "memory/block_pool.h"

namespace lumra::memory {
namespace {

TEST(BlockPoolTest, FreedBlockServesTheNextRequestOfItsClass) {
  if (!kPooling) GTEST_SKIP() << "the sanitizer build hands every block to operator new";
  // Sizes at both edges of a class, and a block is usable up to the class size.
  for (const std::size_t size : {1, 16, 17, 100, 1008, 1024}) {
    void* block = pool_allocate(size);
    std::memset(block, 0xab, (size + 15) / 16 * 16);
    pool_free(block, size);
    void* again = pool_allocate((size + 15) / 16 * 16);
    EXPECT_EQ(again, block) << size;
    pool_free(again, (size + 15) / 16 * 16);
  }
  // Other classes, and blocks too large to pool, do not take it.
  void* small = pool_allocate(40);
  pool_free(small, 40);
  void* other = pool_allocate(64);
  EXPECT_NE(other, small);
  pool_free(other, 64);
  void* large = pool_allocate(kLargestPooledBlock + 1);
  const std::size_t before = pool_cached_bytes();
  pool_free(large, kLargestPooledBlock + 1);
  EXPECT_EQ(pool_cached_bytes(), before);
}

TEST(BlockPoolTest, ReserveStaysWithinItsBudget) {
  std::vector<void*> blocks;
  const std::size_t count = kPoolBudget / 512 + 100;
  for (std::size_t i = 0; i < count; ++i) blocks.push_back(pool_allocate(512));
  for (void* block : blocks) pool_free(block, 512);
  EXPECT_LE(pool_cached_bytes(), kPoolBudget);
  if (kPooling) {
    EXPECT_GT(pool_cached_bytes(), kPoolBudget - 512 - 1);
  }
  // Taking them all again empties the reserve of that class.
  blocks.clear();
  for (std::size_t i = 0; i < count; ++i) blocks.push_back(pool_allocate(512));
  EXPECT_LT(pool_cached_bytes(), 512u);
  for (void* block : blocks) pool_free(block, 512);
}

TEST(BlockPoolTest, BlocksFreedOnAnotherThreadJoinItsReserve) {
  std::vector<void*> blocks;
  for (int i = 0; i < 100; ++i) blocks.push_back(pool_allocate(200));
  std::size_t cached_there = 0;
  std::thread worker([&] {
    for (void* block : blocks) pool_free(block, 200);
    cached_there = pool_cached_bytes();
  });
  worker.join();  // the worker's reserve is freed with it (leak checkers see to it)
  EXPECT_EQ(cached_there, kPooling ? 100u * 208u : 0u);
}

}  // namespace
}  // namespace lumra::memory
