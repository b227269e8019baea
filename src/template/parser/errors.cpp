#include "template/parser/errors.h"

#include <fmt/format.h>

#include <limits>

#include "template/parser/messages.h"

namespace lumra::template_parser {

namespace {

std::uint64_t saturating_add(std::uint64_t a, std::uint64_t b) {
  return b > std::numeric_limits<std::uint64_t>::max() - a ? std::numeric_limits<std::uint64_t>::max() : a + b;
}

TemplateParseError error_in_grammar_text(grammar::Pair pair, std::string message) {
  return error_at_span(pair.input(), pair.start(), pair.end(), std::move(message));
}

}  // namespace

TemplateParseError error_at_span(std::string_view source, std::uint64_t start, std::uint64_t end,
                                 std::string message) {
  if (start <= end && end <= source.size()) {
    if (auto error = grammar::error_from_span(source, start, end, message)) {
      return TemplateParseError::from_grammar(std::move(*error));
    }
  }
  return TemplateParseError::from_message(std::move(message));
}

TemplateParseError error_at_offsets(std::string_view source, std::uint64_t base, std::uint64_t start,
                                    std::uint64_t end, std::string message) {
  return error_at_span(source, saturating_add(base, start), saturating_add(base, end), std::move(message));
}

TemplateParseError error_at_pair(const ParserContext& context, grammar::Pair pair, std::string message) {
  return error_at_offsets(context.source.view(), context.index_offset, pair.start(), pair.end(), std::move(message));
}

Status expect_rule(grammar::Pair pair, grammar::Rule rule) {
  if (pair.rule() == rule) return std::nullopt;
  return error_in_grammar_text(pair, fmt::format(fmt::runtime(msg::kExpectedRule), grammar::rule_name(rule), grammar::rule_name(pair.rule())));
}

Status expect_one_of_rules(grammar::Pair pair, grammar::Rule first, grammar::Rule second) {
  if (pair.rule() == first || pair.rule() == second) return std::nullopt;
  return error_in_grammar_text(pair, fmt::format(fmt::runtime(msg::kExpectedOneOfRules),
                                                 fmt::format("[{}, {}]", grammar::rule_name(first), grammar::rule_name(second)),
                                                 grammar::rule_name(pair.rule())));
}

Parsed<grammar::Pair> expect_inner_rule(grammar::Pair pair, grammar::Rule rule) {
  const auto inner = pair.inner().first();
  if (!inner) {
    return error_in_grammar_text(pair, fmt::format(fmt::runtime(msg::kPairShouldContain),
                                                   grammar::rule_name(pair.rule()), grammar::rule_name(rule)));
  }
  if (Status error = expect_rule(*inner, rule)) return std::move(*error);
  return *inner;
}

}  // namespace lumra::template_parser
