// Hand-built expression trees and a compact printer for the rewriter's tests.
//
// Builders take offsets in the wrapped text "(\n" + source + "\n)", i.e. the
// caller's offset + 2, as the parser would give them.
#pragma once

#include <string>
#include <utility>
#include <vector>

#include "pyexpr/ast.h"

namespace lumra::safe_eval::testing {

using namespace lumra::pyexpr;

inline TextRange R(std::uint32_t s, std::uint32_t e) { return TextRange(s, e); }

template <class... Es>
std::vector<Expr> list(Es&&... es) {
    std::vector<Expr> v;
    v.reserve(sizeof...(es));
    (v.push_back(std::forward<Es>(es)), ...);
    return v;
}

inline Expr N(std::string_view id, std::uint32_t s, ExprContext ctx = ExprContext::Load) {
    return ExprName{{}, R(s, s + static_cast<std::uint32_t>(id.size())), Name(id), ctx};
}
inline Expr Int(std::uint64_t v, std::uint32_t s, std::uint32_t e) { return make_int_literal(v, R(s, e)); }
inline Expr Str(std::string v, std::uint32_t s, std::uint32_t e) { return make_string_literal(std::move(v), R(s, e)); }
inline Expr Bin(Expr l, Operator op, Expr r) {
    const TextRange range(l.range().start(), r.range().end());
    return ExprBinOp{{}, range, boxed(std::move(l)), op, boxed(std::move(r))};
}
inline Expr Attr(Expr v, std::string_view attr, std::uint32_t attr_start, std::uint32_t end) {
    const auto s = v.range().start();
    return ExprAttribute{{}, TextRange(s, end), boxed(std::move(v)),
                         make_identifier(attr, R(attr_start, attr_start + static_cast<std::uint32_t>(attr.size()))),
                         ExprContext::Load};
}
inline Expr Sub(Expr v, Expr key, std::uint32_t end) {
    const auto s = v.range().start();
    return ExprSubscript{{}, TextRange(s, end), boxed(std::move(v)), boxed(std::move(key)), ExprContext::Load};
}
inline Box<Expr> opt(Expr e) { return boxed(std::move(e)); }
inline Expr Slice(Box<Expr> lo, Box<Expr> up, Box<Expr> st, std::uint32_t s, std::uint32_t e) {
    return ExprSlice{{}, R(s, e), std::move(lo), std::move(up), std::move(st)};
}
inline Keyword Kw(std::string_view arg, Expr value, std::uint32_t s) {
    const auto e = value.range().end();
    std::optional<Identifier> id;
    if (!arg.empty()) id = make_identifier(arg, R(s, s + static_cast<std::uint32_t>(arg.size())));
    return Keyword{TextRange(s, e), {}, std::move(id), std::move(value)};
}
inline Expr Call(Expr f, std::vector<Expr> args, std::vector<Keyword> kws, std::uint32_t end) {
    const auto s = f.range().start();
    return ExprCall{{}, TextRange(s, end), boxed(std::move(f)), Arguments{TextRange(s, end), {}, std::move(args), std::move(kws)}};
}
inline Expr Star(Expr v, std::uint32_t s, ExprContext ctx = ExprContext::Load) {
    const auto e = v.range().end();
    return ExprStarred{{}, TextRange(s, e), boxed(std::move(v)), ctx};
}
inline Expr Tup(std::vector<Expr> elts, std::uint32_t s, std::uint32_t e, bool parenthesized = false,
                ExprContext ctx = ExprContext::Load) {
    return make_tuple(std::move(elts), R(s, e), parenthesized, ctx);
}
inline Expr Named(Expr target, Expr value, std::uint32_t s, std::uint32_t e) {
    return ExprNamed{{}, R(s, e), boxed(std::move(target)), boxed(std::move(value))};
}
inline Parameter Param(std::string_view name, std::uint32_t s) {
    const TextRange r = R(s, s + static_cast<std::uint32_t>(name.size()));
    return Parameter{r, {}, make_identifier(name, r), {}};
}
inline ParameterWithDefault PD(std::string_view name, std::uint32_t s, Box<Expr> def = {}) {
    Parameter p = Param(name, s);
    TextRange r = p.range;
    if (def) r = TextRange(r.start(), def->range().end());
    return ParameterWithDefault{r, {}, std::move(p), std::move(def)};
}
inline Expr Lambda(Box<Parameters> params, Expr body, std::uint32_t s) {
    const auto e = body.range().end();
    return ExprLambda{{}, TextRange(s, e), std::move(params), boxed(std::move(body))};
}
inline Comprehension For(Expr target, Expr iter, std::vector<Expr> ifs = {}, bool is_async = false) {
    const auto s = target.range().start();
    const auto e = ifs.empty() ? iter.range().end() : ifs.back().range().end();
    return Comprehension{TextRange(s, e), {}, std::move(target), std::move(iter), std::move(ifs), is_async};
}
inline std::vector<Comprehension> clauses(Comprehension c) {
    std::vector<Comprehension> v;
    v.push_back(std::move(c));
    return v;
}
inline std::vector<Comprehension> clauses(Comprehension a, Comprehension b) {
    std::vector<Comprehension> v;
    v.push_back(std::move(a));
    v.push_back(std::move(b));
    return v;
}
inline Expr ListComp(Expr elt, std::vector<Comprehension> gens, std::uint32_t s, std::uint32_t e) {
    return ExprListComp{{}, R(s, e), boxed(std::move(elt)), std::move(gens)};
}
inline Expr DictComp(Expr k, Expr v, std::vector<Comprehension> gens, std::uint32_t s, std::uint32_t e) {
    return ExprDictComp{{}, R(s, e), boxed(std::move(k)), boxed(std::move(v)), std::move(gens)};
}

// f-string / t-string pieces.
inline InterpolatedStringElement Lit(std::string text, std::uint32_t s) {
    const auto e = s + static_cast<std::uint32_t>(text.size());
    return InterpolatedStringLiteralElement{R(s, e), {}, std::move(text)};
}
inline InterpolatedStringElement Field(Expr e, std::uint32_t s, std::uint32_t end,
                                       ConversionFlag conv = ConversionFlag::None,
                                       std::optional<std::vector<InterpolatedStringElement>> spec = std::nullopt,
                                       std::uint32_t spec_start = 0) {
    std::optional<InterpolatedStringFormatSpec> fs;
    if (spec) fs = InterpolatedStringFormatSpec{R(spec_start, end - 1), {}, std::move(*spec)};
    return InterpolatedElement{R(s, end), {}, boxed(std::move(e)), std::nullopt, conv, std::move(fs)};
}
template <class... Es>
std::vector<InterpolatedStringElement> elems(Es&&... es) {
    std::vector<InterpolatedStringElement> v;
    (v.push_back(std::forward<Es>(es)), ...);
    return v;
}
inline FString FStr(std::vector<InterpolatedStringElement> elements, std::uint32_t s, std::uint32_t e) {
    return FString{R(s, e), {}, std::move(elements), {}};
}
inline Expr FStringExpr(std::vector<FStringValuePart> parts, std::uint32_t s, std::uint32_t e) {
    FStringValue value;
    if (parts.size() == 1) value.inner = std::move(parts.front());
    else value.inner = std::move(parts);
    return ExprFString{{}, R(s, e), std::move(value)};
}
inline Expr TStringExpr(std::vector<InterpolatedStringElement> elements, std::uint32_t s, std::uint32_t e) {
    return ExprTString{{}, R(s, e), TStringValue{TString{R(s, e), {}, std::move(elements), {}}}};
}

// A compact, fully parenthesised notation close to Python's: calls as
// `f(a, k=v)`, strings in single quotes (no escaping), binary operations in
// parentheses.
void print(std::string& out, const Expr& e);

inline std::string print(const Expr& e) {
    std::string out;
    print(out, e);
    return out;
}

}  // namespace lumra::safe_eval::testing
