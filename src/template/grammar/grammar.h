// Entry point of the template grammar.
//
// template_grammar_parse() recognises a whole template (start rule
// Rule::template_) or the value of a <c-fill> `data` attribute (start rule
// Rule::fill_data_pattern). On success it returns the records as a ParseTree
// whose single top-level pair is the start rule's; on failure, the positioned
// GrammarError of the furthest failure.
#pragma once

#include <cstdint>
#include <string_view>
#include <utility>
#include <variant>

#include "template/grammar/error.h"
#include "template/grammar/pairs.h"
#include "template/grammar/rule.h"

namespace lumra::grammar {

// Brace pairs nested inside one template expression. Each level recurses once
// through the recogniser, so the bound keeps deep input off the native stack.
inline constexpr int kMaxBraceNesting = 256;

class GrammarResult {
 public:
  GrammarResult(ParseTree tree) : value_(std::move(tree)) {}
  GrammarResult(GrammarError error) : value_(std::move(error)) {}

  bool ok() const noexcept { return value_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  // Precondition: ok().
  const ParseTree& tree() const& { return std::get<ParseTree>(value_); }
  ParseTree&& tree() && { return std::get<ParseTree>(std::move(value_)); }
  // Precondition: !ok().
  const GrammarError& error() const& { return std::get<GrammarError>(value_); }
  GrammarError&& error() && { return std::get<GrammarError>(std::move(value_)); }

 private:
  std::variant<ParseTree, GrammarError> value_;
};

// The records a caller reads. The template parser takes an expression as the
// span of its python_expr pair and never looks at the parts inside (strings,
// nested braces, one python_other_char per character); leaving those out
// spares it a record per character of every expression. Everything else, the
// outcome and any error are the same either way.
enum class Records : std::uint8_t { all, without_expression_parts };

// `input` must be valid UTF-8 (offsets then always fall on character
// boundaries) and stay alive as long as the returned tree and its pairs are
// used.
// Another `start` rule than the two above gives an internal error at offset 0.
GrammarResult template_grammar_parse(Rule start, std::string_view input, Records records = Records::all);

}  // namespace lumra::grammar
