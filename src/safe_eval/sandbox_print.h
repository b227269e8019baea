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
// text too deeply for CPython 3.12 to compile (see `within_cpython_limits`),
// or a name cannot be written so that it reads back as itself.
Result<std::string> print_sandboxed(const pyexpr::Expr& tree, std::string_view wrapped,
                                    std::vector<const pyexpr::Expr*> kept_names, std::uint64_t prefix_len,
                                    std::size_t size_hint);

// CPython's tokenizer refuses source with more brackets open at once than
// this ("too many nested parentheses").
inline constexpr std::size_t kMaxOpenBrackets = 200;

// CPython's parser gives up ("Parser stack overflowed") when its rules nest
// 6000 deep. `source_depth` estimates that nesting, never below what it is:
// the bracket-only text estimated at 5969 compiles, the one at 5997 does not.
inline constexpr std::size_t kMaxParserLevels = 5970;

// Its compiler crashes when more list, set and dict comprehensions than this
// nest within one function scope (they are inlined into it; a generator
// expression's or lambda's body is a scope of its own).
inline constexpr std::uint32_t kMaxInlinedComprehensions = 20;

struct SourceDepth {
    std::size_t open_brackets = 0;  // the most brackets ((, [, {) open at once
    std::size_t parser_levels = 0;  // the estimate of the parser's deepest nesting
};

// Both depths of printed source, string literals skipped.
SourceDepth source_depth(std::string_view source);

// The most list, set and dict comprehensions nested within one function scope.
std::uint32_t inlined_comprehension_depth(const pyexpr::Expr& tree);

// Whether text printed from `tree` stays within all three limits.
bool within_cpython_limits(const pyexpr::Expr& tree, std::string_view text);

// The most brackets open at once in printed source, string literals skipped.
inline std::size_t max_open_brackets(std::string_view source) { return source_depth(source).open_brackets; }

}  // namespace lumra::safe_eval
