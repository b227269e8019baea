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

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string_view>
#include <unordered_map>
#include <unordered_set>

namespace lumra::hashing {

struct HashKey {
  std::uint64_t k0 = 0;
  std::uint64_t k1 = 0;
};

// SipHash-1-3 of `bytes` under `key`.
std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept;

namespace detail {
// Drawn at random when the program starts; see set_process_key.
extern HashKey process_key;
}  // namespace detail

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
