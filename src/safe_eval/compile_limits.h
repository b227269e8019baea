// The nesting CPython 3.12 compiles, and how deep printed source nests.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

#include "pyexpr/ast.h"

namespace lumra::safe_eval {

// CPython's tokenizer refuses source with more brackets open at once than
// this ("too many nested parentheses").
inline constexpr std::size_t kMaxOpenBrackets = 200;

// CPython's parser gives up ("Parser stack overflowed") when its rules nest
// 6000 deep. `source_depth` estimates that nesting, never below what it is:
// `[x, [x, ... 1]]` estimated at 5969 compiles, one list deeper does not.
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

// Whether `text`, printed from `tree` with `print_depth` the deepest printing
// level, is past any of the three limits. Text shallow enough for none to be
// reached is not read.
bool too_deep_for_cpython(const pyexpr::Expr& tree, std::string_view text, std::uint32_t print_depth);

}  // namespace lumra::safe_eval
