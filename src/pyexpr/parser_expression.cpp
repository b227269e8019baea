// Expressions: the levels from the expression list down to atoms, operators by
// precedence climbing, unary forms, and the postfix chain of calls, subscripts
// and attributes.
#include <algorithm>

#include <fmt/format.h>

#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr::parser_detail {

namespace {

using Kind = ParseErrorType::Kind;

enum class OperatorClass : uint8_t { Boolean, Comparison, Binary };

struct OperatorInfo {
    OperatorClass cls;
    Precedence level;
    uint8_t op;       // BoolOp, CmpOp or Operator value
    uint8_t tokens;   // 2 for `is not` and `not in`
};

std::optional<OperatorInfo> comparison_operator(TokenKind kind, Parser& parser) {
    auto cmp = [](CmpOp op, uint8_t tokens = 1) {
        return OperatorInfo{OperatorClass::Comparison, Precedence::Comparison, static_cast<uint8_t>(op), tokens};
    };
    switch (kind) {
        case TokenKind::EqEqual: return cmp(CmpOp::Eq);
        case TokenKind::NotEqual: return cmp(CmpOp::NotEq);
        case TokenKind::Less: return cmp(CmpOp::Lt);
        case TokenKind::LessEqual: return cmp(CmpOp::LtE);
        case TokenKind::Greater: return cmp(CmpOp::Gt);
        case TokenKind::GreaterEqual: return cmp(CmpOp::GtE);
        case TokenKind::In: return cmp(CmpOp::In);
        case TokenKind::Is: return parser.peek() == TokenKind::Not ? cmp(CmpOp::IsNot, 2) : cmp(CmpOp::Is);
        case TokenKind::Not:
            if (parser.peek() == TokenKind::In) return cmp(CmpOp::NotIn, 2);
            return std::nullopt;
        default: return std::nullopt;
    }
}

std::optional<OperatorInfo> operator_at(TokenKind kind, Parser& parser) {
    auto bin = [](Operator op, Precedence level) {
        return OperatorInfo{OperatorClass::Binary, level, static_cast<uint8_t>(op), 1};
    };
    switch (kind) {
        case TokenKind::Or: return OperatorInfo{OperatorClass::Boolean, Precedence::Or, static_cast<uint8_t>(BoolOp::Or), 1};
        case TokenKind::And:
            return OperatorInfo{OperatorClass::Boolean, Precedence::And, static_cast<uint8_t>(BoolOp::And), 1};
        case TokenKind::Vbar: return bin(Operator::BitOr, Precedence::BitOr);
        case TokenKind::CircumFlex: return bin(Operator::BitXor, Precedence::BitXor);
        case TokenKind::Amper: return bin(Operator::BitAnd, Precedence::BitAnd);
        case TokenKind::LeftShift: return bin(Operator::LShift, Precedence::Shift);
        case TokenKind::RightShift: return bin(Operator::RShift, Precedence::Shift);
        case TokenKind::Plus: return bin(Operator::Add, Precedence::AddSub);
        case TokenKind::Minus: return bin(Operator::Sub, Precedence::AddSub);
        case TokenKind::Star: return bin(Operator::Mult, Precedence::MulDivRemain);
        case TokenKind::At: return bin(Operator::MatMult, Precedence::MulDivRemain);
        case TokenKind::Slash: return bin(Operator::Div, Precedence::MulDivRemain);
        case TokenKind::Percent: return bin(Operator::Mod, Precedence::MulDivRemain);
        case TokenKind::DoubleSlash: return bin(Operator::FloorDiv, Precedence::MulDivRemain);
        case TokenKind::DoubleStar: return bin(Operator::Pow, Precedence::Exponent);
        default: return comparison_operator(kind, parser);
    }
}

bool is_unparenthesized(const ParsedExpr& e) { return !e.is_parenthesized; }

}  // namespace

ParsedExpr Parser::missing_expression() {
    add_error(ParseErrorType::of(Kind::ExpectedExpression), current_range());
    return ParsedExpr{Expr(ExprName{{}, missing_node_range(), Name(), ExprContext::Invalid}), false, 1};
}

// ---------------------------------------------------------------------------
// Levels above the operators

