// Every message of the template compiler, side by side. Placeholders are
// fmt's `{}`; what each one receives is noted above it.
#pragma once

#include <string_view>

namespace lumra::template_compiler::msg {

// --- Nesting ------------------------------------------------------------------

// The bracket bound.
inline constexpr std::string_view kNestedTooDeeply =
    "Template is nested too deeply to compile: the generated code would nest more than {} levels of brackets; "
    "flatten the nesting of components, slots, fills and control-flow tags";

// --- Control-flow attributes ----------------------------------------------------

// The attribute's key, in each of the three.
inline constexpr std::string_view kControlFlowRulesMissing =
    "Unexpected TagRules for control flow tag '{}': not found in rules";
inline constexpr std::string_view kControlFlowRulesAllowAny =
    "Unexpected TagRules for control flow tag '{}': allows any attributes";
inline constexpr std::string_view kControlFlowRulesAllowMany =
    "Unexpected TagRules for control flow tag '{}': tag allows multiple attributes, expected at most one";

// --- Attributes -------------------------------------------------------------------

// The attribute's key.
inline constexpr std::string_view kMetaAttributeAsOrdinary =
    "Internal error: '#c-*' attribute '{}' reached ordinary attribute compilation";

// --- Element lowering ---------------------------------------------------------------

// "#c-key".
inline constexpr std::string_view kKeyWithoutValue = "Internal error: '{}' reached the compiler without its expression value";
// The attribute's key, then "#c-key" and "#c-ignore".
inline constexpr std::string_view kUnexpectedMetaOnElement =
    "Internal error: unexpected '#c-*' attribute '{}' reached the compiler (the parser accepts only '{}' and '{}')";

// --- Components, <c-element> and <c-component> ------------------------------------------

// The attribute's key.
inline constexpr std::string_view kUnexpectedMetaOnComponent =
    "Internal error: unexpected '#c-*' attribute '{}' on component tag";
// The start tag's name.
inline constexpr std::string_view kIsAndCIs = "<{}> accepts either 'is' or 'c-is', not both";
// The name in quoted, escaped debug form.
inline constexpr std::string_view kInvalidElementName = "<c-element>: {} is not a valid HTML tag name";
// The void element's name.
inline constexpr std::string_view kVoidElementChildren = "<c-element>: void element '{}' cannot have children";

// --- Loop headers of the Python backend --------------------------------------------

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
