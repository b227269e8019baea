#include "hashing/keyed_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <iterator>
#include <string>

namespace lumra::hashing {
namespace {

// CPython 3.12 hashes bytes with SipHash-1-3 too: these are its hash(bytes(range(n)))
// under PYTHONHASHSEED=0 and =1, for every length of tail (n % 8) with and
// without whole words before it.
TEST(KeyedHash, AgreesWithCPythonsSipHash13UnderItsSeededKeys) {
  constexpr std::size_t kSizes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16, 17, 24, 31, 63};
  struct Row {
    std::uint32_t seed;
    std::uint64_t hashes[std::size(kSizes)];
  };
  const Row rows[] = {
      {0,
       {
        0x68a914128e01e473ull, 0x010bac45c41e3669ull, 0x4d4c9a4a8ef6e0adull, 0x7cc43f98813e4dbdull,
        0x5abe2169dff36275ull, 0xe3c25f87624f1cdbull, 0x2f098ab0c751325aull, 0xead411e67ebe2eeaull,
        0x75927f9d95124362ull, 0xaf9f77a65ab51a1dull, 0xfe64ce8b6617fcffull, 0xa6baf4fb0f9fe1c2ull,
        0xa0cf3211850f8e0dull, 0x7f86049379fbfe67ull, 0xf30eb725bb91c9eaull, 0x8972188433a5c5b7ull,
        0x4883c49a2c009c1dull, 0x31185a47af932f3aull, 0x169739443111d49bull, 0x385d3e39e5f37359ull,
       }},
      {1,
       {
        0xecd3e5afcecda4b9ull, 0xbf360f1ea1745965ull, 0x8d5b20ab227ba858ull, 0x968a3280faeeb716ull,
        0xbbda3b5f513c3d69ull, 0xa77f099d6ffed90eull, 0xfd15e78052a69ddfull, 0xc0b5739e7e28dd01ull,
        0x208a1a5a0cbbf778ull, 0xb99907ab3e3e597cull, 0x4d9ec6e9c5127521ull, 0x9b07906e87e344adull,
        0x75973ed5708eb192ull, 0x3a6b5d52e1c90862ull, 0xfa87985f39e97a53ull, 0x12e9d283f9f37002ull,
        0x9f5bb4237f61907full, 0x19b4e5f288f874ceull, 0xb8c17103f21d8810ull, 0x542052345bc68274ull,
       }},
  };
  std::string bytes;
  for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<char>(i));
  for (const Row& row : rows) {
    for (std::size_t i = 0; i < std::size(kSizes); ++i) {
      EXPECT_EQ(siphash13(python_seed_key(row.seed), std::string_view(bytes).substr(0, kSizes[i])), row.hashes[i])
          << "size " << kSizes[i] << " seed " << row.seed;
    }
  }
  EXPECT_EQ(python_seed_key(0).k0 | python_seed_key(0).k1, 0u);
}

// Numbers hash as their 8-byte little-endian words would.
TEST(KeyedHash, NumbersHashAsTheirBytes) {
  const HashKey key{0x0706050403020100ull, 0x0f0e0d0c0b0a0908ull};
  const std::uint64_t one[] = {0x8877665544332211ull};
  const std::uint64_t four[] = {1, 0xffffffffffffffffull, 1ull << 63, 42};
  const auto bytes_of = [](const auto& words) {
    std::string out;
    for (std::uint64_t w : words) {
      for (int i = 0; i < 8; ++i) out.push_back(static_cast<char>(w >> (8 * i)));
    }
    return out;
  };
  EXPECT_EQ(siphash13(key, one), siphash13(key, bytes_of(one)));
  EXPECT_EQ(siphash13(key, four), siphash13(key, bytes_of(four)));
}

TEST(KeyedHash, TheFirstKeySetIsTheProcesssKey) {
  const std::string_view name = "n1";
  set_process_key({1, 2});
  set_process_key({3, 4});
  EXPECT_EQ(process_key().k0, 1u);
  EXPECT_EQ(process_key().k1, 2u);
  EXPECT_EQ(hash_text(name), siphash13({1, 2}, name));
  EXPECT_EQ(TextHash{}(name), hash_text(name));
  EXPECT_EQ(hash_numbers(7u, std::int64_t{-1}), siphash13({1, 2}, {7, ~std::uint64_t{0}}));
  EXPECT_NE(siphash13({1, 2}, name), siphash13({3, 4}, name));
}

}  // namespace
}  // namespace lumra::hashing
