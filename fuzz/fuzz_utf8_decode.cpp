// The block decoder that turns long UTF-8 results into strs, over arbitrary
// bytes. Checked for every input, into 1-, 2- and 4-byte units:
// - it succeeds exactly when the bytes are valid UTF-8 whose characters fit
//   the unit (the validator of harness.h is the independent reference);
// - on success it wrote the characters that a one-at-a-time decode gives, as
//   many as `measure` counted, and `measure`'s largest byte names the kind of
//   the widest of them;
// - it never writes past the capacity it was given, even when too small.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "harness.h"
#include "text/utf8.h"

namespace {

using namespace lumra::text::utf8;

template <class Unit>
void check(std::string_view s, bool valid, const Measure& m) {
  constexpr char32_t kUnitMax = static_cast<char32_t>(Unit(~Unit(0)));
  // The first byte of room is spare, past the capacity, and must stay untouched.
  std::vector<Unit> out(s.size() + 1, Unit(0x5A));
  const std::size_t written = decode_into<Unit>(s, out.data(), s.size());
  std::vector<Unit> small(m.chars / 2 + 1, Unit(0x5A));
  const std::size_t small_written = decode_into<Unit>(s, small.data(), m.chars / 2);
  FUZZ_CHECK(out[s.size()] == Unit(0x5A));
  FUZZ_CHECK(small.back() == Unit(0x5A));

  std::vector<char32_t> want;
  char32_t widest = 0;
  bool fits = true;
  if (valid) {
    for (std::size_t i = 0; i < s.size();) {
      std::uint32_t len = 0;
      const char32_t c = decode(s, i, len);
      want.push_back(c);
      widest = c > widest ? c : widest;
      fits = fits && c <= kUnitMax;
      i += len;
    }
  }
  if (!valid || !fits) {
    FUZZ_CHECK(written == s.size() + 1);
    return;
  }
  FUZZ_CHECK(written == want.size());
  FUZZ_CHECK(m.chars == want.size());
  for (std::size_t k = 0; k < want.size(); ++k) FUZZ_CHECK(char32_t(out[k]) == want[k]);
  if (want.size() > m.chars / 2) FUZZ_CHECK(small_written == m.chars / 2 + 1);
  const char32_t low = m.max_byte < 0x80 ? 0 : m.max_byte < 0xC4 ? 0x80 : m.max_byte < 0xF0 ? 0x100 : 0x10000;
  const char32_t high = m.max_byte < 0x80 ? 0x7F : m.max_byte < 0xC4 ? 0xFF : m.max_byte < 0xF0 ? 0xFFFF : 0x10FFFF;
  FUZZ_CHECK(widest >= low && widest <= high);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view s(reinterpret_cast<const char*>(data), size);
  const bool valid = lumra::fuzz::is_valid_utf8(s);
  const Measure m = measure(s);
  check<std::uint8_t>(s, valid, m);
  check<std::uint16_t>(s, valid, m);
  check<std::uint32_t>(s, valid, m);
  return 0;
}
