// Template parser from structured inputs: the bytes pick tags, attributes,
// values, loops, conditions, slots, fills and the caller's tag rules from
// small tables (template_gen.h), so that most inputs pass the grammar and
// reach the semantic checks. The outcome is checked as for raw text.
//
// Input layout: the first byte picks the caller's rules (low bits) and tame
// tables (high bit); the rest are the choices.

#include <cstddef>
#include <cstdint>
#include <string>

#include "harness.h"
#include "template_checks.h"
#include "template_gen.h"

namespace {

constexpr std::size_t kMaxInput = 4096;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  lumra::fuzz::Choices choices(data + 1, size - 1);
  const std::string text = lumra::fuzz::TemplateWriter(choices, (data[0] & 0x80) != 0).write();
  auto result = lumra::fuzz::parse_template(text, lumra::fuzz::pick_user_rules(data[0]));
  (void)lumra::fuzz::parse_and_check(result, text);
  return 0;
}
