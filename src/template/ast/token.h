// A token of the template syntax tree: a span of the template text.
#pragma once

#include <cstdint>

#include "template/ast/token_text.h"

namespace lumra::template_ast {

struct LineCol {
  std::uint64_t line = 0;
  std::uint64_t column = 0;

  friend bool operator==(const LineCol&, const LineCol&) = default;
};

// A span of the template text: its content and where it lies.
struct Token {
  TokenText content;
  std::uint64_t start_index = 0;
  std::uint64_t end_index = 0;
  LineCol line_col;

  friend bool operator==(const Token&, const Token&) = default;
};

}  // namespace lumra::template_ast
