// parse_python_expression over arbitrary UTF-8.
//
// For every input: the full parse (tree, tokens, every error) and the short
// form agree; errors lie inside the text; tokens lie inside
// the text in order; every range of the tree lies inside the text; the tree
// renders for debugging even when the parse failed. Deep nesting must end in
// the parser's own error, never in a stack overflow.

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "harness.h"
#include "pyexpr/ast.h"
#include "pyexpr/parser.h"
#include "pyexpr_checks.h"

namespace {

using namespace lumra::pyexpr;

constexpr std::size_t kMaxInput = 4096;

bool ends_with(std::string_view s, std::string_view suffix) {
  return s.size() >= suffix.size() && s.substr(s.size() - suffix.size()) == suffix;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size > kMaxInput) return 0;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (!lumra::fuzz::is_valid_utf8(text)) return 0;

  const ExpressionParse full = parse_python_expression_full(text);
  FUZZ_CHECK(full.ok() == full.errors.empty());
  // Errors keep the order in which they were recorded (a merge of the
  // parser's and the lexer's lists), so only their ranges are checked.
  for (const ParseError& error : full.errors) {
    FUZZ_CHECK(error.location.end().raw <= size);
    FUZZ_CHECK(!error.error.message().empty());
    FUZZ_CHECK(ends_with(error.to_string(), " at byte range " + error.location.to_string()));
  }
  std::uint32_t token_end = 0;
  for (const ParsedToken& token : full.tokens) {
    FUZZ_CHECK(token.range.start().raw >= token_end);
    FUZZ_CHECK(token.range.end().raw <= size);
    token_end = token.range.end().raw;
  }
  const std::string debug = debug_string(full.expr);
  lumra::fuzz::check_debug_ranges(debug, size);

  const ExpressionResult result = parse_python_expression(text);
  FUZZ_CHECK(result.ok() == full.ok());
  if (result.ok()) {
    FUZZ_CHECK(debug_string(result.expr()) == debug);
  } else {
    FUZZ_CHECK(result.error() == full.errors.front());
  }
  return 0;
}
