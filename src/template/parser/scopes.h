// Variable scopes: the variables every node and template uses, and the check
// that no binding defines a name twice or shadows a name already in use.
//
// Names are compared by their NFKC form ("ﬁle" and "file" are one name);
// tokens keep the spelling as written. Both passes run once over a whole
// parsed template, after the element walk, with explicit work lists (no
// recursion), and compute each token's NFKC form once.
#pragma once

#include "template/ast/ast.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {

// Recomputes `used_variables` of every node and body of `tmpl` and of `tmpl`
// itself, then checks every binding of the tree against the context
// variables (the template's used variables) and the enclosing bindings.
//
// Used variables: an expression gives its own; a node gives its body's minus
// the variables it introduces, then its attributes'. On an ordinary element
// that loops (a `c-for` attribute introducing variables), its attributes other
// than the control-flow ones leave the loop variables out too.
Status resolve_scopes(template_ast::Template& tmpl, const ParserContext& context);

}  // namespace lumra::template_parser
