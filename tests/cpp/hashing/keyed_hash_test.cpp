#include "hashing/keyed_hash.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>

namespace lumra::hashing {
namespace {

// CPython 3.12 hashes bytes with SipHash-1-3 too: these are its hash(bytes(range(n)))
// under PYTHONHASHSEED=0 (a zero key) and under the key PYTHONHASHSEED=1 draws.
TEST(KeyedHash, AgreesWithCPythonsSipHash13) {
  struct Row {
    HashKey key;
    std::size_t size;
    std::uint64_t hash;
  };
  constexpr HashKey kZero{0, 0};
  constexpr HashKey kSeed1{0xaed66ce184be2329ull, 0xebe9bbf1f1499052ull};
  const Row rows[] = {
      {kZero, 1, 0x68a914128e01e473ull},  {kZero, 7, 0x2f098ab0c751325aull},  {kZero, 8, 0xead411e67ebe2eeaull},
      {kZero, 9, 0x75927f9d95124362ull},  {kZero, 15, 0xf30eb725bb91c9eaull}, {kZero, 16, 0x8972188433a5c5b7ull},
      {kZero, 17, 0x4883c49a2c009c1dull}, {kZero, 24, 0x31185a47af932f3aull}, {kZero, 31, 0x169739443111d49bull},
      {kZero, 63, 0x385d3e39e5f37359ull}, {kSeed1, 1, 0xecd3e5afcecda4b9ull}, {kSeed1, 7, 0xfd15e78052a69ddfull},
      {kSeed1, 8, 0xc0b5739e7e28dd01ull}, {kSeed1, 9, 0x208a1a5a0cbbf778ull}, {kSeed1, 15, 0xfa87985f39e97a53ull},
      {kSeed1, 16, 0x12e9d283f9f37002ull}, {kSeed1, 17, 0x9f5bb4237f61907full}, {kSeed1, 24, 0x19b4e5f288f874ceull},
      {kSeed1, 31, 0xb8c17103f21d8810ull}, {kSeed1, 63, 0x542052345bc68274ull},
  };
  std::string bytes;
  for (int i = 0; i < 64; ++i) bytes.push_back(static_cast<char>(i));
  for (const Row& row : rows) {
    EXPECT_EQ(siphash13(row.key, std::string_view(bytes).substr(0, row.size)), row.hash)
        << "size " << row.size << " key " << row.key.k0;
  }
}

TEST(KeyedHash, TheFirstKeySetIsTheProcesssKey) {
  const std::string_view name = "n1";
  set_process_key({1, 2});
  set_process_key({3, 4});
  EXPECT_EQ(process_key().k0, 1u);
  EXPECT_EQ(process_key().k1, 2u);
  EXPECT_EQ(hash_text(name), siphash13({1, 2}, name));
  EXPECT_EQ(TextHash{}(name), hash_text(name));
  EXPECT_NE(siphash13({1, 2}, name), siphash13({3, 4}, name));
}

}  // namespace
}  // namespace lumra::hashing
