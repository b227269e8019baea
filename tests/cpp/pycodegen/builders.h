// Hand-built expression trees for the printer tests.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pyexpr/ast.h"

namespace lumra::codegen::test {

using namespace pyexpr;

inline Expr name(std::string_view id) { return make_name(id); }
inline Expr num(uint64_t v) { return make_int_literal(v); }
inline Expr big(std::string text) { return ExprNumberLiteral{{}, {}, IntValue::big(std::move(text))}; }
inline Expr flt(double v) { return ExprNumberLiteral{{}, {}, v}; }
inline Expr cplx(double real, double imag) { return ExprNumberLiteral{{}, {}, ComplexValue{real, imag}}; }
inline Expr str(std::string v) { return make_string_literal(std::move(v)); }
inline Expr none() { return make_none_literal(); }

inline Expr bin(Expr l, Operator op, Expr r) { return ExprBinOp{{}, {}, boxed(std::move(l)), op, boxed(std::move(r))}; }
inline Expr unary(UnaryOp op, Expr e) { return ExprUnaryOp{{}, {}, op, boxed(std::move(e))}; }
inline Expr boolop(BoolOp op, std::vector<Expr> values) { return ExprBoolOp{{}, {}, op, std::move(values)}; }
inline Expr named(std::string_view target, Expr value) {
    return ExprNamed{{}, {}, boxed(make_name(target, {}, ExprContext::Store)), boxed(std::move(value))};
}
inline Expr cond(Expr body, Expr test, Expr orelse) {
    return ExprIf{{}, {}, boxed(std::move(test)), boxed(std::move(body)), boxed(std::move(orelse))};
}
inline Expr compare(Expr left, std::vector<std::pair<CmpOp, Expr>> rest) {
    ExprCompare c{{}, {}, boxed(std::move(left)), {}, {}};
    for (auto& [op, e] : rest) {
        c.ops.push_back(op);
        c.comparators.push_back(std::move(e));
    }
    return c;
}
inline Expr lambda(Expr body, std::optional<Parameters> params = std::nullopt) {
    ExprLambda l{{}, {}, {}, boxed(std::move(body))};
    if (params) l.parameters = Box<Parameters>(std::move(*params));
    return l;
}
inline ParameterWithDefault param(std::string_view n, std::optional<Expr> def = std::nullopt) {
    ParameterWithDefault p{{}, {}, Parameter{{}, {}, make_identifier(n), {}}, {}};
    if (def) p.default_ = boxed(std::move(*def));
    return p;
}
inline Parameter star_param(std::string_view n) { return Parameter{{}, {}, make_identifier(n), {}}; }
inline Expr tuple(std::vector<Expr> elts) { return make_tuple(std::move(elts)); }
inline Expr list(std::vector<Expr> elts) { return ExprList{{}, {}, std::move(elts), ExprContext::Load}; }
inline Expr set(std::vector<Expr> elts) { return ExprSet{{}, {}, std::move(elts)}; }
inline Expr starred(Expr e) { return ExprStarred{{}, {}, boxed(std::move(e)), ExprContext::Load}; }
inline Expr attr(Expr base, std::string_view a) { return make_attribute(std::move(base), a); }
inline Expr subscript(Expr base, Expr key) {
    return ExprSubscript{{}, {}, boxed(std::move(base)), boxed(std::move(key)), ExprContext::Load};
}
inline Box<Expr> opt(std::optional<Expr> e) { return e ? boxed(std::move(*e)) : Box<Expr>(); }
inline Expr slice(std::optional<Expr> lo, std::optional<Expr> hi, std::optional<Expr> step = std::nullopt) {
    return ExprSlice{{}, {}, opt(std::move(lo)), opt(std::move(hi)), opt(std::move(step))};
}
inline Expr call(Expr func, std::vector<Expr> args, std::vector<Keyword> keywords = {}) {
    return make_call(std::move(func), std::move(args), std::move(keywords));
}
inline Keyword kw(std::optional<std::string_view> arg, Expr value, uint32_t start = 0) {
    Keyword k{TextRange(start, start), {}, std::nullopt, std::move(value)};
    if (arg) k.arg = make_identifier(*arg);
    return k;
}
// The same expression with its range starting at `start` (to order call arguments).
inline Expr at(uint32_t start, Expr e) {
    e.set_range(TextRange(start, start + 1));
    return e;
}
inline Comprehension clause(Expr target, Expr iter, std::vector<Expr> ifs = {}, bool is_async = false) {
    return Comprehension{{}, {}, std::move(target), std::move(iter), std::move(ifs), is_async};
}
inline Expr generator(Expr elt, std::vector<Comprehension> clauses) {
    return ExprGenerator{{}, {}, boxed(std::move(elt)), std::move(clauses), true};
}
inline Expr listcomp(Expr elt, std::vector<Comprehension> clauses) {
    return ExprListComp{{}, {}, boxed(std::move(elt)), std::move(clauses)};
}
inline Expr dictcomp(Expr k, Expr v, std::vector<Comprehension> clauses) {
    return ExprDictComp{{}, {}, boxed(std::move(k)), boxed(std::move(v)), std::move(clauses)};
}
inline Expr dict(std::vector<std::pair<std::optional<Expr>, Expr>> items) {
    ExprDict d{{}, {}, {}};
    for (auto& [k, v] : items) d.items.push_back(DictItem{opt(std::move(k)), std::move(v)});
    return d;
}

inline StringLiteral str_part(std::string value, QuoteStyle quote = QuoteStyle::Single, StrPrefix prefix = {},
                              bool triple = false) {
    return StringLiteral{{}, {}, std::move(value), StringLiteralFlags{quote, prefix, triple, false}};
}
inline Expr str_expr(std::vector<StringLiteral> parts) {
    if (parts.size() == 1) return ExprStringLiteral{{}, {}, StringLiteralValue{std::move(parts[0])}};
    return ExprStringLiteral{{}, {}, StringLiteralValue{ConcatenatedStringLiteral(std::move(parts))}};
}
inline Expr bytes_expr(std::string value, QuoteStyle quote = QuoteStyle::Single, RawPrefix prefix = {},
                       bool triple = false) {
    BytesLiteral b{{}, {}, std::move(value), BytesLiteralFlags{quote, prefix, triple, false}};
    return ExprBytesLiteral{{}, {}, BytesLiteralValue{std::move(b)}};
}

inline InterpolatedStringElement lit(std::string text) {
    return InterpolatedStringLiteralElement{{}, {}, std::move(text)};
}
inline InterpolatedStringElement field(Expr e, ConversionFlag conv = ConversionFlag::None,
                                       std::optional<std::vector<InterpolatedStringElement>> spec = std::nullopt,
                                       std::optional<DebugText> debug = std::nullopt) {
    InterpolatedElement f{{}, {}, boxed(std::move(e)), std::move(debug), conv, std::nullopt};
    if (spec) f.format_spec = InterpolatedStringFormatSpec{{}, {}, std::move(*spec)};
    return f;
}
inline FString fstring_part(std::vector<InterpolatedStringElement> elements, QuoteStyle quote = QuoteStyle::Double,
                            RawPrefix prefix = {}, bool triple = false) {
    return FString{{}, {}, std::move(elements), FStringFlags{quote, prefix, triple, false}};
}
inline Expr fstring(std::vector<FStringValuePart> parts) {
    if (parts.size() == 1) return ExprFString{{}, {}, FStringValue{std::move(parts[0])}};
    return ExprFString{{}, {}, FStringValue{std::move(parts)}};
}
inline Expr fstring(std::vector<InterpolatedStringElement> elements, QuoteStyle quote = QuoteStyle::Double) {
    return fstring(std::vector<FStringValuePart>{fstring_part(std::move(elements), quote)});
}

}  // namespace lumra::codegen::test