ParsedExpr Parser::parse_expression_list(ExpressionContext context) {
    const TextSize start = node_start();
    // Every path returns `first`, so that it is built in the caller's slot.
    ParsedExpr first = parse_conditional_expression_or_higher(context);
    if (!at(TokenKind::Comma)) return first;
    bump(TokenKind::Comma);
    std::vector<Expr> elts;
    uint32_t height = first.height;
    elts.push_back(std::move(first.expr));
    parse_comma_separated_list(ListKind::TupleUnparenthesized, [&] {
        ParsedExpr element = parse_conditional_expression_or_higher(context);
        height = std::max(height, element.height);
        elts.push_back(std::move(element.expr));
    });
    replace_node(first, ExprTuple{{}, node_range(start), std::move(elts), ExprContext::Load, false}, height_above(height));
    return first;
}

ParsedExpr Parser::parse_conditional_expression_or_higher(ExpressionContext context) {
    const TextSize start = node_start();
    // Every path returns `body`, so that it is built in the caller's slot.
    const bool is_lambda = at(TokenKind::Lambda);
    ParsedExpr body = is_lambda ? parse_lambda_expr() : parse_binary_expression_or_higher(Precedence::Initial, context);
    if (is_lambda || !at(TokenKind::If)) return body;
    bump(TokenKind::If);
    ParsedExpr test = parse_simple_expression(kDefaultContext);
    expect(TokenKind::Else);
    // `a if b else c if d else ...` recurses here without passing a guard
    // that stays on the stack.
    DepthGuard guard(*this);
    ParsedExpr orelse = guard.ok() ? parse_conditional_expression_or_higher(kDefaultContext)
                                   : ParsedExpr{Expr(ExprName{{}, missing_node_range(), Name(), ExprContext::Invalid}),
                                                false, 1};
    const uint32_t height = height_above(std::max({body.height, test.height, orelse.height}));
    ExprIf node{{}, node_range(start), boxed(std::move(test.expr)), boxed(std::move(body.expr)),
                boxed(std::move(orelse.expr))};
    replace_node(body, std::move(node), height);
    return body;
}

ParsedExpr Parser::parse_named_expression_or_higher(ExpressionContext context) {
    const TextSize start = node_start();
    ParsedExpr target = parse_conditional_expression_or_higher(context);
    if (!at(TokenKind::ColonEqual)) return target;
    bump(TokenKind::ColonEqual);
    if (!target.expr.is<ExprName>()) {
        add_error(ParseErrorType::of(Kind::InvalidNamedAssignmentTarget), target.expr.range());
    }
    set_expr_ctx(target.expr, ExprContext::Store);
    ParsedExpr value = parse_conditional_expression_or_higher(kDefaultContext);
    const uint32_t height = height_above(std::max(target.height, value.height));
    ExprNamed node{{}, node_range(start), boxed(std::move(target.expr)), boxed(std::move(value.expr))};
    replace_node(target, std::move(node), height);
    return target;
}

ParsedExpr Parser::parse_simple_expression(ExpressionContext context) {
    return parse_binary_expression_or_higher(Precedence::Initial, context);
}

ParsedExpr Parser::parse_expression_with_bitwise_or_precedence() {
    ParsedExpr parsed = parse_conditional_expression_or_higher(kDefaultContext);
    if (parsed.is_parenthesized) return parsed;
    const char* word = nullptr;
    switch (parsed.expr.kind()) {
        case ExprKind::Compare: word = "Comparison"; break;
        case ExprKind::BoolOp: word = "Boolean"; break;
        case ExprKind::UnaryOp:
            if (parsed.expr.as<ExprUnaryOp>().op == UnaryOp::Not) word = "Boolean";
            break;
        case ExprKind::If: word = "Conditional"; break;
        case ExprKind::Lambda: word = "Lambda"; break;
        default: break;
    }
    if (word != nullptr) {
        add_error(ParseErrorType::other(fmt::format("{} expression cannot be used here", word)), parsed.expr.range());
    }
    return parsed;
}

// ---------------------------------------------------------------------------
// Operators

