// The Python backend's short way for common expressions against its full
// parse, over arbitrary UTF-8: wherever the short way answers, the full parse
// accepts the text and reports the same names, positions and comments.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "harness.h"
#include "template/compiler/python_backend.h"

namespace {

constexpr std::size_t kMaxInput = 2048;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace lumra::template_compiler;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (size > kMaxInput || !lumra::fuzz::is_valid_utf8(text)) return -1;
  const auto simple = parse_simple_expression(text);
  if (!simple) return 0;
  const auto full = python_parse_expression_in_full(text);
  const auto* parsed = std::get_if<ParsedExpression>(&full);
  FUZZ_CHECK(parsed != nullptr);
  FUZZ_CHECK(simple->used_variables == parsed->used_variables);
  FUZZ_CHECK(simple->assigned_variables.empty() && parsed->assigned_variables.empty());
  FUZZ_CHECK(simple->comments.empty() && parsed->comments.empty());
  return 0;
}
