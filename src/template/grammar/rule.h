// The rules of the template grammar.
//
// Ids follow the order of declaration; error messages list rules sorted by id,
// so the order is part of the output. A rule prints only as its name.
#pragma once

#include <cstdint>
#include <ostream>
#include <string_view>

namespace lumra::grammar {

// `template` is a C++ keyword, so that one enumerator carries a trailing
// underscore; its printable name is still "template".
enum class Rule : std::uint8_t {
  EOI = 0,
  template_ = 1,
  template_element = 2,
  html_comment = 3,
  html_comment_content = 4,
  html_directive = 5,
  directive_content = 6,
  html_processing_instruction = 7,
  processing_instruction_content = 8,
  html_raw = 9,
  html_raw_start_tag = 10,
  html_raw_end_tag = 11,
  html_raw_content = 12,
  html_raw_tag_name = 13,
  html_tag = 14,
  html_start_tag = 15,
  html_end_tag = 16,
  html_self_closing_tag = 17,
  html_tag_name = 18,
  html_attribute = 19,
  html_meta_attribute_name = 20,
  html_attribute_name = 21,
  html_attribute_value = 22,
  double_quoted_value = 23,
  single_quoted_value = 24,
  unquoted_value = 25,
  template_expression = 26,
  template_comment = 27,
  template_comment_content = 28,
  text = 29,
  python_expr = 30,
  python_str_triple_double = 31,
  python_str_triple_single = 32,
  python_str_double = 33,
  python_str_single = 34,
  python_esc = 35,
  python_nested_curly = 36,
  python_other_char = 37,
  fill_data_pattern = 38,
  fill_data_destructure = 39,
  fill_data_item = 40,
  fill_data_rest = 41,
  fill_data_field = 42,
  fill_data_identifier = 43,
  fill_data_ws = 44,
  fill_data_ws_required = 45,
  spacing = 46,
  spacing_with_whitespace = 47,
  WHITESPACE = 48,
};

inline constexpr int kRuleCount = 49;

// Whether a rule leaves a record, whether the rules it calls do, and whether
// it is counted in error reports.
enum class RuleKind : std::uint8_t {
  normal,
  silent,
  atomic,
  compound_atomic,
};

// The rule's name exactly as declared ("template" for Rule::template_).
std::string_view rule_name(Rule rule) noexcept;
RuleKind rule_kind(Rule rule) noexcept;

inline std::ostream& operator<<(std::ostream& out, Rule rule) {
  return out << rule_name(rule);
}

}  // namespace lumra::grammar
