// Prints N distinct 24-byte identifiers that all share one value of
// std::hash<std::string_view> (libstdc++'s _Hash_bytes with its fixed seed),
// or, with --random, N distinct random identifiers of the same shape to compare
// against. Every hash table keyed with that hash sends all of them to one chain.
//
// The hash of a 24-byte string is three 8-byte block steps followed by an
// invertible finish, so one target value fixes the state after the last block.
// Each 16-byte prefix then leaves exactly one last block that reaches it: undo
// the block step (multiply by the inverse of the multiplier, xor, shift-mix,
// inverse again) and keep the block when its 8 bytes are identifier characters,
// which about one prefix in 73,000 gives.
//
// With --siphash K0 K1, the names instead share one bucket of a table that
// hashes with SipHash-1-3 under the key (K0, K1), as the core's tables do: with
// --mask M, the bucket `hash & M` of a table of 2^k slots (M = 2^k - 1, and so
// every smaller such table too); with --buckets-of K, the bucket `hash % B`,
// where B is the bucket count of a libstdc++ table once it holds K keys. A
// key read back from a process (through Python's hash(), say) lets anyone make
// such names; the search tries every ending of each prefix.
//
// Usage: colliding_names N [--random] [--seed S] [--siphash K0 K1 (--mask M | --buckets-of K)]
// Build: g++ -O2 -std=c++20 -pthread -I../src colliding_names.cpp -o colliding_names

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <random>
#include <string>
#include <string_view>
#include <thread>
#include <unordered_set>
#include <vector>

#include "hashing/keyed_hash.h"

