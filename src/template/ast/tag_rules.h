// Validation rules of one tag, and the built-in tables of the reserved tags.
//
// `TagRules` is what the template parser checks tags against and what the
// compiler reads the control-flow attributes from. Callers add rules for their
// own tags; the built-in table covers the reserved tags and the component
// tags. Both built-in tables are built once, on first use, and never change.
#pragma once

#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumra::template_ast {

// Alternative attribute names: at most one of them may appear (allowed
// groups), or at least one of them must (required groups).
using AttrGroup = std::vector<std::string>;

struct TagRules {
  // Absent: any attribute. Empty: none. Otherwise only the listed names, each
  // group's names being mutually exclusive.
  std::optional<std::vector<AttrGroup>> allowed_attrs;
  // One name of each group must be present.
  std::vector<AttrGroup> required_attrs;
  // Slot names that `<c-fill>` tags may fill; absent: any, empty: none.
  std::optional<std::vector<std::string>> allowed_slots;
  // Slots that must be filled ("default" also by body content).
  std::vector<std::string> required_slots;
  // Known data fields per slot, ordered by slot name (byte-wise). A slot not
  // listed has an unknown data shape.
  std::map<std::string, std::vector<std::string>, std::less<>> slot_data_fields;

  friend bool operator==(const TagRules&, const TagRules&) = default;
};

// Built-in rules of a tag name exactly as written, or null ("c-MyComp" and
// plain HTML tags have none).
const TagRules* builtin_tag_rules(std::string_view tag);

// The whole built-in table, in a fixed order (the order rows are listed in).
struct NamedTagRules {
  std::string_view tag;
  const TagRules* rules;
};
const std::vector<NamedTagRules>& builtin_tag_rules_table();

// Tags that may stand directly before a continuing control-flow tag
// ("c-elif", "c-else", "c-empty"), in a fixed order for messages; null for any
// other tag.
const std::vector<std::string_view>* allowed_predecessors(std::string_view tag);

// "TagRules(allowed_attrs=None, required_attrs=[], allowed_slots=None,
//  required_slots=[], slot_data_fields={})"
std::string repr(const TagRules& rules);

}  // namespace lumra::template_ast
