// Slots and fills: where a <c-fill> may stand, what a component's body may
// hold beside fills, and the fills checked against the component's slot rules.
#include <fmt/format.h>

#include <algorithm>
#include <string>

#include "hashing/keyed_hash.h"
#include "template/parser/messages.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

namespace {

using template_ast::HtmlAttr;
using template_ast::Node;
using template_ast::Template;
using template_ast::TemplateElement;

// Markup, an expression or non-blank text: what may not stand beside fills.
bool is_stray_beside_fills(const TemplateElement& element) {
  if (const Node* node = element.node()) return !is_fill_or_control_flow(node->start_tag().name.content);
  if (const auto* text = element.text()) return !text::is_blank(text->token.content);
  return true;
}

TemplateParseError stray_error(const TemplateElement& element, std::string_view source) {
  if (const Node* node = element.node()) {
    const auto& tag = node->start_tag();
    return error_at_token(source, tag.token, fmt::format(fmt::runtime(msg::kTagNextToFills), tag.name.content));
  }
  if (const auto* expr = element.expr()) return error_at_token(source, expr->token, std::string(msg::kExpressionNextToFills));
  return error_at_token(source, element.text()->token, std::string(msg::kTextNextToFills));
}

// What one component's fills amount to, against its slot rules.
struct FillTally {
  NameSet filled;        // static names, wherever the fill stands
  NameSet static_names;  // static names outside control flow
  std::size_t fill_count = 0;
  std::size_t dynamic_outside = 0;
  bool has_dynamic = false;
  bool dynamic_in_loop = false;
};

// The explicit fields of a fill's `data` binding must be ones the slot exposes.
Status check_slot_data_fields(const Node& fill, std::string_view slot, std::string_view tag,
                              const std::vector<std::string>& declared,
                              const hashing::TextSet<std::string_view>& exposed, std::string_view source) {
  const auto& attrs = fill.start_tag().attrs;
  const auto binding = std::find_if(attrs.rbegin(), attrs.rend(), [](const HtmlAttr& attr) {
    return attr.key.content == "c-bind" || attr.key.content == "data";
  });
  if (binding == attrs.rend() || binding->key.content == "c-bind" || !binding->fill_data_pattern) return std::nullopt;
  const auto& fields = binding->fill_data_pattern->fields;
  if (fields.empty()) return std::nullopt;
  for (const auto& field : fields) {
    if (exposed.contains(field.source.content)) continue;
    const std::string hint = declared.empty()
                                 ? std::string(msg::kNoDeclaredFields)
                                 : fmt::format(fmt::runtime(msg::kAvailableFields), fmt::join(declared, ", "));
    return error_at_token(source, field.source,
                          fmt::format(fmt::runtime(msg::kUnknownSlotDataField), slot, tag, field.source.content, hint));
  }
  return std::nullopt;
}

}  // namespace

BodyFills collect_fills(const Template& body) {
  BodyFills out;
  // Control-flow bodies still to walk: an explicit stack, so nesting depth
  // costs heap, not call stack.
  struct Level {
    const Template* body;
    std::size_t next;
    bool in_loop;
    bool in_control_flow;
  };
  std::vector<Level> levels{{&body, 0, false, false}};
  while (!levels.empty()) {
    Level& level = levels.back();
    if (level.next == level.body->elements.size()) {
      levels.pop_back();
      continue;
    }
    const TemplateElement& element = level.body->elements[level.next++];
    const Node* node = element.node();
    const std::string_view name = node ? std::string_view(node->start_tag().name.content) : std::string_view();
    if (node && name == "c-fill") {
      out.fills.push_back({node, level.in_loop, level.in_control_flow});
    } else if (node && template_ast::is_control_flow_name(name)) {
      if (const auto* with_body = node->with_body()) {
        const bool in_loop = level.in_loop || name == "c-for";
        levels.push_back({&*with_body->body, 0, in_loop, true});  // invalidates `level`
      }
    } else if (out.stray == nullptr && is_stray_beside_fills(element)) {
      out.stray = &element;
    }
  }
  return out;
}

Status check_fill_placement(const Node& fill, std::vector<OpenElement>& stack, CollectorChecks& checks,
                            std::string_view source) {
  if (checks.fill_placement_ok) return std::nullopt;
  const auto& token = fill.start_tag().token;
  auto frame = stack.rbegin();
  for (; frame != stack.rend(); ++frame) {
    const std::string_view name = frame->start_tag.name.content;
    if (template_ast::is_control_flow_name(name)) {
      // A fill in this body passed: the same component stands above this one.
      if (frame->body.checks.fill_placement_ok) break;
      continue;
    }
    if (template_ast::is_reserved_tag_name(name) || !starts_with_c_dash(name)) {
      return error_at_token(source, token, fmt::format(fmt::runtime(msg::kFillInsideNonComponent), name));
    }
    break;
  }
  if (frame == stack.rend()) return error_at_token(source, token, std::string(msg::kFillOutsideComponent));
  // The control-flow bodies passed on the way have that component above them
  // too: a later fill in any of them stops there, so deep nesting is walked once.
  for (auto passed = stack.rbegin(); passed != frame; ++passed) passed->body.checks.fill_placement_ok = true;
  checks.fill_placement_ok = true;
  return std::nullopt;
}

