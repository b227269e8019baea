#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {

// Stand-in until the value tree and its rendering land.
GenerateResult wrap_generate_template(std::vector<IrNode>) {
  return CompileError{CompileError::Kind::Unavailable, "Python code generation is not available in this build"};
}

}  // namespace lumra::template_compiler
