#include "template/grammar/rule.h"

#include <array>

namespace lumra::grammar {
namespace {

struct RuleInfo {
  std::string_view name;
  RuleKind kind;
};

using K = RuleKind;

// Indexed by rule id.
constexpr std::array<RuleInfo, kRuleCount> kRules{{
    {"EOI", K::normal},
    {"template", K::compound_atomic},
    {"template_element", K::normal},
    {"html_comment", K::normal},
    {"html_comment_content", K::atomic},
    {"html_directive", K::atomic},
    {"directive_content", K::atomic},
    {"html_processing_instruction", K::atomic},
    {"processing_instruction_content", K::atomic},
    {"html_raw", K::normal},
    {"html_raw_start_tag", K::normal},
    {"html_raw_end_tag", K::normal},
    {"html_raw_content", K::atomic},
    {"html_raw_tag_name", K::atomic},
    {"html_tag", K::normal},
    {"html_start_tag", K::compound_atomic},
    {"html_end_tag", K::compound_atomic},
    {"html_self_closing_tag", K::compound_atomic},
    {"html_tag_name", K::atomic},
    {"html_attribute", K::normal},
    {"html_meta_attribute_name", K::atomic},
    {"html_attribute_name", K::atomic},
    {"html_attribute_value", K::normal},
    {"double_quoted_value", K::atomic},
    {"single_quoted_value", K::atomic},
    {"unquoted_value", K::atomic},
    {"template_expression", K::compound_atomic},
    {"template_comment", K::atomic},
    {"template_comment_content", K::atomic},
    {"text", K::atomic},
    {"python_expr", K::compound_atomic},
    {"python_str_triple_double", K::atomic},
    {"python_str_triple_single", K::atomic},
    {"python_str_double", K::atomic},
    {"python_str_single", K::atomic},
    {"python_esc", K::silent},
    {"python_nested_curly", K::silent},
    {"python_other_char", K::normal},
    {"fill_data_pattern", K::compound_atomic},
    {"fill_data_destructure", K::normal},
    {"fill_data_item", K::normal},
    {"fill_data_rest", K::normal},
    {"fill_data_field", K::normal},
    {"fill_data_identifier", K::atomic},
    {"fill_data_ws", K::silent},
    {"fill_data_ws_required", K::silent},
    {"spacing", K::compound_atomic},
    {"spacing_with_whitespace", K::compound_atomic},
    {"WHITESPACE", K::silent},
}};

}  // namespace

std::string_view rule_name(Rule rule) noexcept {
  const auto id = static_cast<std::size_t>(rule);
  return id < kRules.size() ? kRules[id].name : std::string_view("<unknown rule>");
}

RuleKind rule_kind(Rule rule) noexcept {
  const auto id = static_cast<std::size_t>(rule);
  return id < kRules.size() ? kRules[id].kind : RuleKind::normal;
}

}  // namespace lumra::grammar
