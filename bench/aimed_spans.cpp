// Prints a template of about BYTES bytes whose attribute spans are aimed at one
// bucket of a table that hashes an attribute's span (start, end) as
// start * 0x9E3779B97F4A7C15 ^ end and takes that modulo libstdc++'s bucket
// count: the table of the variables that template-valued attributes introduce,
// as it was, which the parser fills with one entry per such attribute and
// looks up for every attribute of every tag. With --shuffled, the same tags in
// a shuffled order: the same bytes and attributes, with spans no longer aimed.
//
// The first tags hold one template-valued attribute each, `c-t...="<></>"`, so
// many that the table has just grown to its last bucket count when the last
// of them is filed. Every span aims at one bucket under that count: each
// entry joins the one chain at that last growth, and then every attribute of
// the tags that follow, `a="v..."`, `b="v..."`, ... (STATICS per tag), is
// looked up along the whole chain. Before each attribute go 1 or more spaces,
// and its name or value is 0 or more bytes longer than the shortest: of these
// choices, the one with the fewest bytes whose span lands in the bucket is
// taken. The bucket counts are those of a libstdc++ table itself, fed one key
// per entry: the prime rehash policy looks at nothing but the number of keys.
//
// Usage: aimed_spans BYTES [--statics S] [--entries N] [--shuffled] [--seed N]
// Build: g++ -O2 -std=c++20 aimed_spans.cpp -o aimed_spans

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>
#include <string_view>
#include <tuple>
#include <unordered_set>
#include <utility>
#include <vector>

namespace {

constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;

std::uint64_t span_hash(std::uint64_t start, std::uint64_t end) { return start * kMultiplier ^ end; }

// (keys, buckets): the bucket count of a libstdc++ table reached when its
// number of keys becomes `keys`, for each growth up to `max_keys` keys.
std::vector<std::pair<std::size_t, std::size_t>> growths(std::size_t max_keys) {
  std::unordered_set<std::size_t> table;
  std::vector<std::pair<std::size_t, std::size_t>> out;
  for (std::size_t keys = 1; keys <= max_keys; ++keys) {
    const std::size_t before = table.bucket_count();
    table.insert(keys);
    if (table.bucket_count() != before) out.emplace_back(keys, table.bucket_count());
  }
  return out;
}

class Writer {
 public:
  Writer(std::size_t buckets) : buckets_(buckets), bucket_(buckets / 2) {}

  // A tag of `count` attributes made by `attribute(i)` as (prefix, pad, suffix).
  template <class Attribute>
  std::string tag(std::size_t count, Attribute&& attribute) {
    std::string tag = "<i";
    for (std::size_t i = 0; i < count; ++i) {
      const auto [prefix, pad, suffix] = attribute(i);
      aimed(tag, prefix, pad, suffix);
    }
    tag += "></i>";
    position_ += tag.size();
    return tag;
  }

  std::uint64_t position() const { return position_; }

 private:
  // Appends spaces, prefix, pad bytes and suffix: the fewest bytes that send
  // the span [prefix, suffix] to the bucket.
  void aimed(std::string& tag, std::string_view prefix, char pad, std::string_view suffix) {
    const std::uint64_t base = prefix.size() + suffix.size();
    const std::uint64_t at = position_ + tag.size();
    for (std::uint64_t extra = 0;; ++extra) {
      for (std::uint64_t spaces = 1; spaces <= extra + 1; ++spaces) {
        const std::uint64_t longer = extra + 1 - spaces;
        const std::uint64_t start = at + spaces;
        if (span_hash(start, start + base + longer) % buckets_ != bucket_) continue;
        tag.append(spaces, ' ');
        tag += prefix;
        tag.append(longer, pad);
        tag += suffix;
        return;
      }
    }
  }

  std::size_t buckets_;
  std::uint64_t bucket_;
  std::uint64_t position_ = 0;
};

[[noreturn]] void usage() {
  std::fprintf(stderr, "usage: aimed_spans BYTES [--statics S] [--entries N] [--shuffled] [--seed N]\n");
  std::exit(2);
}

}  // namespace

int main(int argc, char** argv) {
  std::uint64_t bytes = 0, seed = 0;
  std::size_t statics = 8, entries = 0;
  bool shuffled = false, have_bytes = false;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "--shuffled") shuffled = true;
    else if (arg == "--statics" && i + 1 < argc) statics = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--entries" && i + 1 < argc) entries = std::strtoull(argv[++i], nullptr, 10);
    else if (arg == "--seed" && i + 1 < argc) seed = std::strtoull(argv[++i], nullptr, 10);
    else if (!have_bytes && !arg.empty() && arg[0] != '-') {
      bytes = std::strtoull(argv[i], nullptr, 10);
      have_bytes = true;
    } else usage();
  }
  if (!have_bytes || statics < 1 || statics > 26) usage();

  // An attribute aimed under B buckets takes about sqrt(2B) bytes more than
  // its shortest form. Unless told, the entries take about a third of the
  // bytes, and their number is one at which the table grows.
  const auto [keys, buckets] = [&] {
    const auto all = growths(std::max<std::size_t>(entries, bytes / 16) + 1);
    auto best = all.front();
    for (const auto& [k, b] : all) {
      const double cost = static_cast<double>(k) * (std::sqrt(2.0 * static_cast<double>(b)) + 16);
      if (entries ? k <= entries : cost <= static_cast<double>(bytes) / 3) best = {k, b};
    }
    return best;
  }();

  Writer writer(buckets);
  std::vector<std::string> tags;
  for (std::size_t i = 0; i < keys; ++i) {
    tags.push_back(writer.tag(1, [](std::size_t) { return std::tuple{"c-t", 't', "=\"<></>\""}; }));
  }
  while (writer.position() < bytes) {
    // Names a, b, c, ...: a tag may not repeat one.
    tags.push_back(writer.tag(statics, [](std::size_t i) {
      return std::tuple{std::string(1, static_cast<char>('a' + i)) + "=\"", 'v', "\""};
    }));
  }
  std::fprintf(stderr, "%zu entries, %zu buckets, %zu tags\n", keys, buckets, tags.size());
  if (shuffled) std::shuffle(tags.begin(), tags.end(), std::mt19937_64(seed));
  for (const std::string& tag : tags) std::fwrite(tag.data(), 1, tag.size(), stdout);
}
