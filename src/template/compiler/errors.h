// Errors of the template compiler and of code generation.
#pragma once

#include <optional>
#include <string>
#include <utility>

namespace lumra::template_compiler {

struct CompileError {
  enum class Kind {
    // Every other compile or code-generation error.
    Value = 0,
    // The template itself is wrong: an invalid <c-element> tag name, children
    // on a void <c-element>, both 'is' and 'c-is' on one component tag.
    Syntax = 1,
  };
  Kind kind = Kind::Value;
  std::string message;
};

// Success (empty) or the error of an operation that returns nothing.
using Status = std::optional<CompileError>;

inline CompileError value_error(std::string message) { return {CompileError::Kind::Value, std::move(message)}; }
inline CompileError syntax_error(std::string message) { return {CompileError::Kind::Syntax, std::move(message)}; }
// The value tree would open more brackets than generated Python may nest.
CompileError nested_too_deeply();

}  // namespace lumra::template_compiler
