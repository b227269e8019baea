// Printing a checked, unrewritten tree as its rewrite: each construct the
// rewrite would replace is written as the sandbox call it would become, so
// the text equals that of printing the rewritten tree, without building it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "pyexpr/ast.h"
#include "safe_eval/result.h"

namespace lumra::safe_eval {

// `tree`, parsed from `wrapped`, must have passed the check-only walk, which
// listed in `kept_names` the name nodes that stay as they are. `size_hint`
// sizes the buffer. Fails when the tree is nested too deeply to print, or its
// text too deeply for Python to compile (more than kMaxOpenBrackets open at
// once), or a name cannot be written so that it reads back as itself.
Result<std::string> print_sandboxed(const pyexpr::Expr& tree, std::string_view wrapped,
                                    std::vector<const pyexpr::Expr*> kept_names, std::uint64_t prefix_len,
                                    std::size_t size_hint);

// CPython's tokenizer refuses source with more brackets open at once than
// this ("too many nested parentheses").
inline constexpr std::size_t kMaxOpenBrackets = 200;

// The most brackets ((, [, {) open at once in printed source, string literals
// skipped.
std::size_t max_open_brackets(std::string_view source);

}  // namespace lumra::safe_eval
