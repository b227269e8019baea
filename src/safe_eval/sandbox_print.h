// Printing a checked, unrewritten tree as its rewrite: each construct the
// rewrite would replace is written as the sandbox call it would become, so
// the text equals that of printing the rewritten tree, without building it.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "pyexpr/ast.h"

namespace lumra::safe_eval {

// `tree` must have passed the check-only walk, which listed in `kept_names`
// the name nodes that stay as they are. `size_hint` sizes the buffer. Empty
// when the tree is nested too deeply to print.
std::optional<std::string> print_sandboxed(const pyexpr::Expr& tree, std::vector<const pyexpr::Expr*> kept_names,
                                           std::uint64_t prefix_len, std::size_t size_hint);

}  // namespace lumra::safe_eval
