// Comprehension clauses (`for ... in ... if ...`) and the store-target
// operations shared with `:=`.
#include <algorithm>

#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr::parser_detail {

ParsedClauses Parser::parse_comprehension_clauses() {
    ParsedClauses clauses;
    uint32_t last_token_id = UINT32_MAX;
    while ((at(TokenKind::Async) || at(TokenKind::For)) && check_progress(last_token_id)) {
        const TextSize start = node_start();
        const bool is_async = eat(TokenKind::Async);
        if (is_async) {
            expect(TokenKind::For);
        } else {
            bump(TokenKind::For);
        }

        ParsedExpr target = parse_expression_list(
            ExpressionContext{ExpressionContext::kAllowStarred | ExpressionContext::kExcludeIn});
        set_expr_ctx(target.expr, ExprContext::Store);
        validate_assignment_target(target.expr);
        expect(TokenKind::In);
        ParsedExpr iter = parse_simple_expression(kDefaultContext);
        uint32_t height = std::max(target.height, iter.height);

        std::vector<Expr> ifs;
        uint32_t if_token_id = UINT32_MAX;
        while (at(TokenKind::If) && check_progress(if_token_id)) {
            bump(TokenKind::If);
            ParsedExpr condition = parse_simple_expression(kDefaultContext);
            height = std::max(height, condition.height);
            ifs.push_back(std::move(condition.expr));
        }
        clauses.height = std::max(clauses.height, height_above(height));
        clauses.generators.push_back(Comprehension{node_range(start), {}, std::move(target.expr),
                                                   std::move(iter.expr), std::move(ifs), is_async});
    }
    return clauses;
}

void set_expr_ctx(Expr& expr, ExprContext context) {
    expr.visit([&](auto& node) {
        using N = std::decay_t<decltype(node)>;
        if constexpr (std::is_same_v<N, ExprName> || std::is_same_v<N, ExprAttribute> ||
                      std::is_same_v<N, ExprSubscript>) {
            node.ctx = context;
        } else if constexpr (std::is_same_v<N, ExprStarred>) {
            node.ctx = context;
            set_expr_ctx(*node.value, context);
        } else if constexpr (std::is_same_v<N, ExprList> || std::is_same_v<N, ExprTuple>) {
            node.ctx = context;
            for (Expr& element : node.elts) set_expr_ctx(element, context);
        } else if constexpr (std::is_same_v<N, ExprUnaryOp>) {
            set_expr_ctx(*node.operand, context);
        }
    });
}

void Parser::validate_assignment_target(const Expr& expr) {
    switch (expr.kind()) {
        case ExprKind::Name:
        case ExprKind::Attribute:
        case ExprKind::Subscript: return;
        case ExprKind::Starred: validate_assignment_target(*expr.as<ExprStarred>().value); return;
        case ExprKind::List:
            for (const Expr& element : expr.as<ExprList>().elts) validate_assignment_target(element);
            return;
        case ExprKind::Tuple:
            for (const Expr& element : expr.as<ExprTuple>().elts) validate_assignment_target(element);
            return;
        default: add_error(ParseErrorType::of(ParseErrorType::Kind::InvalidAssignmentTarget), expr.range());
    }
}

}  // namespace lumra::pyexpr::parser_detail
