// Every message the sandboxing rewriter can return, side by side.
#pragma once

#include <string_view>

namespace lumra::safe_eval::msg {

// Parse step: "Parse error: " and the parser's first error, its byte ranges
// shifted onto the caller's text.
inline constexpr std::string_view kParseErrorPrefix = "Parse error: ";

// Recorded while walking; the last one recorded is reported.
inline constexpr std::string_view kNamedTargetNotName =
    "Validation Error: Named expression target must be a simple variable name";
// {} is the name.
inline constexpr std::string_view kRebindComprehensionVariable =
    "SyntaxError: assignment expression cannot rebind comprehension iteration variable '{}'";
inline constexpr std::string_view kRebindLambdaParameter =
    "SyntaxError: assignment expression cannot rebind lambda parameter '{}'";
// A lambda parameter or comprehension target named like a sandbox function or
// `context`/`source` would capture the rewritten calls inside its scope.
inline constexpr std::string_view kBindsSandboxName =
    "Validation Error: '{}' is a name of the sandbox and cannot be bound by a lambda parameter or a comprehension "
    "target";
inline constexpr std::string_view kAsyncComprehension =
    "Validation Error: Async comprehensions are not allowed for security reasons";

// End the walk at once; {} is the debug rendering of the node.
inline constexpr std::string_view kUnsupportedComprehensionTarget =
    "Validation Error: Unsupported target type in comprehension: {}";
inline constexpr std::string_view kUnsupportedExpression =
    "Validation Error: Unsupported expression: {}";
// A tree deeper than the rewriter is willing to recurse into.
inline constexpr std::string_view kNestedTooDeeply =
    "Validation Error: Expression is too deeply nested";
// Printing: a bare name stored as a keyword (its NFKC form) with no spelling
// of its own to write it in; {} is the stored name.
inline constexpr std::string_view kUnwritableName =
    "Validation Error: The name '{}' cannot be written back: it is stored as a keyword and its own spelling is unknown";

}  // namespace lumra::safe_eval::msg
