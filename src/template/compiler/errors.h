// Errors of the template compiler and of code generation.
#pragma once

#include <string>

namespace lumra::template_compiler {

struct CompileError {
  enum class Kind {
    // The template itself is wrong: an invalid <c-element> tag name, children
    // on a void <c-element>, both 'is' and 'c-is' on one component tag.
    Syntax,
    // Every other compile or code-generation error.
    Value,
    // The service has not been built into this version of the module.
    Unavailable,
  };
  Kind kind = Kind::Value;
  std::string message;
};

}  // namespace lumra::template_compiler
