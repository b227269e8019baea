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
// text too deeply for CPython 3.12 to compile (see compile_limits.h),
// or a name cannot be written so that it reads back as itself.
Result<std::string> print_sandboxed(const pyexpr::Expr& tree, std::string_view wrapped,
                                    std::vector<const pyexpr::Expr*> kept_names, std::uint64_t prefix_len,
                                    std::size_t size_hint);

}  // namespace lumra::safe_eval
