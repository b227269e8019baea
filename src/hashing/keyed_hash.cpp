#include "hashing/keyed_hash.h"

#include <sys/random.h>

#include <bit>
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

std::uint64_t load_le64(const char* p) noexcept {
  std::uint64_t word;
  std::memcpy(&word, p, 8);
  if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
  return word;
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

}  // namespace

namespace detail {
HashKey process_key = random_key();
}  // namespace detail

void set_process_key(HashKey key) noexcept {
  static std::once_flag once;
  std::call_once(once, [&] { detail::process_key = key; });
}

std::uint64_t siphash13(HashKey key, std::string_view bytes) noexcept {
  SipState s{key.k0 ^ 0x736f6d6570736575ull, key.k1 ^ 0x646f72616e646f6dull, key.k0 ^ 0x6c7967656e657261ull,
             key.k1 ^ 0x7465646279746573ull};
  const char* p = bytes.data();
  const std::size_t size = bytes.size();
  for (const char* end = p + (size & ~std::size_t{7}); p != end; p += 8) s.absorb(load_le64(p));
  // The last 0 to 7 bytes, with the length's low byte on top.
  std::uint64_t last = static_cast<std::uint64_t>(size) << 56;
  for (std::size_t i = 0; i < (size & 7); ++i) last |= std::uint64_t{static_cast<unsigned char>(p[i])} << (8 * i);
  s.absorb(last);
  s.v2 ^= 0xff;
  s.round();
  s.round();
  s.round();
  return s.v0 ^ s.v1 ^ s.v2 ^ s.v3;
}

}  // namespace lumra::hashing