ParsedExpr Parser::parse_binary_expression_or_higher(Precedence precedence, ExpressionContext context) {
    DepthGuard guard(*this);
    const TextSize start = node_start();
    // Every path returns `left`, so that it is built in the caller's slot.
    ParsedExpr left = guard.ok() ? parse_lhs_expression(precedence, context)
                                 : ParsedExpr{Expr(ExprName{{}, missing_node_range(), Name(), ExprContext::Invalid}),
                                              false, 1};
    if (!guard.ok()) return left;
    uint32_t last_token_id = UINT32_MAX;
    while (check_progress(last_token_id)) {
        if (context.exclude_in() && at(TokenKind::In)) break;
        const std::optional<OperatorInfo> info = operator_at(current_kind(), *this);
        if (!info) break;
        if (info->level == Precedence::Exponent) {
            if (precedence > Precedence::Exponent) break;
        } else if (info->level <= precedence) {
            break;
        }

        switch (info->cls) {
            case OperatorClass::Boolean: {
                const TokenKind op_token = current_kind();
                bump(op_token);
                std::vector<Expr> values;
                uint32_t height = left.height;
                values.push_back(std::move(left.expr));
                uint32_t inner_token_id = UINT32_MAX;
                while (check_progress(inner_token_id)) {
                    ParsedExpr value = parse_binary_expression_or_higher(info->level, context);
                    height = std::max(height, value.height);
                    values.push_back(std::move(value.expr));
                    if (!eat(op_token)) break;
                }
                height = height_above(height);
                replace_node(left, ExprBoolOp{{}, node_range(start), static_cast<BoolOp>(info->op), std::move(values)},
                             height);
                break;
            }
            case OperatorClass::Comparison: {
                for (int i = 0; i < info->tokens; ++i) bump_any();
                std::vector<CmpOp> ops{static_cast<CmpOp>(info->op)};
                std::vector<Expr> comparators;
                uint32_t height = left.height;
                uint32_t inner_token_id = UINT32_MAX;
                while (check_progress(inner_token_id)) {
                    ParsedExpr comparator = parse_binary_expression_or_higher(Precedence::Comparison, context);
                    height = std::max(height, comparator.height);
                    comparators.push_back(std::move(comparator.expr));
                    if (context.exclude_in() && at(TokenKind::In)) break;
                    const std::optional<OperatorInfo> next = comparison_operator(current_kind(), *this);
                    if (!next) break;
                    for (int i = 0; i < next->tokens; ++i) bump_any();
                    ops.push_back(static_cast<CmpOp>(next->op));
                }
                // A loop stopped by the guard leaves an operator without its operand.
                while (comparators.size() < ops.size()) comparators.emplace_back();
                height = height_above(height);
                replace_node(left,
                             ExprCompare{{}, node_range(start), boxed(std::move(left.expr)), std::move(ops),
                                         std::move(comparators)},
                             height);
                break;
            }
            case OperatorClass::Binary: {
                bump_any();
                ParsedExpr right = parse_binary_expression_or_higher(info->level, context);
                const uint32_t height = height_above(std::max(left.height, right.height));
                replace_node(left,
                             ExprBinOp{{}, node_range(start), boxed(std::move(left.expr)), static_cast<Operator>(info->op),
                                       boxed(std::move(right.expr))},
                             height);
                break;
            }
        }
    }
    return left;
}

ParsedExpr Parser::parse_lhs_expression(Precedence precedence, ExpressionContext context) {
    switch (current_kind()) {
        case TokenKind::Tilde:
        case TokenKind::Not:
        case TokenKind::Plus:
        case TokenKind::Minus:
        case TokenKind::Star:
        case TokenKind::Await:
        case TokenKind::Lambda:
        case TokenKind::Yield: return parse_prefixed_expression(precedence, context);
        default: return parse_primary_expression(node_start());
    }
}

