// The one hash of every table whose keys come from the input: names in a
// template, an expression or a caller's rules, and numbers that a template
// sets (positions, counts).
//
// A hash with a fixed seed lets anyone compute, once and for all, thousands of
// names that land in one bucket, and each then costs a scan of all the others.
// SipHash-1-3 under a key drawn from the system once per process (as CPython
// and Rust hash their strings) leaves nothing to compute in advance. The
// module replaces the key only where PYTHONHASHSEED fixes Python's own hash,
// so that a run can be repeated.
//
// Nothing that leaves the core may depend on the key: such tables are only
// looked up, never read in their own order.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace lumra::hashing {

struct HashKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

namespace detail {

// Drawn at random when the program starts; see set_process_key.
extern HashKey process_key;

inline std::uint64_t load_le(const char* p, std::size_t n) noexcept {
  std::uint64_t word = 0;
  std::memcpy(&word, p, n);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word) >> (64 - 8 * n);
  return word;
}

// The last size % 8 bytes of `bytes` (little-endian), in a few loads rather
// than one per byte: most names are shorter than a word.
inline std::uint64_t tail(std::string_view bytes) noexcept {
  const std::size_t n = bytes.size() & 7;
  const char* p = bytes.data() + (bytes.size() - n);
  if (n == 0) return 0;
  if (bytes.size() >= 8) return load_le(p + n - 8, 8) >> (64 - 8 * n);
  if (n >= 4) return load_le(p, 4) | load_le(p + n - 4, 4) << (8 * (n - 4));
  return load_le(p, 1) | load_le(p + n / 2, 1) << (8 * (n / 2)) | load_le(p + n - 1, 1) << (8 * (n - 1));
}

struct SipState {
  std::uint64_t v0, v1, v2, v3;

  explicit SipState(HashKey key) noexcept
      : v0(key.k0 ^ 0x736f6d6570736575ull),
        v1(key.k1 ^ 0x646f72616e646f6dull),
        v2(key.k0 ^ 0x6c7967656e657261ull),
        v3(key.k1 ^ 0x7465646279746573ull) {}

  void round() noexcept {
    v0 += v1;
    v1 = std::rotl(v1, 13);
    v1 ^= v0;
    v0 = std::rotl(v0, 32);
    v2 += v3;
    v3 = std::rotl(v3, 16);
    v3 ^= v2;
    v0 += v3;
    v3 = std::rotl(v3, 21);
    v3 ^= v0;
    v2 += v1;
    v1 = std::rotl(v1, 17);
    v1 ^= v2;
    v2 = std::rotl(v2, 32);
  }
  void absorb(std::uint64_t word) noexcept {
    v3 ^= word;
    round();
    v0 ^= word;
  }
  // `last`: the length's low byte above the last 0 to 7 bytes.
  std::uint64_t finish(std::uint64_t last) noexcept {
    absorb(last);
    v2 ^= 0xff;
    round();
    round();
    round();
    return v0 ^ v1 ^ v2 ^ v3;
  }
};

}  // namespace detail

// SipHash-1-3 of `bytes` under `key`. Inline: names are short, and a table
// probe should not pay a call for them.
inline std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept {
  detail::SipState s(key);
  const char* p = bytes.data();
  for (const char* end = p + (bytes.size() & ~std::size_t{7}); p != end; p += 8) s.absorb(detail::load_le(p, 8));
  return s.finish(static_cast<std::uint64_t>(bytes.size()) << 56 | detail::tail(bytes));
}

// SipHash-1-3 under `key` of numbers (positions, counts, addresses) as
// 8-byte little-endian words: siphash13 of those bytes, without laying them out.
template <std::size_t N>
inline std::uint64_t siphash13(HashKey key, const std::uint64_t (&words)[N]) noexcept {
  detail::SipState s(key);
  for (const std::uint64_t word : words) s.absorb(word);
  return s.finish(static_cast<std::uint64_t>(8 * N) << 56);
}

// The key of CPython's hash of str and bytes in a process started with
// PYTHONHASHSEED=seed: the first 16 bytes of its secret, which a linear
// congruential generator fills from a seed other than 0; seed 0 leaves them 0.
HashKey python_seed_key(std::uint32_t seed) noexcept;

// Fixes the process's key. Only the first call counts, and it must come
// before anything is hashed: a table keeps the hashes it was built with.
void set_process_key(HashKey key) noexcept;

inline HashKey process_key() noexcept { return detail::process_key; }

// The hash of a name under the process's key.
inline std::uint64_t hash_text(std::string_view text) noexcept { return siphash13(detail::process_key, text); }

// The hash of numbers under the process's key, for tables keyed by positions
// or counts that the input sets.
template <class... Numbers>
inline std::uint64_t hash_numbers(Numbers... numbers) noexcept {
  const std::uint64_t words[] = {static_cast<std::uint64_t>(numbers)...};
  return siphash13(detail::process_key, words);
}

// For the standard unordered containers; finds by any text (transparent).
struct TextHash {
  using is_transparent = void;
  // Deliberately not noexcept: libstdc++ then stores each node's hash, so a
  // rehash or a walk along a bucket hashes no key again.
  std::size_t operator()(std::string_view text) const { return hash_text(text); }
};

template <class Key, class Value>
using TextMap = std::unordered_map<Key, Value, TextHash, std::equal_to<>>;
template <class Key>
using TextSet = std::unordered_set<Key, TextHash, std::equal_to<>>;

}  // namespace lumra::hashing
