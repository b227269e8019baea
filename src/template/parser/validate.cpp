#include "template/parser/validate.h"

#include <fmt/format.h>

#include <utility>

#include "template/parser/messages.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

using template_ast::Node;

Status validate_template(Node&& node, std::vector<OpenElement>& stack, Collector& collector,
                         const CollectorChecks* body_checks, const ParserContext& context) {
  const std::string_view source = context.source.view();
  // Views into `node`: valid until it is moved into the collector at the end.
  const std::string_view name = node.start_tag().name.content;
  const auto* with_body = node.with_body();
  if (with_body && body_checks == nullptr) {
    return TemplateParseError::from_message(fmt::format(fmt::runtime(msg::kBodyChecksMissing), name));
  }
  const bool control_flow = template_ast::is_control_flow_name(name);
  const bool has_fills = with_body && body_checks->has_fill_deep;

  // The fills only a component reads; a control-flow tag needs just the flag.
  BodyFills fills;
  if (has_fills && !control_flow) fills = collect_fills(*with_body->body);
  if (name == "c-fill") {
    if (Status error = check_fill_placement(node, stack, collector.checks, source)) return error;
  }
  if (Status error = check_client_props(node, source)) return error;
  if (Status error = check_tag_rules(node, context)) return error;
  if (Status error = check_meta_attribute_placement(node, source)) return error;
  if (Status error = check_attribute_names(node, source)) return error;
  if (Status error = check_attribute_values(node, source)) return error;
  if (Status error = check_slots_and_fills(node, fills, context)) return error;
  if (Status error = check_chain(node, collector.tmpl, source)) return error;
  const bool mixed = with_body && control_flow && holds_more_than_fills(*with_body->body, *body_checks);
  if (Status error = check_fill_grouping(node, mixed, collector, source)) return error;

  // Filing: what the node's checks need of it bubbles up one level (its
  // lists are filed by the walk's listings).
  template_ast::Template& out = collector.tmpl;
  CollectorChecks& checks = collector.checks;
  if (name == "c-fill") checks.has_fill = checks.has_fill_deep = true;
  if (control_flow) checks.has_fill_deep = checks.has_fill_deep || has_fills;
  checks.has_mixed_control_flow = checks.has_mixed_control_flow || mixed;
  checks.last_node_index = out.elements.size();
  checks.last_node_mixed_control_flow = mixed;
  if (with_body) node.contains_fills() = has_fills;
  out.elements.emplace_back(std::move(node));
  return std::nullopt;
}

}  // namespace lumra::template_parser
