// The Python backend's three operations (the only backend that does real work).
#pragma once

#include <string_view>
#include <vector>

#include "template/compiler/backend.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

// The names an expression reads and assigns, and its comments, positioned in `text`.
ParseExpressionResult python_parse_expression(std::string_view text);
// The names a loop header ("item in items", "x in xs for y in x if y") binds
// and the names its iterables and conditions read, positioned in `each`.
LoopVariablesResult python_extract_loop_variables(std::string_view each);
// The source of `def generate_template():` returning the nodes' list.
GenerateResult wrap_generate_template(std::vector<IrNode> nodes);

}  // namespace lumra::template_compiler
