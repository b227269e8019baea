// The parser's error values and the helpers that place them.
//
// Every operation of the parser answers a value or one TemplateParseError;
// the first error ends the whole parse. Positioned errors are grammar errors
// with a custom message laid against the whole input (`source`), so Python
// shows line, column and caret; a span that is not a valid place there
// becomes the plain Message kind with the same text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <variant>

#include "template/grammar/pairs.h"
#include "template/grammar/rule.h"
#include "template/parser/parser.h"

namespace lumra::template_parser {

// A value or the error that ended the operation.
template <class T>
class [[nodiscard]] Parsed {
 public:
  Parsed(T value) : v_(std::in_place_index<0>, std::move(value)) {}  // NOLINT(google-explicit-constructor)
  Parsed(TemplateParseError error)                                    // NOLINT(google-explicit-constructor)
      : v_(std::in_place_index<1>, std::move(error)) {}

  bool ok() const noexcept { return v_.index() == 0; }
  explicit operator bool() const noexcept { return ok(); }
  T& value() & { return std::get<0>(v_); }
  const T& value() const& { return std::get<0>(v_); }
  T&& value() && { return std::get<0>(std::move(v_)); }
  TemplateParseError& error() & { return std::get<1>(v_); }
  TemplateParseError&& error() && { return std::get<1>(std::move(v_)); }

 private:
  std::variant<T, TemplateParseError> v_;
};

// Success (empty) or the error of an operation that returns nothing.
using Status = std::optional<TemplateParseError>;

// A custom-message error at start..end of `source`; the Message kind when
// start > end, end is beyond `source`, or an end is not on a character boundary.
TemplateParseError error_at_span(std::string_view source, std::uint64_t start, std::uint64_t end,
                                 std::string message);
// error_at_span over base + start .. base + end, each sum saturating.
TemplateParseError error_at_offsets(std::string_view source, std::uint64_t base, std::uint64_t start,
                                    std::uint64_t end, std::string message);
// error_at_offsets of a pair's span in the text the grammar ran over, shifted
// by the context's index_offset onto the whole input.
TemplateParseError error_at_pair(const ParserContext& context, grammar::Pair pair, std::string message);

// Structural checks on pairs (the grammar guarantees the shapes; these guard
// them). Failures lie at the pair's own span in the text the grammar ran over.
Status expect_rule(grammar::Pair pair, grammar::Rule rule);
Status expect_one_of_rules(grammar::Pair pair, grammar::Rule first, grammar::Rule second);
// The pair's first inner pair, checked with expect_rule.
Parsed<grammar::Pair> expect_inner_rule(grammar::Pair pair, grammar::Rule rule);

}  // namespace lumra::template_parser
