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

// Its compiler crashes when more blocks than this nest within one function
// scope. Each list, set and dict comprehension takes one (they are inlined
// into the scope); a generator expression's or lambda's body is a scope of
// its own, but a generator's code runs inside a handler that takes one too.
inline constexpr std::uint32_t kMaxInlinedComprehensions = 20;

struct SourceDepth {
    std::size_t open_brackets = 0;  // the most brackets ((, [, {) open at once
    std::size_t parser_levels = 0;  // the estimate of the parser's deepest nesting
};

// Both depths of printed source, string literals skipped.
SourceDepth source_depth(std::string_view source);

// The most blocks that list, set and dict comprehensions nested within one
// function scope take, counting a generator's handler around them.
std::uint32_t inlined_comprehension_depth(const pyexpr::Expr& tree);

// The most brackets open at once in printed source, string literals skipped.
inline std::size_t max_open_brackets(std::string_view source) { return source_depth(source).open_brackets; }

// Whether `text`, printed from `tree` with `print_depth` the deepest printing
// level, is past any of the three limits. Text shallow enough for none to be
// reached is not read.
bool too_deep_for_cpython(const pyexpr::Expr& tree, std::string_view text, std::uint32_t print_depth);

}  // namespace lumra::safe_eval
