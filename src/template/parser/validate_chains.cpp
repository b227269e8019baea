// Control-flow chains: c-elif and c-else continue an if chain, c-empty a loop,
// written as tags or as attributes; each must directly follow a suitable
// sibling, with only blank text between.
#include <fmt/format.h>

#include <array>
#include <string>

#include "template/parser/messages.h"
#include "template/parser/validate_checks.h"

namespace lumra::template_parser {

namespace {

// The control-flow attributes by the priority that decides an element's kind.
constexpr std::array<std::string_view, 5> kControlFlowByPriority = {"c-if", "c-elif", "c-else", "c-for", "c-empty"};

// "<c-if>, <c-elif>"
std::string format_tag_list(const std::vector<std::string_view>& names) {
  std::string out;
  for (std::string_view name : names) {
    if (!out.empty()) out += ", ";
    out += '<';
    out += name;
    out += '>';
  }
  return out;
}

}  // namespace

std::string_view control_flow_kind(const template_ast::Node& node) {
  const auto& tag = node.start_tag();
  const std::string_view name = tag.name.content;
  if (template_ast::is_control_flow_name(name)) return name;
  std::size_t first = kControlFlowByPriority.size();
  for (const auto& attr : tag.attrs) {
    const std::string_view key = attr.key.content;
    // Every control-flow name is "c-" and two to five more bytes.
    if (key.size() < 4 || key.size() > 7 || !key.starts_with("c-")) continue;
    for (std::size_t i = 0; i < first; ++i) {
      if (key == kControlFlowByPriority[i]) first = i;
    }
  }
  return first < kControlFlowByPriority.size() ? kControlFlowByPriority[first] : name;
}

Status check_chain(const template_ast::Node& node, const template_ast::Template& siblings, std::string_view source) {
  const std::string_view kind = control_flow_kind(node);
  const std::vector<std::string_view>* allowed = template_ast::allowed_predecessors(kind);
  if (allowed == nullptr) return std::nullopt;
  auto fail = [&](std::string_view format, std::string_view previous = {}) -> Status {
    return error_at_token(source, node.start_tag().token,
                          fmt::format(fmt::runtime(format), kind, format_tag_list(*allowed), previous));
  };
  const auto& elements = siblings.elements;
  for (auto it = elements.rbegin(); it != elements.rend(); ++it) {
    if (const auto* text = it->text()) {
      if (text::is_blank(text->token.content)) continue;
      return fail(msg::kChainOtherContent);
    }
    const auto* previous = it->node();
    if (previous == nullptr) return fail(msg::kChainOtherContent);
    const std::string_view previous_kind = control_flow_kind(*previous);
    for (std::string_view predecessor : *allowed) {
      if (predecessor == previous_kind) return std::nullopt;
    }
    return fail(msg::kChainWrongPredecessor, previous_kind);
  }
  return fail(msg::kChainNoPredecessor);
}

}  // namespace lumra::template_parser
