// Parenthesized expressions, tuples, generators, and list, set and dictionary
// displays and comprehensions. Each reads the first element with the most
// permissive rule, then decides from the next token what it is building.
#include <algorithm>

#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr::parser_detail {

namespace {

using Kind = ParseErrorType::Kind;

constexpr ExpressionContext kStarredContext{ExpressionContext::kAllowStarred | ExpressionContext::kStarredBitwiseOr};
constexpr ExpressionContext kParenthesizedFirstContext{
    ExpressionContext::kAllowStarred | ExpressionContext::kStarredBitwiseOr | ExpressionContext::kAllowYield};

bool at_comprehension_start(const Parser& p) { return p.at(TokenKind::Async) || p.at(TokenKind::For); }

// "missing closing ..." right after an opening bracket at the end of a line or of the input.
void check_missing_closing(Parser& p, const char* message) {
    if (p.at(TokenKind::Newline) || p.at(TokenKind::EndOfFile)) {
        p.add_error(ParseErrorType::other(message), p.current_range());
    }
}

void check_unpacking_in_comprehension(Parser& p, const ParsedExpr& element) {
    if (element.expr.is<ExprStarred>() && !element.is_parenthesized) {
        p.add_error(ParseErrorType::of(Kind::IterableUnpackingInComprehension), element.expr.range());
    }
}

}  // namespace

ParsedExpr Parser::parse_parenthesized_expression() {
    const TextSize start = node_start();
    bump(TokenKind::Lpar);
    check_missing_closing(*this, "missing closing parenthesis `)`");
    if (at(TokenKind::Rpar)) {
        bump(TokenKind::Rpar);
        return ParsedExpr{Expr(ExprTuple{{}, node_range(start), {}, ExprContext::Load, true}), false, 1};
    }

    ParsedExpr first = parse_named_expression_or_higher(kParenthesizedFirstContext);
    if (at(TokenKind::Comma)) {
        bump(TokenKind::Comma);
        std::vector<Expr> elts;
        uint32_t height = first.height;
        elts.push_back(std::move(first.expr));
        parse_comma_separated_list(ListKind::TupleParenthesized, [&] {
            ParsedExpr element = parse_named_expression_or_higher(kStarredContext);
            height = std::max(height, element.height);
            elts.push_back(std::move(element.expr));
        });
        expect(TokenKind::Rpar);
        return ParsedExpr{Expr(ExprTuple{{}, node_range(start), std::move(elts), ExprContext::Load, true}), false,
                          height_above(height)};
    }
    if (at_comprehension_start(*this)) {
        check_unpacking_in_comprehension(*this, first);
        return parse_generator_expression(std::move(first), start, true);
    }
    if (first.expr.is<ExprStarred>()) {
        add_error(ParseErrorType::of(Kind::InvalidStarredExpressionUsage), first.expr.range());
    }
    expect(TokenKind::Rpar);
    first.is_parenthesized = true;
    return first;
}

ParsedExpr Parser::parse_list_like_expression() {
    const TextSize start = node_start();
    bump(TokenKind::Lsqb);
    check_missing_closing(*this, "missing closing bracket `]`");
    if (at(TokenKind::Rsqb)) {
        bump(TokenKind::Rsqb);
        return ParsedExpr{Expr(ExprList{{}, node_range(start), {}, ExprContext::Load}), false, 1};
    }

    ParsedExpr first = parse_named_expression_or_higher(kStarredContext);
    if (at_comprehension_start(*this)) {
        check_unpacking_in_comprehension(*this, first);
        ParsedClauses clauses = parse_comprehension_clauses();
        expect(TokenKind::Rsqb);
        const uint32_t height = height_above(std::max(first.height, clauses.height));
        return ParsedExpr{Expr(ExprListComp{{}, node_range(start), boxed(std::move(first.expr)),
                                            std::move(clauses.generators)}),
                          false, height};
    }

    if (!is_end_of_sequence(current_kind())) expect(TokenKind::Comma);
    std::vector<Expr> elts;
    uint32_t height = first.height;
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(ListKind::ListElements, [&] {
        ParsedExpr element = parse_named_expression_or_higher(kStarredContext);
        height = std::max(height, element.height);
        elts.push_back(std::move(element.expr));
    });
    expect(TokenKind::Rsqb);
    return ParsedExpr{Expr(ExprList{{}, node_range(start), std::move(elts), ExprContext::Load}), false,
                      height_above(height)};
}

