// Node validation: every finished element is checked in its place (its tag and
// attributes, its ancestors, the siblings filed before it) and then filed into
// the current collector (its lists are filed by the walk's listings).
#pragma once

#include <string_view>
#include <vector>

#include "template/ast/ast.h"
#include "template/parser/collector.h"
#include "template/parser/errors.h"
#include "template/parser/parser.h"
#include "template/parser/walk.h"

namespace lumra::template_parser {

// `stack` holds the open elements around the node (innermost last; the node's
// own frame already popped); `collector` is where the node goes;
// `body_checks` is what the checks remembered of the node's body (null for a
// self-closing node).
Status validate_template(template_ast::Node&& node, std::vector<OpenElement>& stack, Collector& collector,
                         const CollectorChecks* body_checks, const ParserContext& context);

// The checks that raw blocks run too (they skip the rest of validation).
Status check_client_props(const template_ast::Node& node, std::string_view source);
Status check_tag_rules(const template_ast::Node& node, const ParserContext& context);
Status check_meta_attribute_placement(const template_ast::Node& node, std::string_view source);

}  // namespace lumra::template_parser