ParsedExpr Parser::parse_prefixed_expression(Precedence precedence, ExpressionContext context) {
    const TextSize start = node_start();
    switch (current_kind()) {
        case TokenKind::Tilde:
        case TokenKind::Not:
        case TokenKind::Plus:
        case TokenKind::Minus: {
            const TokenKind token = current_kind();
            const UnaryOp op = token == TokenKind::Tilde ? UnaryOp::Invert
                               : token == TokenKind::Not ? UnaryOp::Not
                               : token == TokenKind::Plus ? UnaryOp::UAdd
                                                          : UnaryOp::USub;
            bump(token);
            ParsedExpr operand = parse_binary_expression_or_higher(
                op == UnaryOp::Not ? Precedence::Not : Precedence::PosNegBitNot, context);
            const uint32_t height = height_above(operand.height);
            const TextRange range = node_range(start);
            if (op == UnaryOp::Not) {
                if (precedence > Precedence::Not) {
                    add_error(ParseErrorType::other("Boolean 'not' expression cannot be used here"), range);
                }
            } else if (precedence > Precedence::Exponent) {
                add_error(ParseErrorType::other(
                              fmt::format("Unary '{}' expression cannot be used here", source_text(op))),
                          range);
            }
            return ParsedExpr{Expr(ExprUnaryOp{{}, range, op, boxed(std::move(operand.expr))}), false, height};
        }
        case TokenKind::Star: {
            bump(TokenKind::Star);
            // The operand of `*` is never itself starred: `f(* *a)` is not `f(**a)`.
            const ExpressionContext operand_context{
                static_cast<uint8_t>(context.bits & ~ExpressionContext::kAllowStarred)};
            ParsedExpr value = context.starred_bitwise_or() ? parse_expression_with_bitwise_or_precedence()
                                                            : parse_conditional_expression_or_higher(operand_context);
            const uint32_t height = height_above(value.height);
            const TextRange range = node_range(start);
            if (precedence > Precedence::Initial || !context.allow_starred()) {
                add_error(ParseErrorType::of(Kind::InvalidStarredExpressionUsage), range);
            }
            return ParsedExpr{Expr(ExprStarred{{}, range, boxed(std::move(value.expr)), ExprContext::Load}), false,
                              height};
        }
        case TokenKind::Await: {
            bump(TokenKind::Await);
            ParsedExpr value = parse_binary_expression_or_higher(Precedence::Await, kDefaultContext);
            const uint32_t height = height_above(value.height);
            const TextRange range = node_range(start);
            if (precedence >= Precedence::Await) {
                add_error(ParseErrorType::other("Await expression cannot be used here"), range);
            }
            return ParsedExpr{Expr(ExprAwait{{}, range, boxed(std::move(value.expr))}), false, height};
        }
        case TokenKind::Lambda: {
            ParsedExpr lambda = parse_lambda_expr();
            add_error(ParseErrorType::of(Kind::InvalidLambdaExpressionUsage), lambda.expr.range());
            return lambda;
        }
        case TokenKind::Yield: {
            bump(TokenKind::Yield);
            ParsedExpr result;
            if (eat(TokenKind::From)) {
                ParsedExpr value = parse_expression_list(kDefaultContext);
                if (const auto* tuple = value.expr.as_if<ExprTuple>(); tuple != nullptr && !tuple->parenthesized) {
                    add_error(ParseErrorType::of(Kind::UnparenthesizedTupleExpression), value.expr.range());
                }
                const uint32_t height = height_above(value.height);
                result = ParsedExpr{Expr(ExprYieldFrom{{}, node_range(start), boxed(std::move(value.expr))}), false,
                                    height};
            } else {
                Box<Expr> value;
                uint32_t height = 1;
                if (at_expr()) {
                    ParsedExpr parsed = parse_expression_list(
                        ExpressionContext{ExpressionContext::kAllowStarred | ExpressionContext::kStarredBitwiseOr});
                    height = height_above(parsed.height);
                    value = boxed(std::move(parsed.expr));
                }
                result = ParsedExpr{Expr(ExprYield{{}, node_range(start), std::move(value)}), false, height};
            }
            if (precedence > Precedence::Initial || !context.allow_yield()) {
                add_error(ParseErrorType::of(Kind::InvalidYieldExpressionUsage), result.expr.range());
            }
            return result;
        }
        default: return parse_primary_expression(start);
    }
}

// ---------------------------------------------------------------------------
// Atoms