Status check_slots_and_fills(const Node& node, const BodyFills& body_fills, const ParserContext& context) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  if (!is_slot_checked_tag(name)) return std::nullopt;
  const std::string_view source = context.source.view();
  const template_ast::TagRules* rules = find_tag_rules(name, context);
  static const template_ast::TagRules kAnySlot;
  const template_ast::TagRules& slots = rules ? *rules : kAnySlot;
  const TagRuleIndex* index = rules ? &context.rule_indexes->of(*rules) : nullptr;
  auto allows = [&](std::string_view slot) { return index == nullptr || index->allows_slot(slot); };
  auto fail_at = [&](const template_ast::Token& token, std::string_view format, auto&&... args) -> Status {
    return error_at_token(source, token, fmt::format(fmt::runtime(format), args...));
  };

  FillTally tally;
  if (body_fills.fills.empty()) {
    const auto* with_body = node.with_body();
    const bool has_content =
        with_body && std::ranges::any_of(with_body->body->elements, [](const TemplateElement& element) {
          const auto* text = element.text();
          return text == nullptr || !text::is_blank(text->token.content);
        });
    if (has_content) {
      // Body content is what the 'default' slot receives.
      tally.fill_count = 1;
      tally.filled.insert("default");
      if (!allows("default")) return fail_at(tag.token, msg::kNoDefaultSlot, name);
    }
  } else {
    if (body_fills.stray) return stray_error(*body_fills.stray, source);
    for (const FillRef& fill : body_fills.fills) {
      const auto& fill_tag = fill.node->start_tag();
      const HtmlAttr* slot_attr = last_slot_name_attr(fill_tag);
      const bool dynamic = slot_attr && slot_attr->key.content != "name";
      if (dynamic) {
        tally.has_dynamic = true;
        tally.dynamic_outside += fill.in_control_flow ? 0 : 1;
        tally.dynamic_in_loop = tally.dynamic_in_loop || fill.in_loop;
      } else if (slot_attr) {
        const std::string_view slot = slot_attr->inner_value ? std::string_view(slot_attr->inner_value->content) : "";
        if (!allows(slot)) return fail_at(fill_tag.token, msg::kSlotNotAllowed, name, slot);
        if (const auto declared = slots.slot_data_fields.find(slot); declared != slots.slot_data_fields.end()) {
          if (Status error = check_slot_data_fields(*fill.node, slot, name, declared->second,
                                                    *index->slot_fields(declared->first), source)) {
            return error;
          }
        }
        // Alternative branches and loop bodies may fill the same slot.
        if (!fill.in_control_flow && !tally.static_names.insert(slot)) {
          return fail_at(fill_tag.token, msg::kDuplicateFill, slot);
        }
        tally.filled.insert(slot);
      }
      if (!(dynamic && fill.in_loop)) ++tally.fill_count;
    }
    if (slots.allowed_slots && tally.dynamic_outside > 0) {
      const std::size_t allowed = slots.allowed_slots->size();
      const std::size_t free = allowed - std::min(allowed, tally.filled.size());
      if (tally.dynamic_outside > free) {
        return fail_at(tag.token, msg::kTooManyDynamicFills, name, allowed, tally.filled.size(), tally.dynamic_outside);
      }
    }
  }

  // A dynamic fill in a loop may fill any number of slots.
  if (slots.required_slots.empty() || tally.dynamic_in_loop) return std::nullopt;
  if (tally.fill_count < slots.required_slots.size()) {
    return fail_at(tag.token, msg::kTooFewFills, name, slots.required_slots.size(), tally.fill_count);
  }
  if (tally.has_dynamic) return std::nullopt;
  for (const std::string& required : slots.required_slots) {
    if (!tally.filled.contains(required)) return fail_at(tag.token, msg::kMissingSlot, name, required);
  }
  return std::nullopt;
}

bool holds_more_than_fills(const Template& body, const CollectorChecks& checks) {
  if (checks.has_mixed_control_flow) return true;
  return std::ranges::any_of(body.elements, is_stray_beside_fills);
}

Status check_fill_grouping(const Node& node, bool node_mixed, const Collector& collector, std::string_view source) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  if (name != "c-fill" && !collector.checks.has_fill) return std::nullopt;
  const auto& elements = collector.tmpl.elements;
  std::size_t index = elements.size();
  while (index > 0 && elements[index - 1].node() == nullptr) --index;
  if (index == 0) return std::nullopt;
  const Node& previous = *elements[index - 1].node();
  const auto& previous_tag = previous.start_tag();
  const bool grouped = is_fill_or_control_flow(name);
  if (grouped != is_fill_or_control_flow(previous_tag.name.content)) {
    return error_at_token(source, tag.token,
                          fmt::format(fmt::runtime(msg::kFillsNotGrouped), name, previous_tag.name.content));
  }
  if (!grouped) return std::nullopt;
  if (node_mixed) {
    return error_at_token(source, tag.token, fmt::format(fmt::runtime(msg::kControlFlowWithNonFill), name));
  }
  if (previous.has_body() && template_ast::is_control_flow_name(previous_tag.name.content)) {
    if (collector.checks.last_node_index != index - 1) {
      return TemplateParseError::from_message(
          fmt::format(fmt::runtime(msg::kFiledWithoutValidation), previous_tag.name.content));
    }
    if (collector.checks.last_node_mixed_control_flow) {
      return error_at_token(source, previous_tag.token,
                            fmt::format(fmt::runtime(msg::kControlFlowWithNonFill), previous_tag.name.content));
    }
  }
  return std::nullopt;
}

}  // namespace lumra::template_parser
