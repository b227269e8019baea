#include "template/ast/tag_rules.h"

#include <array>
#include <unordered_map>

#include "template/ast/debug.h"

namespace lumra::template_ast {
namespace {

using Groups = std::vector<AttrGroup>;

struct Row {
  std::string_view tag;
  std::optional<Groups> allowed_attrs;
  Groups required_attrs;
};

// Slot rules exist only for the component tags.
struct SlotRow {
  std::string_view tag;
  std::optional<std::vector<std::string>> allowed_slots;
  std::vector<std::string> required_slots;
};

struct TransparentHash {
  using is_transparent = void;
  std::size_t operator()(std::string_view s) const noexcept { return std::hash<std::string_view>{}(s); }
};

struct BuiltinTables {
  std::vector<std::pair<std::string_view, TagRules>> rows;
  std::unordered_map<std::string_view, std::size_t, TransparentHash, std::equal_to<>> index;
  std::vector<NamedTagRules> table;
};

const BuiltinTables& builtin_tables() {
  // Function-local static: built once, thread-safe, never changed afterwards.
  static const BuiltinTables tables = [] {
    const std::array<SlotRow, 2> slot_rows{{
        {"c-component", std::nullopt, {}},
        {"c-element", std::vector<std::string>{"default"}, {}},
    }};
    const std::array<Row, 10> rows{{
        {"c-if", Groups{{"cond"}}, Groups{{"cond"}}},
        {"c-elif", Groups{{"cond"}}, Groups{{"cond"}}},
        {"c-else", Groups{}, Groups{}},
        {"c-for", Groups{{"each"}}, Groups{{"each"}}},
        {"c-empty", Groups{}, Groups{}},
        {"c-raw", Groups{}, Groups{}},
        {"c-fill", Groups{{"name", "c-name"}, {"data"}, {"fallback"}}, Groups{{"name", "c-name", "c-bind"}}},
        {"c-slot", std::nullopt, Groups{}},
        {"c-component", std::nullopt, Groups{{"is", "c-is", "c-bind"}}},
        {"c-element", std::nullopt, Groups{{"is", "c-is", "c-bind"}}},
    }};
    BuiltinTables t;
    t.rows.reserve(rows.size());
    for (const Row& row : rows) {
      TagRules rules;
      rules.allowed_attrs = row.allowed_attrs;
      rules.required_attrs = row.required_attrs;
      for (const SlotRow& slots : slot_rows) {
        if (slots.tag == row.tag) {
          rules.allowed_slots = slots.allowed_slots;
          rules.required_slots = slots.required_slots;
        }
      }
      t.rows.emplace_back(row.tag, std::move(rules));
    }
    for (std::size_t i = 0; i < t.rows.size(); ++i) {
      t.index.emplace(t.rows[i].first, i);
      t.table.push_back(NamedTagRules{t.rows[i].first, &t.rows[i].second});
    }
    return t;
  }();
  return tables;
}

void append_names(std::string& out, const std::vector<std::string>& names) {
  out += '[';
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) out += ", ";
    append_debug_str(out, names[i]);
  }
  out += ']';
}

void append_groups(std::string& out, const std::vector<AttrGroup>& groups) {
  out += '[';
  for (std::size_t i = 0; i < groups.size(); ++i) {
    if (i != 0) out += ", ";
    append_names(out, groups[i]);
  }
  out += ']';
}

template <class T, class Append>
void append_optional(std::string& out, const std::optional<T>& value, Append append) {
  if (!value) {
    out += "None";
    return;
  }
  out += "Some(";
  append(out, *value);
  out += ')';
}

}  // namespace

const TagRules* builtin_tag_rules(std::string_view tag) {
  // Every built-in rule is for a name that begins with "c-"; most tags are
  // plain markup.
  if (!tag.starts_with("c-")) return nullptr;
  const BuiltinTables& t = builtin_tables();
  auto it = t.index.find(tag);
  return it == t.index.end() ? nullptr : &t.rows[it->second].second;
}

const std::vector<NamedTagRules>& builtin_tag_rules_table() { return builtin_tables().table; }

const std::vector<std::string_view>* allowed_predecessors(std::string_view tag) {
  static const std::vector<std::string_view> after_if{"c-if", "c-elif"};
  static const std::vector<std::string_view> after_for{"c-for"};
  if (tag == "c-elif" || tag == "c-else") return &after_if;
  if (tag == "c-empty") return &after_for;
  return nullptr;
}

std::string repr(const TagRules& rules) {
  std::string out = "TagRules(allowed_attrs=";
  append_optional(out, rules.allowed_attrs, append_groups);
  out += ", required_attrs=";
  append_groups(out, rules.required_attrs);
  out += ", allowed_slots=";
  append_optional(out, rules.allowed_slots, append_names);
  out += ", required_slots=";
  append_names(out, rules.required_slots);
  out += ", slot_data_fields={";
  bool first = true;
  for (const auto& [slot, fields] : rules.slot_data_fields) {
    if (!first) out += ", ";
    first = false;
    append_debug_str(out, slot);
    out += ": ";
    append_names(out, fields);
  }
  out += "})";
  return out;
}

}  // namespace lumra::template_ast
