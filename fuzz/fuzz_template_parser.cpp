// Template parser over arbitrary UTF-8: the grammar, the element walk, nested
// templates, bindings and validation, as parse_template runs them.
//
// Every input either parses into a tree whose tokens are the input's own
// pieces, in text order (template_checks.h), or fails with an error a
// template may earn, placed inside the input. Anything else aborts.

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "harness.h"
#include "template_checks.h"

namespace {

constexpr std::size_t kMaxInput = 8192;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!lumra::fuzz::is_valid_utf8(input)) return 0;
  auto result = lumra::fuzz::parse_template(input);
  (void)lumra::fuzz::parse_and_check(result, input);
  return 0;
}
