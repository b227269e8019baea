// The Python backend's three operations (the only backend that does real work).
#pragma once

#include <optional>
#include <string_view>
#include <vector>

#include "template/compiler/backend.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

// The names an expression reads and assigns, and its comments, positioned in `text`.
ParseExpressionResult python_parse_expression(std::string_view text);
// The same through the rewriter's check walk, for every text.
ParseExpressionResult python_parse_expression_in_full(std::string_view text);
// The same for the commonest texts alone, read without the parser: a chain of
// names (`user.profile.name`) of ASCII identifiers that are not keywords, with
// spaces, tabs and line feeds around it. Nothing for any other text.
std::optional<ParsedExpression> parse_name_chain(std::string_view text);
// The names a loop header ("item in items", "x in xs for y in x if y") binds
// and the names its iterables and conditions read, positioned in `each`.
LoopVariablesResult python_extract_loop_variables(std::string_view each);
// The source of `def generate_template():` returning the nodes' list.
GenerateResult wrap_generate_template(std::vector<IrNode> nodes);

}  // namespace lumra::template_compiler
