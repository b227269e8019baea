// Lambda expressions and their parameter lists. Every ordering rule of Python
// is reported while the list is still read to its end.
#include <algorithm>

#include "pyexpr/parser_impl.h"

namespace lumra::pyexpr::parser_detail {

namespace {

using Kind = ParseErrorType::Kind;

struct ParameterListState {
    bool seen_default_param = false;
    bool seen_positional_only_separator = false;
    bool seen_keyword_only_separator = false;
    bool seen_keyword_only_param_after_separator = false;
    std::optional<TextRange> pending_separator_range;
};

}  // namespace

namespace {

Parameter parse_parameter(Parser& p, TextSize start) {
    Identifier name = p.parse_identifier();
    return Parameter{p.node_range(start), {}, std::move(name), Box<Expr>()};
}

ParameterWithDefault parse_parameter_with_default(Parser& p, TextSize start, uint32_t& height) {
    Parameter parameter = parse_parameter(p, start);
    Box<Expr> default_value;
    if (p.eat(TokenKind::Equal)) {
        if (p.at_expr()) {
            ParsedExpr parsed = p.parse_conditional_expression_or_higher();
            height = std::max(height, parsed.height);
            default_value = boxed(std::move(parsed.expr));
        } else {
            p.add_error(ParseErrorType::of(Kind::ExpectedExpression), p.current_range());
        }
    }
    return ParameterWithDefault{p.node_range(start), {}, std::move(parameter), std::move(default_value)};
}

bool at_name_like(const Parser& p) { return p.at(TokenKind::Name) || is_soft_keyword(p.current_kind()); }

}  // namespace

ParsedExpr Parser::parse_lambda_expr() {
    const TextSize start = node_start();
    bump(TokenKind::Lambda);
    DepthGuard guard(*this);
    if (!guard.ok()) {
        return ParsedExpr{Expr(ExprLambda{{}, node_range(start), Box<Parameters>(), boxed(Expr())}), false, 2};
    }

    Box<Parameters> parameters;
    uint32_t height = 1;
    if (!at(TokenKind::Colon)) {
        const TextSize params_start = node_start();
        Parameters params{};
        ParameterListState state;

        parse_comma_separated_list(ListKind::LambdaParameters, [&] {
            const TextSize param_start = node_start();
            if (params.kwarg) {
                add_error(ParseErrorType::of(Kind::ParamAfterVarKeywordParam), current_range());
            }
            switch (current_kind()) {
                case TokenKind::Star: {
                    const TextRange star_range = current_range();
                    bump(TokenKind::Star);
                    if (at_name_like(*this)) {
                        Parameter param = parse_parameter(*this, param_start);
                        if (at(TokenKind::Equal)) {
                            add_error(ParseErrorType::of(Kind::VarParameterWithDefault), current_range());
                        }
                        if (state.seen_keyword_only_separator || params.vararg) {
                            add_error(ParseErrorType::other("Only one '*' parameter allowed"), node_range(param_start));
                        }
                        if (!params.vararg) params.vararg = std::move(param);
                    } else {
                        if (state.seen_keyword_only_separator) {
                            add_error(ParseErrorType::other("Only one '*' separator allowed"), star_range);
                        }
                        if (params.vararg) {
                            add_error(ParseErrorType::other(
                                          "Keyword-only parameter separator not allowed after '*' parameter"),
                                      star_range);
                        }
                        state.seen_keyword_only_separator = true;
                        state.pending_separator_range = star_range;
                        return;
                    }
                    break;
                }
                case TokenKind::DoubleStar: {
                    bump(TokenKind::DoubleStar);
                    Parameter param = parse_parameter(*this, param_start);
                    if (params.kwarg) {
                        add_error(ParseErrorType::other("Only one '**' parameter allowed"), node_range(param_start));
                    }
                    if (at(TokenKind::Equal)) {
                        add_error(ParseErrorType::of(Kind::VarParameterWithDefault), current_range());
                    }
                    if (state.seen_keyword_only_separator && !state.seen_keyword_only_param_after_separator) {
                        add_error(ParseErrorType::of(Kind::ExpectedKeywordParam), node_range(param_start));
                    }
                    params.kwarg = std::move(param);
                    break;
                }
                case TokenKind::Slash: {
                    const TextRange slash_range = current_range();
                    bump(TokenKind::Slash);
                    const bool none_yet = params.posonlyargs.empty() && params.args.empty() &&
                                          params.kwonlyargs.empty() && !params.vararg && !params.kwarg;
                    if (none_yet) {
                        add_error(ParseErrorType::other(
                                      "Position-only parameter separator not allowed as first parameter"),
                                  slash_range);
                    }
                    if (state.seen_positional_only_separator) {
                        add_error(ParseErrorType::other("Only one '/' separator allowed"), slash_range);
                    }
                    if (state.seen_keyword_only_separator || params.vararg) {
                        add_error(ParseErrorType::other("'/' parameter must appear before '*' parameter"),
                                  slash_range);
                    }
                    if (!state.seen_positional_only_separator) {
                        std::swap(params.args, params.posonlyargs);
                        state.seen_positional_only_separator = true;
                    }
                    break;
                }
                default: {
                    ParameterWithDefault param = parse_parameter_with_default(*this, param_start, height);
                    const bool has_default = static_cast<bool>(param.default_);
                    if (!has_default && state.seen_default_param && !state.seen_keyword_only_separator &&
                        !params.vararg) {
                        add_error(ParseErrorType::of(Kind::NonDefaultParamAfterDefaultParam), param.range);
                    }
                    state.seen_default_param |= has_default;
                    if (state.seen_keyword_only_separator || params.vararg) {
                        state.seen_keyword_only_param_after_separator = true;
                        params.kwonlyargs.push_back(std::move(param));
                    } else {
                        params.args.push_back(std::move(param));
                    }
                    break;
                }
            }
            state.pending_separator_range.reset();
        });

        if (state.pending_separator_range) {
            add_error(ParseErrorType::of(Kind::ExpectedKeywordParam), *state.pending_separator_range);
        }
        params.range = node_range(params_start);
        parameters = Box<Parameters>(std::move(params));
        height = height_above(height);  // the parameter layer
    }

    expect(TokenKind::Colon);
    ParsedExpr body = parse_conditional_expression_or_higher(kDefaultContext);
    const uint32_t total = height_above(std::max(height, body.height));
    return ParsedExpr{Expr(ExprLambda{{}, node_range(start), std::move(parameters), boxed(std::move(body.expr))}),
                      false, total};
}

}  // namespace lumra::pyexpr::parser_detail
