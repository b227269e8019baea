#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {

// Stand-ins until the Python expression services land.
ParseExpressionResult python_parse_expression(std::string_view) {
  return std::string("Python expression parsing is not available in this build");
}

LoopVariablesResult python_extract_loop_variables(std::string_view) {
  return std::string("Python for-loop variable extraction is not available in this build");
}

}  // namespace lumra::template_compiler
