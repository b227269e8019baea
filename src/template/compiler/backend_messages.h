// Messages of the Python backend's loop-header reading, side by side.
#pragma once

#include <string_view>

namespace lumra::template_compiler::msg {

inline constexpr std::string_view kEachNotComprehension =
    "Tag '<c-for>' 'each' attribute must be a comprehension expression (e.g., 'target in iterable' or 'x in "
    "range(3) for y in range(2) if x > y').";
inline constexpr std::string_view kEachWithoutClause =
    "Tag '<c-for>' 'each' attribute must contain at least one 'for ... in ...' clause.";
inline constexpr std::string_view kClauseWithoutVariable =
    "Tag '<c-for>' 'each' attribute: each 'for ... in ...' clause must have at least one loop variable.";
// "Discriminant(N)": N is the index of the target's expression kind.
inline constexpr std::string_view kInvalidLoopTarget =
    "Invalid expression type in loop variable: expected variable name, tuple, or starred expression, but found: {}";
inline constexpr std::string_view kLoopRangeOutsideHeader = "Internal error while mapping for-loop variable ranges.";

}  // namespace lumra::template_compiler::msg
