// Compiler entry: a template's elements to the value tree.
#pragma once

#include <variant>
#include <vector>

#include "template/ast/ast.h"
#include "template/compiler/errors.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

using CompileResult = std::variant<std::vector<IrNode>, CompileError>;

// Reads `tmpl` only (callers pass their own copy when the tree must not be
// shared); consults the built-in tag rules for the control-flow tags.
CompileResult compile_elements(const template_ast::Template& tmpl);

}  // namespace lumra::template_compiler
