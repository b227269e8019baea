// A body being filled by the walk: the template and what the node checks
// remember about it, so that no check rescans the siblings already filed.
#pragma once

#include "template/ast/ast.h"

namespace lumra::template_parser {

struct CollectorChecks {
  // Some node named c-fill has been filed here.
  bool has_fill = false;
};

struct Collector {
  template_ast::Template tmpl;
  CollectorChecks checks;
};

}  // namespace lumra::template_parser
