// The one hash of every table whose keys come from the input: names in a
// template, an expression or a caller's rules.
//
// A hash with a fixed seed lets anyone compute, once and for all, thousands of
// names that land in one bucket, and each then costs a scan of all the others.
// SipHash-1-3 under a key drawn once per process (as CPython and Rust hash
// their strings) leaves nothing to compute in advance. The module fixes the
// key at import from Python's own hash, so PYTHONHASHSEED repeats a run.
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
};

}  // namespace detail

// SipHash-1-3 of `bytes` under `key`. Inline: names are short, and a table
// probe should not pay a call for them.
inline std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept {
  detail::SipState s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
                     key.k1 ^ 0x7465646279746573ull};
  const char* p = bytes.data();
  for (const char* end = p + (bytes.size() & ~std::size_t{7}); p != end; p += 8) s.absorb(detail::load_le(p, 8));
  // The length's low byte above the last 0 to 7 bytes.
  s.absorb(static_cast<std::uint64_t>(bytes.size()) << 56 | detail::tail(bytes));
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

// Fixes the process's key. Only the first call counts, and it must come
// before anything is hashed: a table keeps the hashes it was built with.
void set_process_key(HashKey key) noexcept;

inline HashKey process_key() noexcept { return detail::process_key; }

// The hash of a name under the process's key.
inline std::uint64_t hash_text(std::string_view text) noexcept { return siphash13(detail::process_key, text); }

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
