#include "hashing/keyed_hash.h"

#include <sys/random.h>

#include <cstring>
#include <mutex>
#include <random>

namespace lumra::hashing {
namespace {

HashKey random_key() {
  HashKey key;
  unsigned char bytes[sizeof key];
  std::size_t got = 0;
  while (got < sizeof bytes) {
    const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
    if (n <= 0) break;
    got += static_cast<std::size_t>(n);
  }
  if (got < sizeof bytes) {
    // No getrandom (an old kernel or a sandbox): the library's own source.
    std::random_device device;
    for (unsigned char& byte : bytes) byte = static_cast<unsigned char>(device());
  }
  std::memcpy(&key, bytes, sizeof key);
  return key;
}

}  // namespace

namespace detail {
HashKey process_key = random_key();
}  // namespace detail

HashKey python_seed_key(std::uint32_t seed) noexcept {
  unsigned char bytes[sizeof(HashKey)] = {};
  if (seed != 0) {
    std::uint32_t x = seed;
    for (unsigned char& byte : bytes) {
      x = x * 214013u + 2531011u;
      byte = static_cast<unsigned char>(x >> 16);
    }
  }
  HashKey key;
  key.k0 = detail::load_le(reinterpret_cast<const char*>(bytes), 8);
  key.k1 = detail::load_le(reinterpret_cast<const char*>(bytes) + 8, 8);
  return key;
}

void set_process_key(HashKey key) noexcept {
  static std::once_flag once;
  std::call_once(once, [&] { detail::process_key = key; });
}

}  // namespace lumra::hashing
