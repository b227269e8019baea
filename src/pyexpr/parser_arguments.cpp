// Call arguments: positional, keyword, `*` and `**` arguments, with the
// orderings Python forbids, repeated keywords and generators that need their
// own parentheses.
#include <algorithm>
#include <string_view>

#include "hashing/keyed_hash.h"
#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr::parser_detail {

std::pair<Arguments, uint32_t> Parser::parse_arguments() {
    using Kind = ParseErrorType::Kind;
    const TextSize start = node_start();
    bump(TokenKind::Lpar);

    Arguments arguments{};
    uint32_t height = 0;
    bool seen_keyword_argument = false;
    bool seen_keyword_unpacking = false;

    const bool has_trailing_comma = parse_comma_separated_list(ListKind::Arguments, [&] {
        const TextSize arg_start = node_start();
        if (eat(TokenKind::DoubleStar)) {
            ParsedExpr value = parse_conditional_expression_or_higher(kDefaultContext);
            height = std::max(height, value.height + 1);
            arguments.keywords.push_back(Keyword{node_range(arg_start), {}, std::nullopt, std::move(value.expr)});
            seen_keyword_unpacking = true;
            return;
        }

        ParsedExpr parsed = parse_named_expression_or_higher(ExpressionContext{ExpressionContext::kAllowStarred});
        const bool bare_starred = parsed.expr.is<ExprStarred>() && !parsed.is_parenthesized;
        if (at(TokenKind::Async) || at(TokenKind::For)) {
            if (bare_starred) {
                add_error(ParseErrorType::of(Kind::IterableUnpackingInComprehension), parsed.expr.range());
            }
            parsed = parse_generator_expression(std::move(parsed), arg_start, false);
        } else if (seen_keyword_unpacking && bare_starred) {
            add_error(ParseErrorType::of(Kind::InvalidArgumentUnpackingOrder), parsed.expr.range());
        }

        if (eat(TokenKind::Equal)) {
            seen_keyword_argument = true;
            Identifier arg;
            if (auto* name = parsed.expr.as_if<ExprName>()) {
                arg = Identifier{std::move(name->id), name->range, {}};
            } else {
                add_error(ParseErrorType::other("Expected a parameter name"), parsed.expr.range());
                arg = Identifier{Name(), parsed.expr.range(), {}};
            }
            ParsedExpr value = parse_conditional_expression_or_higher(kDefaultContext);
            height = std::max(height, value.height + 1);
            arguments.keywords.push_back(Keyword{node_range(arg_start), {}, std::move(arg), std::move(value.expr)});
            return;
        }

        const bool is_bare_starred = parsed.expr.is<ExprStarred>() && !parsed.is_parenthesized;
        if (!is_bare_starred) {
            if (seen_keyword_unpacking) {
                add_error(ParseErrorType::of(Kind::PositionalAfterKeywordUnpacking), parsed.expr.range());
            } else if (seen_keyword_argument) {
                add_error(ParseErrorType::of(Kind::PositionalAfterKeywordArgument), parsed.expr.range());
            }
        }
        height = std::max(height, parsed.height);
        arguments.args.push_back(std::move(parsed.expr));
    });

    expect(TokenKind::Rpar);
    arguments.range = node_range(start);

    // Repeated keyword names; the first use of a name is never reported.
    hashing::TextSet<std::string_view> seen_names;
    for (const Keyword& keyword : arguments.keywords) {
        if (!keyword.arg) continue;
        const std::string_view name = keyword.arg->id.view();
        if (!seen_names.insert(name).second) {
            add_error(ParseErrorType::duplicate_keyword(name), keyword.range);
        }
    }

    if (has_trailing_comma || arguments.args.size() + arguments.keywords.size() >= 2) {
        for (const Expr& arg : arguments.args) {
            if (const auto* generator = arg.as_if<ExprGenerator>(); generator != nullptr && !generator->parenthesized) {
                add_error(ParseErrorType::of(Kind::UnparenthesizedGeneratorExpression), arg.range());
            }
        }
    }
    return {std::move(arguments), height};
}

}  // namespace lumra::pyexpr::parser_detail
