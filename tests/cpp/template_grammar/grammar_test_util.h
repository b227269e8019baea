// Helpers shared by the template grammar tests.
#pragma once

#include <string>
#include <string_view>

#include "template/grammar/grammar.h"

namespace lumra::grammar::testing {

// The start rule's record tree in the pair display form, or "ERROR: " and the
// message with the error offset.
inline std::string tree_of(Rule start, std::string_view input) {
  const GrammarResult result = template_grammar_parse(start, input);
  if (!result.ok()) {
    return "ERROR@" + std::to_string(result.error().start()) + ": " + result.error().message();
  }
  return result.tree().root().to_string();
}

// The elements of a template, one per `template_element`: the rule of the
// element (for html_tag, the kind of tag) and its text, as `rule{text}`,
// joined with " ".
inline std::string elements_of(std::string_view input) {
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  if (!result.ok()) {
    return "ERROR@" + std::to_string(result.error().start()) + ": " + result.error().message();
  }
  std::string out;
  for (const Pair element : result.tree().root().inner()) {
    if (element.rule() == Rule::EOI) continue;
    Pair shown = *element.inner().first();
    if (shown.rule() == Rule::html_tag) shown = *shown.inner().first();
    if (!out.empty()) out += ' ';
    out += std::string(rule_name(shown.rule())) + "{" + std::string(shown.as_str()) + "}";
  }
  return out;
}

// The first pair with `rule` in pre-order, as its display; empty when none.
inline std::string find_display(const Pair& pair, Rule rule) {
  if (pair.rule() == rule) return pair.to_string();
  for (const Pair child : pair.inner()) {
    std::string found = find_display(child, rule);
    if (!found.empty()) return found;
  }
  return {};
}

inline std::string first_display(std::string_view input, Rule rule) {
  const GrammarResult result = template_grammar_parse(Rule::template_, input);
  if (!result.ok()) return "ERROR";
  return find_display(result.tree().root(), rule);
}

}  // namespace lumra::grammar::testing
