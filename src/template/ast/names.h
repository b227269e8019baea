// Tag-name tables of the template language and the small tests on them.
// Header-only and constexpr: the HTML scanners share the void-element list.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

#include "text/unicode.h"

namespace lumra::template_ast {

// The 14 void element names, in the order of the module's HTML_VOID_ELEMENTS.
inline constexpr std::array<std::string_view, 14> kHtmlVoidElements = {
    "area", "base", "br", "col", "embed", "hr", "img", "input", "link", "meta", "param", "source", "track", "wbr",
};

// The order of the module's RESERVED_TAG_NAMES.
inline constexpr std::array<std::string_view, 8> kReservedTagNames = {
    "c-if", "c-elif", "c-else", "c-for", "c-empty", "c-raw", "c-fill", "c-slot",
};

// A void element name, compared byte for byte ("BR" is not void).
constexpr bool is_void_element(std::string_view name) noexcept {
  for (std::string_view v : kHtmlVoidElements) {
    if (name == v) return true;
  }
  return false;
}

constexpr bool is_reserved_tag_name(std::string_view name) noexcept {
  for (std::string_view r : kReservedTagNames) {
    if (name == r) return true;
  }
  return false;
}

// Control-flow groups: 0 is the if chain (c-if, c-elif, c-else), 1 the for
// chain (c-for, c-empty). Nothing for any other name.
constexpr std::optional<int> control_flow_group(std::string_view name) noexcept {
  if (name == "c-if" || name == "c-elif" || name == "c-else") return 0;
  if (name == "c-for" || name == "c-empty") return 1;
  return std::nullopt;
}

constexpr bool is_control_flow_name(std::string_view name) noexcept { return control_flow_group(name).has_value(); }

// A fragment value "<>...</>" (White_Space around it allowed): the part
// between the delimiters, and its start and end offsets in `text`.
struct Fragment {
  std::string_view inner;
  std::size_t start = 0;
  std::size_t end = 0;
};

inline std::optional<Fragment> strip_fragment_delimiters(std::string_view text) noexcept {
  const std::size_t lead = text::leading_white_space(text);
  const std::string_view t = text::trim_white_space(text);
  if (t.size() < 5 || !t.starts_with("<>") || !t.ends_with("</>")) return std::nullopt;
  const std::string_view inner = t.substr(2, t.size() - 5);
  return Fragment{inner, lead + 2, lead + 2 + inner.size()};
}

}  // namespace lumra::template_ast