namespace {

constexpr std::uint64_t kMul = (std::uint64_t{0xc6a4a793} << 32) + 0x5bd1e995;
constexpr std::uint64_t kSeed = 0xc70f6907;
constexpr std::size_t kLen = 24;

constexpr std::uint64_t inverse(std::uint64_t a) {
  std::uint64_t x = a;  // correct to 3 bits for odd a; each step doubles that
  for (int i = 0; i < 5; ++i) x *= 2 - a * x;
  return x;
}
constexpr std::uint64_t kInv = inverse(kMul);
static_assert(kMul * kInv == 1);

// x ^ (x >> 47) is its own inverse: the shift leaves no overlap.
constexpr std::uint64_t shift_mix(std::uint64_t v) { return v ^ (v >> 47); }
constexpr std::uint64_t block_step(std::uint64_t h, std::uint64_t block) {
  return (h ^ (shift_mix(block * kMul) * kMul)) * kMul;
}
constexpr std::uint64_t finish(std::uint64_t h) { return shift_mix(shift_mix(h) * kMul); }
constexpr std::uint64_t unfinish(std::uint64_t v) { return shift_mix(shift_mix(v) * kInv); }
constexpr std::uint64_t initial_state() { return kSeed ^ (kLen * kMul); }

std::uint64_t load(const char* p) {
  std::uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

constexpr std::string_view kLetters = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr std::string_view kChars = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789_";

struct CharTable {
  bool ok[256] = {};
  constexpr CharTable() {
    for (char c : kChars) ok[static_cast<unsigned char>(c)] = true;
  }
};
constexpr CharTable kTable;

bool all_identifier_chars(std::uint64_t block) {
  for (int i = 0; i < 8; ++i, block >>= 8)
    if (!kTable.ok[block & 0xff]) return false;
  return true;
}

std::uint64_t splitmix(std::uint64_t x) {
  x += 0x9e3779b97f4a7c15;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9;
  x = (x ^ (x >> 27)) * 0x94d049bb133111eb;
  return x ^ (x >> 31);
}

// Chunk c fixes bytes 0..12 (a letter, then base-63 digits of a seeded counter,
// which 52 * 63^11 > 2^64 keeps one-to-one); the chunk tries all 63^3 endings
// of bytes 13..15. One prefix yields at most one name, so names never repeat.
constexpr std::size_t kFixed = 13;

std::vector<std::string> search_chunk(std::uint64_t counter, std::uint64_t last_state) {
  std::string name(kLen, ' ');
  name[0] = kLetters[counter % kLetters.size()];
  counter /= kLetters.size();
  for (std::size_t i = 1; i < kFixed; ++i, counter /= kChars.size()) name[i] = kChars[counter % kChars.size()];
  const std::uint64_t h1 = block_step(initial_state(), load(name.data()));
  const std::uint64_t fixed = load(name.data() + 8) & ((std::uint64_t{1} << 40) - 1);
  const std::uint64_t undo = last_state * kInv;  // state before the multiply of the last step
  std::vector<std::string> found;
  for (unsigned char a : kChars)
    for (unsigned char b : kChars)
      for (unsigned char c : kChars) {
        const std::uint64_t block2 = fixed | std::uint64_t{a} << 40 | std::uint64_t{b} << 48 | std::uint64_t{c} << 56;
        const std::uint64_t mixed = block_step(h1, block2) ^ undo;  // = shift_mix(block3 * mul) * mul
        const std::uint64_t block3 = shift_mix(mixed * kInv) * kInv;
        if (!all_identifier_chars(block3)) continue;
        std::memcpy(name.data() + 8, &block2, 8);
        std::memcpy(name.data() + 16, &block3, 8);
        found.push_back(name);
      }
  return found;
}

// The same search for SipHash-1-3 under `key`: bytes 0..12 as above, bytes
// 16..23 from the counter too, and every ending of bytes 13..15 tried.
struct SipTarget {
  lumra::hashing::HashKey key;
  std::uint64_t mask = 0;     // hash & mask == 0, when not 0
  std::uint64_t buckets = 0;  // else hash % buckets == 0
};

std::vector<std::string> search_chunk_siphash(std::uint64_t counter, const SipTarget& target) {
  std::string name(kLen, ' ');
  std::uint64_t tail = splitmix(counter);
  for (std::size_t i = 16; i < kLen; ++i, tail >>= 6) name[i] = kChars[(tail & 63) % kChars.size()];
  name[0] = kLetters[counter % kLetters.size()];
  counter /= kLetters.size();
  for (std::size_t i = 1; i < kFixed; ++i, counter /= kChars.size()) name[i] = kChars[counter % kChars.size()];
  std::vector<std::string> found;
  for (char a : kChars)
    for (char b : kChars)
      for (char c : kChars) {
        name[13] = a, name[14] = b, name[15] = c;
        const std::uint64_t hash = lumra::hashing::siphash13(target.key, name);
        if (target.mask ? (hash & target.mask) == 0 : hash % target.buckets == 0) found.push_back(name);
      }
  return found;
}

// The bucket count of a libstdc++ table once it holds `keys` keys: its prime
// rehash policy looks at nothing but their number.
std::size_t buckets_of(std::size_t keys) {
  std::unordered_set<std::size_t> table;
  for (std::size_t k = 0; k < keys; ++k) table.insert(k);
  return table.bucket_count();
}

template <class Search>
std::vector<std::string> colliding(std::size_t n, std::uint64_t seed, Search&& search_chunk) {
  const std::uint64_t base = splitmix(seed);
  std::atomic<std::uint64_t> next{0};
  std::atomic<bool> enough{false};
  std::mutex mutex;
  std::map<std::uint64_t, std::vector<std::string>> done;  // by chunk, so the output does not depend on timing
  std::vector<std::string> names;
  std::uint64_t contiguous = 0;
  auto work = [&] {
    while (!enough) {
      const std::uint64_t chunk = next++;
      auto found = search_chunk(base + chunk);
      std::lock_guard lock(mutex);
      done.emplace(chunk, std::move(found));
      for (auto it = done.find(contiguous); it != done.end(); it = done.find(++contiguous)) {
        for (auto& name : it->second)
          if (names.size() < n) names.push_back(std::move(name));
        done.erase(it);
      }
      if (names.size() >= n) enough = true;
    }
  };
  std::vector<std::thread> threads;
  for (int i = 0; i < 2; ++i) threads.emplace_back(work);
  for (auto& t : threads) t.join();
  return names;
}

std::vector<std::string> random_names(std::size_t n, std::uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::unordered_set<std::string> seen;
  std::vector<std::string> names;
  while (names.size() < n) {
    std::string name(kLen, ' ');
    name[0] = kLetters[rng() % kLetters.size()];
    for (std::size_t i = 1; i < kLen; ++i) name[i] = kChars[rng() % kChars.size()];
    if (seen.insert(name).second) names.push_back(std::move(name));
  }
  return names;
}

[[noreturn]] void usage() {
  std::fprintf(stderr,
               "usage: colliding_names N [--random] [--seed S] [--siphash K0 K1 (--mask M | --buckets-of K)]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t n = 0;
  bool random = false, have_n = false, siphash = false;
  std::uint64_t seed = 0;
  SipTarget sip;
  for (int i = 1; i < argc; ++i) {
    std::string_view arg = argv[i];
    if (arg == "--random") random = true;
    else if (arg == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--siphash" && i + 2 < argc) {
      sip.key = {std::strtoull(argv[i + 1], nullptr, 0), std::strtoull(argv[i + 2], nullptr, 0)};
      siphash = true;
      i += 2;
    } else if (arg == "--mask" && i + 1 < argc) sip.mask = std::strtoull(argv[++i], nullptr, 0);
    else if (arg == "--buckets-of" && i + 1 < argc) sip.buckets = buckets_of(std::strtoull(argv[++i], nullptr, 10));
    else if (!have_n && !arg.empty() && arg[0] != '-') n = std::strtoull(argv[i], nullptr, 10), have_n = true;
    else usage();
  }
  if (!have_n || (siphash && !sip.mask && !sip.buckets)) usage();

  const std::hash<std::string_view> hash;
  // The search runs on this file's own copy of the algorithm: check it first.
  for (std::string_view s : {"CollidingNamesTarget_000", "abcdefghijklmnopqrstuvwx", "A_0123456789abcdefghijkl"})
    if (finish(block_step(block_step(block_step(initial_state(), load(s.data())), load(s.data() + 8)),
                          load(s.data() + 16))) != hash(s)) {
      std::fprintf(stderr, "this std::hash<std::string_view> is not the algorithm this program inverts\n");
      return 1;
    }

  const std::uint64_t target = hash("CollidingNamesTarget_000");
  const std::uint64_t last_state = unfinish(target);
  const auto names = random    ? random_names(n, seed)
                     : siphash ? colliding(n, seed, [&](std::uint64_t c) { return search_chunk_siphash(c, sip); })
                               : colliding(n, seed, [&](std::uint64_t c) { return search_chunk(c, last_state); });
  std::string out;
  for (const auto& name : names) {
    if (name.size() != kLen || (!random && !siphash && hash(name) != target)) {
      std::fprintf(stderr, "bad name %s\n", name.c_str());
      return 1;
    }
    out += name;
    out += '\n';
  }
  // Sorted, not hashed: a hash set of these names is the very slowdown they cause.
  auto sorted = names;
  std::sort(sorted.begin(), sorted.end());
  if (std::adjacent_find(sorted.begin(), sorted.end()) != sorted.end()) {
    std::fprintf(stderr, "repeated name\n");
    return 1;
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}