ParsedExpr Parser::parse_atom() {
    const TextSize start = node_start();
    switch (current_kind()) {
        case TokenKind::Int:
        case TokenKind::Float:
        case TokenKind::Complex: {
            const TokenKind kind = current_kind();
            TokenValue value = take_value();
            bump(kind);
            ParsedExpr parsed{Expr(ExprNumberLiteral{{}, node_range(start), NumberValue()}), false, 1};
            NumberValue& number = parsed.expr.as<ExprNumberLiteral>().value;
            if (auto* i = std::get_if<IntValue>(&value)) {
                number.emplace<IntValue>(std::move(*i));
            } else if (auto* f = std::get_if<double>(&value)) {
                number.emplace<double>(*f);
            } else if (auto* c = std::get_if<ComplexValue>(&value)) {
                number.emplace<ComplexValue>(*c);
            }
            return parsed;
        }
        case TokenKind::True:
        case TokenKind::False: {
            const bool value = at(TokenKind::True);
            bump_any();
            return ParsedExpr{Expr(ExprBooleanLiteral{{}, node_range(start), value}), false, 1};
        }
        case TokenKind::None:
            bump(TokenKind::None);
            return ParsedExpr{Expr(ExprNoneLiteral{{}, node_range(start)}), false, 1};
        case TokenKind::Ellipsis:
            bump(TokenKind::Ellipsis);
            return ParsedExpr{Expr(ExprEllipsisLiteral{{}, node_range(start)}), false, 1};
        case TokenKind::Name: return parse_name();
        case TokenKind::String:
        case TokenKind::FStringStart:
        case TokenKind::TStringStart: return parse_strings();
        case TokenKind::Lpar: return parse_parenthesized_expression();
        case TokenKind::Lsqb: return parse_list_like_expression();
        case TokenKind::Lbrace: return parse_set_or_dict_like_expression();
        default:
            if (is_keyword(current_kind())) return parse_name();
            // The expression-mode lexer never produces IpyEscapeCommand, so it
            // is no expression here either.
            return missing_expression();
    }
}

ParsedExpr Parser::parse_name() {
    Identifier identifier = parse_identifier();
    const ExprContext ctx = identifier.id.empty() ? ExprContext::Invalid : ExprContext::Load;
    return ParsedExpr{Expr(ExprName{{}, identifier.range, std::move(identifier.id), ctx}), false, 1};
}

Identifier Parser::parse_identifier() {
    const TextRange range = current_range();
    const TokenKind kind = current_kind();
    if (kind == TokenKind::Name) {
        // Moved straight out of the lexer, which is about to overwrite it.
        Name* name = tokens_.current_name();
        Identifier identifier{name != nullptr ? std::move(*name) : Name(src_text(range)), range, {}};
        bump(TokenKind::Name);
        return identifier;
    }
    if (is_soft_keyword(kind)) {
        Name name(src_text(range));
        bump_soft_keyword_as_name();
        return Identifier{std::move(name), range, {}};
    }
    if (is_keyword(kind)) {
        add_error(ParseErrorType::other(fmt::format(
                      "Expected an identifier, but found a keyword {} that cannot be used here",
                      token_kind_display(kind))),
                  range);
        Name name(src_text(range));
        bump_any();
        return Identifier{std::move(name), range, {}};
    }
    add_error(ParseErrorType::other("Expected an identifier"), range);
    return Identifier{Name(), missing_node_range(), {}};
}

// ---------------------------------------------------------------------------
// Postfix chain

ParsedExpr Parser::parse_primary_expression(TextSize start) {
    ParsedExpr result = parse_atom();
    const bool parenthesized = result.is_parenthesized;
    parse_postfix_expression(result, start);
    result.is_parenthesized = parenthesized;
    return result;
}

void Parser::parse_postfix_expression(ParsedExpr& expr, TextSize start) {
    for (;;) {
        switch (current_kind()) {
            case TokenKind::Lpar: {
                auto [arguments, args_height] = parse_arguments();
                const uint32_t height = height_above(std::max(expr.height, args_height + 1));
                Box<Expr> func = boxed(std::move(expr.expr));
                replace_node(expr, ExprCall{{}, node_range(start), std::move(func), std::move(arguments)}, height);
                break;
            }
            case TokenKind::Lsqb: expr = parse_subscript_expression(std::move(expr), start); break;
            case TokenKind::Dot: {
                bump(TokenKind::Dot);
                Identifier attr = parse_identifier();
                const uint32_t height = height_above(expr.height);
                Box<Expr> value = boxed(std::move(expr.expr));
                replace_node(expr, ExprAttribute{{}, node_range(start), std::move(value), std::move(attr), ExprContext::Load},
                             height);
                break;
            }
            default: return;
        }
    }
}