ParsedExpr Parser::parse_set_or_dict_like_expression() {
    const TextSize start = node_start();
    bump(TokenKind::Lbrace);
    check_missing_closing(*this, "missing closing brace `}`");
    if (at(TokenKind::Rbrace)) {
        bump(TokenKind::Rbrace);
        return ParsedExpr{Expr(ExprDict{{}, node_range(start), {}}), false, 1};
    }

    std::vector<DictItem> items;
    uint32_t height = 1;

    // Entries after the first one, then the closing brace.
    auto parse_dictionary_rest = [&]() -> ParsedExpr {
        if (!is_end_of_sequence(current_kind())) expect(TokenKind::Comma);
        parse_comma_separated_list(ListKind::DictElements, [&] {
            if (eat(TokenKind::DoubleStar)) {
                ParsedExpr value = parse_expression_with_bitwise_or_precedence();
                height = std::max(height, value.height);
                items.push_back(DictItem{Box<Expr>(), std::move(value.expr)});
                return;
            }
            ParsedExpr key = parse_conditional_expression_or_higher(kDefaultContext);
            expect(TokenKind::Colon);
            ParsedExpr value = parse_conditional_expression_or_higher(kDefaultContext);
            height = std::max({height, key.height, value.height});
            items.push_back(DictItem{boxed(std::move(key.expr)), std::move(value.expr)});
        });
        expect(TokenKind::Rbrace);
        return ParsedExpr{Expr(ExprDict{{}, node_range(start), std::move(items)}), false, height_above(height)};
    };

    if (eat(TokenKind::DoubleStar)) {
        ParsedExpr value = parse_expression_with_bitwise_or_precedence();
        height = value.height;
        items.push_back(DictItem{Box<Expr>(), std::move(value.expr)});
        return parse_dictionary_rest();
    }

    ParsedExpr first = parse_named_expression_or_higher(kStarredContext);
    if (at_comprehension_start(*this)) {
        check_unpacking_in_comprehension(*this, first);
        ParsedClauses clauses = parse_comprehension_clauses();
        expect(TokenKind::Rbrace);
        const uint32_t h = height_above(std::max(first.height, clauses.height));
        return ParsedExpr{Expr(ExprSetComp{{}, node_range(start), boxed(std::move(first.expr)),
                                           std::move(clauses.generators)}),
                          false, h};
    }

    if (at(TokenKind::Colon)) {
        if (!first.is_parenthesized) {
            if (first.expr.is<ExprNamed>()) {
                add_error(ParseErrorType::of(Kind::UnparenthesizedNamedExpression), first.expr.range());
            } else if (first.expr.is<ExprStarred>()) {
                add_error(ParseErrorType::of(Kind::InvalidStarredExpressionUsage), first.expr.range());
            }
        }
        bump(TokenKind::Colon);
        ParsedExpr value = parse_conditional_expression_or_higher(kDefaultContext);
        if (at_comprehension_start(*this)) {
            ParsedClauses clauses = parse_comprehension_clauses();
            expect(TokenKind::Rbrace);
            const uint32_t h = height_above(std::max({first.height, value.height, clauses.height}));
            return ParsedExpr{Expr(ExprDictComp{{}, node_range(start), boxed(std::move(first.expr)),
                                                boxed(std::move(value.expr)), std::move(clauses.generators)}),
                              false, h};
        }
        height = std::max(first.height, value.height);
        items.push_back(DictItem{boxed(std::move(first.expr)), std::move(value.expr)});
        return parse_dictionary_rest();
    }

    if (!is_end_of_sequence(current_kind())) expect(TokenKind::Comma);
    std::vector<Expr> elts;
    height = first.height;
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(ListKind::SetElements, [&] {
        ParsedExpr element = parse_named_expression_or_higher(kStarredContext);
        height = std::max(height, element.height);
        elts.push_back(std::move(element.expr));
    });
    expect(TokenKind::Rbrace);
    return ParsedExpr{Expr(ExprSet{{}, node_range(start), std::move(elts)}), false, height_above(height)};
}

}  // namespace lumra::pyexpr::parser_detail
