// Rewrite rules and binding scopes on hand-built trees (offsets are in the
// wrapped text, i.e. the caller's offset + 2).
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "safe_eval/rewrite.h"
#include "tree_support.h"

namespace lumra::safe_eval {
namespace {

using namespace testing;
using Names = std::vector<std::tuple<std::string, std::uint32_t, std::uint32_t>>;

struct Outcome {
    bool completed = false;
    std::string printed;
    Names used;
    Names assigned;
    std::string error;  // failure, else the recorded error, else empty
};

Names names_of(const std::vector<RecordedName>& recs) {
    Names out;
    for (const auto& r : recs) out.emplace_back(r.name.str(), r.start, r.end);
    return out;
}

Outcome rewrite(Expr e) {
    RewriteState state(2);
    Outcome out;
    out.completed = visit_expr(state, e);
    if (out.completed) out.printed = print(e);
    out.used = names_of(state.used_names);
    out.assigned = names_of(state.assigned_names);
    if (state.failure) out.error = *state.failure;
    else if (state.error) out.error = *state.error;
    return out;
}

Box<Parameters> params(std::vector<ParameterWithDefault> args, std::optional<Parameter> vararg = std::nullopt,
                       std::vector<ParameterWithDefault> kwonly = {}, std::optional<Parameter> kwarg = std::nullopt) {
    return Box<Parameters>(Parameters{{}, {}, {}, std::move(args), std::move(vararg), std::move(kwonly), std::move(kwarg)});
}
std::vector<ParameterWithDefault> pds(ParameterWithDefault a) {
    std::vector<ParameterWithDefault> v;
    v.push_back(std::move(a));
    return v;
}

struct RewriteCase {
    const char* source;  // what the tree stands for
    std::function<Expr()> build;
    const char* printed;
    Names used;
    Names assigned = {};
};

TEST(Rewrite, ReplacesEveryAccessBySandboxCalls) {
    const std::vector<RewriteCase> cases = {
        {"my_var + 1", [] { return Bin(N("my_var", 2), Operator::Add, Int(1, 11, 12)); },
         "(variable(context, source, (0, 6), 'my_var') + 1)", {{"my_var", 2, 8}}},
        {"a + a", [] { return Bin(N("a", 2), Operator::Add, N("a", 6)); },
         "(variable(context, source, (0, 1), 'a') + variable(context, source, (4, 5), 'a'))",
         {{"a", 2, 3}, {"a", 6, 7}}},
        {"obj.attr", [] { return Attr(N("obj", 2), "attr", 6, 10); },
         "attribute(context, source, (0, 8), variable(context, source, (0, 3), 'obj'), 'attr')", {{"obj", 2, 5}}},
        {"foo()", [] { return Call(N("foo", 2), {}, {}, 7); },
         "call(context, source, (0, 5), variable(context, source, (0, 3), 'foo'))", {{"foo", 2, 5}}},
        {"a.b(c)", [] { return Call(Attr(N("a", 2), "b", 4, 5), list(N("c", 6)), {}, 8); },
         "call(context, source, (0, 6), attribute(context, source, (0, 3), variable(context, source, (0, 1), 'a'), "
         "'b'), variable(context, source, (4, 5), 'c'))",
         {{"a", 2, 3}, {"c", 6, 7}}},
        {"foo(1, 2, a=3, *args, **kwargs)",
         [] {
             std::vector<Keyword> kws;
             kws.push_back(Kw("a", Int(3, 14, 15), 12));
             kws.push_back(Kw("", N("kwargs", 26), 24));
             return Call(N("foo", 2), list(Int(1, 6, 7), Int(2, 9, 10), Star(N("args", 18), 17)), std::move(kws), 33);
         },
         "call(context, source, (0, 31), variable(context, source, (0, 3), 'foo'), 1, 2, "
         "*variable(context, source, (16, 20), 'args'), a=3, **variable(context, source, (24, 30), 'kwargs'))",
         {{"foo", 2, 5}, {"args", 18, 22}, {"kwargs", 26, 32}}},
        {"obj[:]", [] { return Sub(N("obj", 2), Slice({}, {}, {}, 6, 7), 8); },
         "subscript(context, source, (0, 6), variable(context, source, (0, 3), 'obj'), "
         "slice(context, source, (4, 5), None, None, None))",
         {{"obj", 2, 5}}},
        {"obj[1:10:2]",
         [] { return Sub(N("obj", 2), Slice(opt(Int(1, 6, 7)), opt(Int(10, 8, 10)), opt(Int(2, 11, 12)), 6, 12), 13); },
         "subscript(context, source, (0, 11), variable(context, source, (0, 3), 'obj'), "
         "slice(context, source, (4, 10), 1, 10, 2))",
         {{"obj", 2, 5}}},
        {"obj[a, 1:]",
         [] { return Sub(N("obj", 2), Tup(list(N("a", 6), Slice(opt(Int(1, 9, 10)), {}, {}, 9, 11)), 6, 11), 12); },
         "subscript(context, source, (0, 10), variable(context, source, (0, 3), 'obj'), "
         "(variable(context, source, (4, 5), 'a'), slice(context, source, (7, 9), 1, None, None)))",
         {{"obj", 2, 5}, {"a", 6, 7}}},
        {"[*xs]", [] { return ExprList{{}, R(2, 7), list(Star(N("xs", 4), 3)), ExprContext::Load}; },
         "[*variable(context, source, (2, 4), 'xs')]", {{"xs", 4, 6}}},
        {"'s' + 1", [] { return Bin(Str("s", 2, 5), Operator::Add, Int(1, 8, 9)); }, "('s' + 1)", {}},
    };
    for (const auto& c : cases) {
        const Outcome out = rewrite(c.build());
        EXPECT_TRUE(out.completed) << c.source;
        EXPECT_EQ(out.error, "") << c.source;
        EXPECT_EQ(out.printed, c.printed) << c.source;
        EXPECT_EQ(out.used, c.used) << c.source;
        EXPECT_EQ(out.assigned, c.assigned) << c.source;
    }
}

TEST(Rewrite, BindingScopes) {
    const std::vector<RewriteCase> cases = {
        {"lambda x: x + my_var",
         [] { return Lambda(params(pds(PD("x", 9))), Bin(N("x", 12), Operator::Add, N("my_var", 16)), 2); },
         "(lambda x: (x + variable(context, source, (14, 20), 'my_var')))", {{"my_var", 16, 22}}},
        {"lambda x=x: x", [] { return Lambda(params(pds(PD("x", 9, opt(N("x", 11))))), N("x", 14), 2); },
         "(lambda x=variable(context, source, (9, 10), 'x'): x)", {{"x", 11, 12}}},
        {"lambda *a, **k: a + k",
         [] { return Lambda(params({}, Param("a", 10), {}, Param("k", 15)), Bin(N("a", 18), Operator::Add, N("k", 22)), 2); },
         "(lambda *a, **k: (a + k))", {}},
        {"lambda *, k=d: k",
         [] { return Lambda(params({}, std::nullopt, pds(PD("k", 12, opt(N("d", 14))))), N("k", 17), 2); },
         "(lambda k=variable(context, source, (12, 13), 'd'): k)", {{"d", 14, 15}}},
        {"[y for x in xs if x]",
         [] { return ListComp(N("y", 3), clauses(For(N("x", 9, ExprContext::Store), N("xs", 14), list(N("x", 20)))), 2, 22); },
         "[variable(context, source, (1, 2), 'y') for x in variable(context, source, (12, 14), 'xs') if x]",
         {{"xs", 14, 16}, {"y", 3, 4}}},
        // The first iterable is evaluated outside the comprehension.
        {"[x for x in x]", [] { return ListComp(N("x", 3), clauses(For(N("x", 9, ExprContext::Store), N("x", 14))), 2, 16); },
         "[x for x in variable(context, source, (12, 13), 'x')]", {{"x", 14, 15}}},
        // Later iterables see every target.
        {"[1 for x in y for y in x]",
         [] {
             return ListComp(Int(1, 3, 4),
                             clauses(For(N("x", 9, ExprContext::Store), N("y", 14)), For(N("y", 20, ExprContext::Store), N("x", 25))),
                             2, 27);
         },
         "[1 for x in variable(context, source, (12, 13), 'y') for y in x]", {{"y", 14, 15}}},
        {"{k: v for k, (v, w) in items}",
         [] {
             auto target = Tup(list(N("k", 12, ExprContext::Store),
                                    Tup(list(N("v", 16, ExprContext::Store), N("w", 19, ExprContext::Store)), 15, 21, true,
                                        ExprContext::Store)),
                               12, 21, false, ExprContext::Store);
             return DictComp(N("k", 3), N("v", 6), clauses(For(std::move(target), N("items", 25))), 2, 31);
         },
         "{k: v for (k, (v, w)) in variable(context, source, (23, 28), 'items')}", {{"items", 25, 30}}},
        {"lambda x: [x for y in z]",
         [] {
             return Lambda(params(pds(PD("x", 9))),
                           ListComp(N("x", 13), clauses(For(N("y", 19, ExprContext::Store), N("z", 24))), 12, 26), 2);
         },
         "(lambda x: [x for y in variable(context, source, (22, 23), 'z')])", {{"z", 24, 25}}},
        // A lambda parameter is bound in the first iterable too.
        {"lambda xs: [x for x in xs]",
         [] {
             return Lambda(params(pds(PD("xs", 9))),
                           ListComp(N("x", 14), clauses(For(N("x", 20, ExprContext::Store), N("xs", 25))), 13, 28), 2);
         },
         "(lambda xs: [x for x in xs])", {}},
        // Scopes end with their node: `x` after the comprehension is free again.
        {"[x for x in y] + x",
         [] {
             return Bin(ListComp(N("x", 3), clauses(For(N("x", 9, ExprContext::Store), N("y", 14))), 2, 16),
                        Operator::Add, N("x", 19));
         },
         "([x for x in variable(context, source, (12, 13), 'y')] + variable(context, source, (17, 18), 'x'))",
         {{"y", 14, 15}, {"x", 19, 20}}},
        {"(y := 1) + y",
         [] { return Bin(Named(N("y", 3, ExprContext::Store), Int(1, 8, 9), 3, 9), Operator::Add, N("y", 13)); },
         "(assign(context, source, (1, 7), 'y', 1) + variable(context, source, (11, 12), 'y'))", {{"y", 13, 14}},
         {{"y", 3, 4}}},
        {"(y := y)", [] { return Named(N("y", 3, ExprContext::Store), N("y", 8), 3, 9); },
         "assign(context, source, (1, 7), 'y', variable(context, source, (6, 7), 'y'))", {{"y", 8, 9}}, {{"y", 3, 4}}},
    };
    for (const auto& c : cases) {
        const Outcome out = rewrite(c.build());
        EXPECT_TRUE(out.completed) << c.source;
        EXPECT_EQ(out.error, "") << c.source;
        EXPECT_EQ(out.printed, c.printed) << c.source;
        EXPECT_EQ(out.used, c.used) << c.source;
        EXPECT_EQ(out.assigned, c.assigned) << c.source;
    }
}

TEST(Rewrite, FormatAndTemplateStrings) {
    const std::vector<RewriteCase> cases = {
        {"f\"{x}\"", [] { return FStringExpr({FStr(elems(Field(N("x", 5), 4, 7)), 2, 8)}, 2, 8); },
         "format(context, source, (0, 6), '{}', (variable(context, source, (3, 4), 'x'), None, ''))", {{"x", 5, 6}}},
        {"f\"Hello {price!r:.2f}\"",
         [] {
             return FStringExpr({FStr(elems(Lit("Hello ", 4), Field(N("price", 11), 10, 23, ConversionFlag::Repr,
                                                                      elems(Lit(".2f", 19)), 19)),
                                      2, 24)},
                                2, 24);
         },
         "format(context, source, (0, 22), 'Hello {}', (variable(context, source, (9, 14), 'price'), 'r', '.2f'))",
         {{"price", 11, 16}}},
        {"f\"{a!s}{b!a}\"",
         [] {
             return FStringExpr({FStr(elems(Field(N("a", 5), 4, 9, ConversionFlag::Str),
                                            Field(N("b", 10), 9, 14, ConversionFlag::Ascii)),
                                      2, 15)},
                                2, 15);
         },
         "format(context, source, (0, 13), '{}{}', (variable(context, source, (3, 4), 'a'), 's', ''), "
         "(variable(context, source, (8, 9), 'b'), 'a', ''))",
         {{"a", 5, 6}, {"b", 10, 11}}},
        {"f\"{x:{w}}\"",
         [] {
             return FStringExpr({FStr(elems(Field(N("x", 5), 4, 11, ConversionFlag::None, elems(Field(N("w", 8), 7, 10)), 7)),
                                      2, 12)},
                                2, 12);
         },
         "format(context, source, (0, 10), '{}', (variable(context, source, (3, 4), 'x'), None, "
         "('{}', variable(context, source, (6, 7), 'w'))))",
         {{"x", 5, 6}, {"w", 8, 9}}},
        {"t\"{x:{w}}\"",
         [] {
             return TStringExpr(elems(Field(N("x", 5), 4, 11, ConversionFlag::None, elems(Field(N("w", 8), 7, 10)), 7)), 2, 12);
         },
         "template(context, source, (0, 10), interpolation(context, source, (2, 9), variable(context, source, (3, 4), "
         "'x'), '', None, '{}'.format(variable(context, source, (6, 7), 'w'))))",
         {{"x", 5, 6}, {"w", 8, 9}}},
        {"t\"Hello {name!r:>10}\"",
         [] {
             return TStringExpr(elems(Lit("Hello ", 4),
                                      Field(N("name", 11), 10, 22, ConversionFlag::Repr, elems(Lit(">10", 18)), 18)),
                                2, 23);
         },
         "template(context, source, (0, 21), 'Hello ', interpolation(context, source, (8, 20), "
         "variable(context, source, (9, 13), 'name'), '', 'r', '>10'))",
         {{"name", 11, 15}}},
        {"\"a\" f\"{x}\"",
         [] {
             std::vector<FStringValuePart> parts;
             parts.emplace_back(StringLiteral{R(2, 5), {}, "a", {}});
             parts.emplace_back(FStr(elems(Field(N("x", 9), 8, 11)), 6, 12));
             return FStringExpr(std::move(parts), 2, 12);
         },
         "format(context, source, (0, 10), 'a{}', (variable(context, source, (7, 8), 'x'), None, ''))", {{"x", 9, 10}}},
        // Literal braces are doubled, so str.format gives them back unchanged and
        // cannot be made to read a field of its own.
        {"f\"{{}} {x}\"", [] { return FStringExpr({FStr(elems(Lit("{} ", 4), Field(N("x", 10), 9, 12)), 2, 13)}, 2, 13); },
         "format(context, source, (0, 11), '{{}} {}', (variable(context, source, (8, 9), 'x'), None, ''))",
         {{"x", 10, 11}}},
        {"'{0}' f''",
         [] {
             std::vector<FStringValuePart> parts;
             parts.emplace_back(StringLiteral{R(2, 7), {}, "{0}", {}});
             parts.emplace_back(FStr({}, 8, 11));
             return FStringExpr(std::move(parts), 2, 11);
         },
         "format(context, source, (0, 9), '{{0}}')", {}},
        // A spec with fields of its own is a template too; one without is used as it is.
        {"spec with braces and a field",
         [] {
             return FStringExpr({FStr(elems(Field(N("x", 5), 4, 14, ConversionFlag::None,
                                                  elems(Lit("{", 7), Field(N("w", 9), 8, 11), Lit("}", 11)), 7)),
                                      2, 15)},
                                2, 15);
         },
         "format(context, source, (0, 13), '{}', (variable(context, source, (3, 4), 'x'), None, "
         "('{{{}}}', variable(context, source, (7, 8), 'w'))))",
         {{"x", 5, 6}, {"w", 9, 10}}},
        {"t-string spec with braces and a field",
         [] {
             return TStringExpr(elems(Field(N("x", 5), 4, 14, ConversionFlag::None,
                                            elems(Lit("{", 7), Field(N("w", 9), 8, 11), Lit("}", 11)), 7)),
                                2, 15);
         },
         "template(context, source, (0, 13), interpolation(context, source, (2, 12), variable(context, source, (3, 4), "
         "'x'), '', None, '{{{}}}'.format(variable(context, source, (7, 8), 'w'))))",
         {{"x", 5, 6}, {"w", 9, 10}}},
        {"spec with braces only",
         [] {
             return FStringExpr({FStr(elems(Field(N("x", 5), 4, 9, ConversionFlag::None, elems(Lit("{", 7)), 7)), 2, 10)}, 2,
                                10);
         },
         "format(context, source, (0, 8), '{}', (variable(context, source, (3, 4), 'x'), None, '{'))", {{"x", 5, 6}}},
        // The `=` form and a nested field's own conversion are not carried.
        {"f\"{x=}\"",
         [] {
             auto e = FStringExpr({FStr(elems(Field(N("x", 5), 4, 8)), 2, 9)}, 2, 9);
             auto& part = std::get<FString>(std::get<FStringValuePart>(e.as<ExprFString>().value.inner));
             std::get<InterpolatedElement>(part.elements[0]).debug_text = DebugText{"", "="};
             return e;
         },
         "format(context, source, (0, 7), '{}', (variable(context, source, (3, 4), 'x'), None, ''))", {{"x", 5, 6}}},
        {"t\"a{x}\" t\"b\"",
         [] {
             std::vector<TString> parts;
             parts.push_back(TString{R(2, 9), {}, elems(Lit("a", 4), Field(N("x", 6), 5, 8)), {}});
             parts.push_back(TString{R(10, 14), {}, elems(Lit("b", 12)), {}});
             return ExprTString{{}, R(2, 14), TStringValue{std::move(parts)}};
         },
         "template(context, source, (0, 12), 'a', interpolation(context, source, (3, 6), variable(context, source, (4, "
         "5), 'x'), '', None, ''), 'b')",
         {{"x", 6, 7}}},
        // Bound names stay bound inside replacement fields.
        {"lambda x: f\"{x}{y}\"",
         [] {
             return Lambda(params(pds(PD("x", 9))),
                           FStringExpr({FStr(elems(Field(N("x", 15), 14, 17), Field(N("y", 18), 17, 20)), 12, 21)}, 12, 21), 2);
         },
         "(lambda x: format(context, source, (10, 19), '{}{}', (x, None, ''), (variable(context, source, (16, 17), 'y'), "
         "None, '')))",
         {{"y", 18, 19}}},
    };
    for (const auto& c : cases) {
        const Outcome out = rewrite(c.build());
        EXPECT_TRUE(out.completed) << c.source;
        EXPECT_EQ(out.error, "") << c.source;
        EXPECT_EQ(out.printed, c.printed) << c.source;
        EXPECT_EQ(out.used, c.used) << c.source;
    }
}

struct ErrorCase {
    const char* source;
    std::function<Expr()> build;
    bool completed;  // false: the walk failed and stopped
    const char* error;
};

TEST(Rewrite, Errors) {
    const std::vector<ErrorCase> cases = {
        {"[(x := 1) for x in xs]",
         [] {
             return ListComp(Named(N("x", 4, ExprContext::Store), Int(1, 9, 10), 4, 10),
                             clauses(For(N("x", 16, ExprContext::Store), N("xs", 21))), 2, 24);
         },
         true, "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'x'"},
        {"lambda p: (p := 1)",
         [] { return Lambda(params(pds(PD("p", 9))), Named(N("p", 13, ExprContext::Store), Int(1, 18, 19), 13, 19), 2); },
         true, "SyntaxError: assignment expression cannot rebind lambda parameter 'p'"},
        // Bound by both: the comprehension message is the one given.
        {"lambda p: [(p := 1) for p in q]",
         [] {
             return Lambda(params(pds(PD("p", 9))),
                           ListComp(Named(N("p", 14, ExprContext::Store), Int(1, 19, 20), 14, 20),
                                    clauses(For(N("p", 26, ExprContext::Store), N("q", 31))), 12, 33),
                           2);
         },
         true, "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'p'"},
        // The last recorded error wins.
        {"(lambda a: (a := 1)) + [(b := 2) for b in c]",
         [] {
             auto lam = Lambda(params(pds(PD("a", 10))), Named(N("a", 14, ExprContext::Store), Int(1, 19, 20), 14, 20), 3);
             auto comp = ListComp(Named(N("b", 27, ExprContext::Store), Int(2, 32, 33), 27, 33),
                                  clauses(For(N("b", 39, ExprContext::Store), N("c", 44))), 25, 46);
             return Bin(std::move(lam), Operator::Add, std::move(comp));
         },
         true, "SyntaxError: assignment expression cannot rebind comprehension iteration variable 'b'"},
        {"(a.b := 1)", [] { return Named(Attr(N("a", 3), "b", 5, 6), Int(1, 10, 11), 3, 11); }, true,
         "Validation Error: Named expression target must be a simple variable name"},
        {"[x async for x in y]",
         [] { return ListComp(N("x", 3), clauses(For(N("x", 15, ExprContext::Store), N("y", 20), {}, true)), 2, 22); }, true,
         "Validation Error: Async comprehensions are not allowed for security reasons"},
        {"await x", [] { return ExprAwait{{}, R(2, 9), boxed(N("x", 8))}; }, false,
         "Validation Error: Unsupported expression: Await(ExprAwait { node_index: NodeIndex(None), range: 2..9, value: "
         "Name(ExprName { node_index: NodeIndex(None), range: 8..9, id: Name(\"x\"), ctx: Load }) })"},
        {"(yield)", [] { return ExprYield{{}, R(3, 8), {}}; }, false,
         "Validation Error: Unsupported expression: Yield(ExprYield { node_index: NodeIndex(None), range: 3..8, value: "
         "None })"},
        // A failure wins over what was recorded before it.
        {"(lambda p: (p := 1)) + (yield from x)",
         [] {
             auto lam = Lambda(params(pds(PD("p", 10))), Named(N("p", 14, ExprContext::Store), Int(1, 19, 20), 14, 20), 3);
             return Bin(std::move(lam), Operator::Add, ExprYieldFrom{{}, R(26, 38), boxed(N("x", 37))});
         },
         false,
         "Validation Error: Unsupported expression: YieldFrom(ExprYieldFrom { node_index: NodeIndex(None), range: 26..38, "
         "value: Name(ExprName { node_index: NodeIndex(None), range: 37..38, id: Name(\"x\"), ctx: Load }) })"},
        // Binding a name the rewritten calls refer to would capture them.
        {"[x for context in y]",
         [] { return ListComp(N("x", 3), clauses(For(N("context", 9, ExprContext::Store), N("y", 20))), 2, 22); }, true,
         "Validation Error: 'context' is a name of the sandbox and cannot be bound by a lambda parameter or a "
         "comprehension target"},
        {"[x for a, (b, format) in y]",
         [] {
             auto target = Tup(list(N("a", 9, ExprContext::Store),
                                    Tup(list(N("b", 13, ExprContext::Store), N("format", 16, ExprContext::Store)), 12, 23,
                                        true, ExprContext::Store)),
                               9, 23, false, ExprContext::Store);
             return ListComp(N("x", 3), clauses(For(std::move(target), N("y", 27))), 2, 29);
         },
         true,
         "Validation Error: 'format' is a name of the sandbox and cannot be bound by a lambda parameter or a "
         "comprehension target"},
        {"lambda *call: 1", [] { return Lambda(params({}, Param("call", 10)), Int(1, 16, 17), 2); }, true,
         "Validation Error: 'call' is a name of the sandbox and cannot be bound by a lambda parameter or a "
         "comprehension target"},
        {"[a for [a] in b]",
         [] {
             Expr target = ExprList{{}, R(9, 12), list(N("a", 10, ExprContext::Store)), ExprContext::Store};
             return ListComp(N("a", 3), clauses(For(std::move(target), N("b", 16))), 2, 18);
         },
         false,
         "Validation Error: Unsupported target type in comprehension: List(ExprList { node_index: NodeIndex(None), "
         "range: 9..12, elts: [Name(ExprName { node_index: NodeIndex(None), range: 10..11, id: Name(\"a\"), ctx: Store "
         "})], ctx: Store })"},
        {"[a for *a, in b]",
         [] {
             auto target = Tup(list(Star(N("a", 10, ExprContext::Store), 9, ExprContext::Store)), 9, 12, false, ExprContext::Store);
             return ListComp(N("a", 3), clauses(For(std::move(target), N("b", 16))), 2, 18);
         },
         false,
         "Validation Error: Unsupported target type in comprehension: Starred(ExprStarred { node_index: NodeIndex(None), "
         "range: 9..11, value: Name(ExprName { node_index: NodeIndex(None), range: 10..11, id: Name(\"a\"), ctx: Store "
         "}), ctx: Store })"},
    };
    for (const auto& c : cases) {
        const Outcome out = rewrite(c.build());
        EXPECT_EQ(out.completed, c.completed) << c.source;
        EXPECT_EQ(out.error, c.error) << c.source;
    }
}

TEST(Rewrite, AsyncComprehensionIsLeftUnvisited) {
    const Outcome out =
        rewrite(ListComp(N("x", 3), clauses(For(N("x", 15, ExprContext::Store), N("y", 20), {}, true)), 2, 22));
    EXPECT_TRUE(out.used.empty());
    EXPECT_EQ(out.printed, "[x async for x in y]");
}

TEST(Rewrite, FailedTargetStopsBeforeTheComprehensionIsVisited) {
    Expr target = ExprList{{}, R(9, 12), list(N("a", 10, ExprContext::Store)), ExprContext::Store};
    const Outcome out = rewrite(ListComp(N("a", 3), clauses(For(std::move(target), N("b", 16))), 2, 18));
    EXPECT_TRUE(out.used.empty());
}

TEST(Rewrite, CreatedNodesCarryTheirRanges) {
    Expr e = N("my_var", 2);
    RewriteState state(2);
    ASSERT_TRUE(visit_expr(state, e));
    const auto& call = e.as<ExprCall>();
    // The call, its name, context, source and the position tuple: the reduced range.
    EXPECT_EQ(call.range, R(0, 6));
    EXPECT_EQ(call.func->range(), R(0, 6));
    ASSERT_EQ(call.arguments.args.size(), 4U);
    EXPECT_EQ(call.arguments.args[0].as<ExprName>().id.view(), "context");
    EXPECT_EQ(call.arguments.args[1].as<ExprName>().id.view(), "source");
    const auto& position = call.arguments.args[2].as<ExprTuple>();
    EXPECT_TRUE(position.parenthesized);
    EXPECT_EQ(position.ctx, ExprContext::Load);
    EXPECT_EQ(position.range, R(0, 6));
    EXPECT_EQ(position.elts[1].range(), R(0, 6));
    // The string literal stands for the name: the unreduced range.
    EXPECT_EQ(call.arguments.args[3].range(), R(2, 8));
    EXPECT_TRUE(call.arguments.keywords.empty());

    // Ranges below the prefix saturate at 0.
    Expr early = N("ab", 1);
    RewriteState state2(2);
    ASSERT_TRUE(visit_expr(state2, early));
    EXPECT_EQ(print(early), "variable(context, source, (0, 1), 'ab')");

    // An f-string field's tuple is not marked as parenthesised.
    Expr f = FStringExpr({FStr(elems(Field(N("x", 5), 4, 7)), 2, 8)}, 2, 8);
    RewriteState state3(2);
    ASSERT_TRUE(visit_expr(state3, f));
    EXPECT_FALSE(f.as<ExprCall>().arguments.args[4].as<ExprTuple>().parenthesized);
}

TEST(Rewrite, DeepTreesEndInAnErrorNotACrash) {
    auto chain = [](int n) {
        Expr e = N("a", 2);
        for (int i = 0; i < n; ++i) e = Bin(std::move(e), Operator::Add, Int(1, 4, 5));
        return e;
    };
    const Outcome shallow = rewrite(chain(static_cast<int>(kMaxRewriteDepth) - 1));
    EXPECT_TRUE(shallow.completed);
    EXPECT_EQ(shallow.used.size(), 1U);
    const Outcome deep = rewrite(chain(100000));
    EXPECT_FALSE(deep.completed);
    EXPECT_EQ(deep.error, "Validation Error: Expression is too deeply nested");
}

}  // namespace
}  // namespace lumra::safe_eval
