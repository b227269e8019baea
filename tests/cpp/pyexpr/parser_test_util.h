// Helpers of the parser tests: the reported error of a parse, all its errors,
// and the canonical dump of its tree.
#pragma once

#include <string>
#include <string_view>

#include "parser_dump.h"
#include "pyexpr/parser.h"

namespace lumra::pyexpr::test {

// The reported message ("... at byte range s..e"), or "ok".
inline std::string first_error(std::string_view source) {
    ExpressionResult result = parse_python_expression(source);
    return result.ok() ? std::string("ok") : result.error().to_string();
}

// Every error of the merged list, joined by " | " ("ok" when there is none).
inline std::string all_errors(std::string_view source) {
    ExpressionParse parse = parse_python_expression_full(source);
    if (parse.errors.empty()) return "ok";
    std::string out;
    for (const ParseError& error : parse.errors) {
        if (!out.empty()) out += " | ";
        out += error.to_string();
    }
    return out;
}

// The canonical dump of the tree, or the reported error.
inline std::string tree(std::string_view source) {
    ExpressionParse parse = parse_python_expression_full(source);
    if (!parse.errors.empty()) return "error: " + parse.errors.front().to_string();
    return dump_json(parse.expr, source);
}

// The dump of the tree built even when there are errors.
inline std::string tree_despite_errors(std::string_view source) {
    ExpressionParse parse = parse_python_expression_full(source);
    return dump_json(parse.expr, source);
}

}  // namespace lumra::pyexpr::test
