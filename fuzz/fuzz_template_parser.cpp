// Template parser over arbitrary UTF-8: the grammar, the element walk, nested
// templates, bindings and validation, as parse_template runs them.
//
// Every input either parses into a tree whose tokens are the input's own
// pieces, in text order (template_checks.h), and which a second parse of it
// equals, or fails with an error a template may earn, placed inside the
// input. Anything else aborts.

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <variant>

#include "harness.h"
#include "template/ast/list_equality.h"
#include "template_checks.h"

namespace {

constexpr std::size_t kMaxInput = 8192;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  if (!lumra::fuzz::is_valid_utf8(input)) return 0;
  auto result = lumra::fuzz::parse_template(input);
  const lumra::template_ast::Template* tree = lumra::fuzz::parse_and_check(result, input);
  if (tree == nullptr) return 0;
  // Two parses of one text lay their lists out alike: equality compares them
  // in place, reading only short lists whole.
  auto again = lumra::fuzz::parse_template(input);
  lumra::template_ast::ListReads reads;
  FUZZ_CHECK(lumra::template_ast::equal_trees(*tree, std::get<lumra::template_ast::Template>(again), &reads));
  FUZZ_CHECK(reads.listed <= 32 * reads.lists);
  return 0;
}
