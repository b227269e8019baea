// Compiler entry: a template's elements to the value tree.
#pragma once

#include <variant>
#include <vector>

#include "template/ast/ast.h"
#include "template/compiler/errors.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

using CompileResult = std::variant<std::vector<IrNode>, CompileError>;

// The value tree of the template's elements, or the first error. Reads
// `tmpl` only, at any depth, and consults the built-in tag rules for the
// control-flow tags. The tree is never deeper than kMaxBracketDepth. Its
// lists and texts live in `arena`: keep it while the tree is read.
CompileResult compile_elements(const template_ast::Template& tmpl, IrArena& arena);

}  // namespace lumra::template_compiler
