// The value tree as Python source text.
#pragma once

#include <span>
#include <string>
#include <vector>

#include "template/compiler/ir.h"

namespace lumra::template_compiler {

// The Python text of each value, in order.
std::vector<std::string> python_render_values(std::span<const IrNode> nodes);
// "[]", or "[" + the values' texts joined by ", " + ",]".
std::string python_literal_list(std::span<const IrNode> nodes);

}  // namespace lumra::template_compiler
