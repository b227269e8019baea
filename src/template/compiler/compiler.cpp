#include "template/compiler/compiler.h"

namespace lumra::template_compiler {

CompileResult compile_elements(const template_ast::Template&) {
  // The lowering of elements to the value tree is not part of this build yet.
  return CompileError{CompileError::Kind::Unavailable, "the template compiler is not available in this build"};
}

}  // namespace lumra::template_compiler
