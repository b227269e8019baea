// A body being filled by the walk: the template and what the node checks
// remember about it, so that no check rescans the siblings already filed or
// collects the fills of a body again at every enclosing level.
#pragma once

#include <cstddef>

#include "template/ast/ast.h"

namespace lumra::template_parser {

struct CollectorChecks {
  // Some node named c-fill has been filed here.
  bool has_fill = false;
  // A fill lies here or inside control-flow children (through control-flow
  // tags only): what a control-flow tag's `contains_fills` reports, and
  // whether a component has any fill to check.
  bool has_fill_deep = false;
  // Some control-flow child with a body holds more than fills, so this body,
  // as a control-flow body, cannot stand among fills.
  bool has_mixed_control_flow = false;
  // A <c-fill> filed here already passed its placement check: the frames
  // above are the same for every later fill of this body.
  bool fill_placement_ok = false;
  // The last node filed through validation: its element index, and whether
  // it is a control-flow tag whose body holds more than fills.
  std::size_t last_node_index = static_cast<std::size_t>(-1);
  bool last_node_mixed_control_flow = false;
};

struct Collector {
  template_ast::Template tmpl;
  CollectorChecks checks;
};

}  // namespace lumra::template_parser