ParsedExpr Parser::parse_subscript_expression(ParsedExpr value, TextSize start) {
    bump(TokenKind::Lsqb);
    set_expr_ctx(value.expr, ExprContext::Load);
    const TextSize slice_start = node_start();
    if (eat(TokenKind::Rsqb)) {
        const TextRange range = node_range(slice_start);
        add_error(ParseErrorType::of(Kind::EmptySlice), range);
        const uint32_t height = height_above(value.height + 1);
        return ParsedExpr{Expr(ExprSubscript{{}, node_range(start), boxed(std::move(value.expr)),
                                             boxed(Expr(ExprName{{}, range, Name(), ExprContext::Invalid})),
                                             ExprContext::Load}),
                          false, height};
    }
    ParsedExpr slice = parse_slice();
    if (eat(TokenKind::Comma)) {
        std::vector<Expr> slices;
        uint32_t height = slice.height;
        slices.push_back(std::move(slice.expr));
        parse_comma_separated_list(ListKind::Slices, [&] {
            ParsedExpr element = parse_slice();
            height = std::max(height, element.height);
            slices.push_back(std::move(element.expr));
        });
        slice = ParsedExpr{Expr(ExprTuple{{}, node_range(slice_start), std::move(slices), ExprContext::Load, false}),
                           false, height_above(height)};
    } else if (slice.expr.is<ExprStarred>()) {
        std::vector<Expr> slices;
        slices.push_back(std::move(slice.expr));
        slice = ParsedExpr{Expr(ExprTuple{{}, node_range(slice_start), std::move(slices), ExprContext::Load, false}),
                           false, height_above(slice.height)};
    }
    expect(TokenKind::Rsqb);
    const uint32_t height = height_above(std::max(value.height, slice.height));
    return ParsedExpr{Expr(ExprSubscript{{}, node_range(start), boxed(std::move(value.expr)),
                                         boxed(std::move(slice.expr)), ExprContext::Load}),
                      false, height};
}

ParsedExpr Parser::parse_slice() {
    const TextSize start = node_start();
    Box<Expr> lower;
    uint32_t height = 0;
    if (at_expr()) {
        ParsedExpr parsed = parse_named_expression_or_higher(ExpressionContext{ExpressionContext::kAllowStarred});
        switch (current_kind()) {
            case TokenKind::Rsqb:
            case TokenKind::Comma:
            case TokenKind::Newline:
            case TokenKind::EndOfFile: return parsed;
            default: break;
        }
        if (is_unparenthesized(parsed)) {
            if (parsed.expr.is<ExprStarred>()) {
                add_error(ParseErrorType::of(Kind::InvalidStarredExpressionUsage), parsed.expr.range());
            } else if (parsed.expr.is<ExprNamed>()) {
                add_error(ParseErrorType::of(Kind::UnparenthesizedNamedExpression), parsed.expr.range());
            }
        }
        height = parsed.height;
        lower = boxed(std::move(parsed.expr));
    }
    expect(TokenKind::Colon);
    Box<Expr> upper;
    switch (current_kind()) {
        case TokenKind::Comma:
        case TokenKind::Colon:
        case TokenKind::Rsqb:
        case TokenKind::Newline:
        case TokenKind::EndOfFile: break;
        default: {
            ParsedExpr parsed = parse_conditional_expression_or_higher(kDefaultContext);
            height = std::max(height, parsed.height);
            upper = boxed(std::move(parsed.expr));
        }
    }
    Box<Expr> step;
    if (eat(TokenKind::Colon)) {
        switch (current_kind()) {
            case TokenKind::Comma:
            case TokenKind::Rsqb:
            case TokenKind::Newline:
            case TokenKind::EndOfFile: break;
            default: {
                ParsedExpr parsed = parse_conditional_expression_or_higher(kDefaultContext);
                height = std::max(height, parsed.height);
                step = boxed(std::move(parsed.expr));
            }
        }
    }
    return ParsedExpr{
        Expr(ExprSlice{{}, node_range(start), std::move(lower), std::move(upper), std::move(step)}), false,
        height_above(height)};
}

ParsedExpr Parser::parse_generator_expression(ParsedExpr element, TextSize start, bool parenthesized) {
    ParsedClauses clauses = parse_comprehension_clauses();
    if (parenthesized) expect(TokenKind::Rpar);
    const uint32_t height = height_above(std::max(element.height, clauses.height));
    return ParsedExpr{Expr(ExprGenerator{{}, node_range(start), boxed(std::move(element.expr)),
                                         std::move(clauses.generators), parenthesized}),
                      false, height};
}

}  // namespace lumra::pyexpr::parser_detail
