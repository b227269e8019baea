// Control-flow groups: a <c-if> with the <c-elif>/<c-else> tags after it, a
// <c-for> with its <c-empty>, each compiled as one IfNode or ForNode call that
// holds a branch per tag. Only whitespace may stand between the members.
#include <array>

#include "template/compiler/lowering.h"
#include "text/unicode.h"

namespace lumra::template_compiler {
namespace {

constexpr std::array<std::string_view, 2> kIfContinuations = {"c-elif", "c-else"};
constexpr std::array<std::string_view, 1> kForContinuations = {"c-empty"};
constexpr ControlGroup kIfGroup{rt::kIfNode, "c-if", kIfContinuations};
constexpr ControlGroup kForGroup{rt::kForNode, "c-for", kForContinuations};

bool continues(const ControlGroup& group, const StreamItem& item) {
  if (item.node == nullptr) return false;
  const std::string_view name = item.node->start_tag().name.content;
  for (std::string_view tag : group.continuation_tags) {
    if (name == tag) return true;
  }
  return false;
}

bool is_blank_text(const StreamItem& item) { return item.text != nullptr && text::is_blank(item.text->token.content); }

}  // namespace

const ControlGroup* control_group_of(std::string_view tag) {
  if (tag == kIfGroup.first_tag) return &kIfGroup;
  if (tag == kForGroup.first_tag) return &kForGroup;
  return nullptr;
}

std::pair<std::size_t, std::size_t> collect_chain_members(std::span<const StreamItem> items, std::size_t& next,
                                                          const ControlGroup& group,
                                                          std::vector<const tast::Node*>& members) {
  for (;;) {
    // A template comment between two line breaks leaves two texts: the whole
    // run of blank texts is gathered, not only one.
    std::size_t after = next;
    while (after < items.size() && is_blank_text(items[after])) ++after;
    if (after == items.size() || !continues(group, items[after])) {
      const std::size_t held = next;
      next = after;
      return {held, after};
    }
    members.push_back(items[after].node);
    next = after + 1;
  }
}

IrNode control_branch(const tast::Node& node, IrNode attrs, IrNode body) {
  const auto [start, end] = element_span(node);
  return IrNode::tuple(
      {span_tuple(start, end), attrs, body, unique_variable_names(node.introduced_variables())});
}

}  // namespace lumra::template_compiler
