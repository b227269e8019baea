// Canonical JSON form of an expression tree for the parser tests: nested
// arrays [kind, start, end, fields...] shaped like CPython's `ast`, so that the
// same text can be compared with what CPython builds (see
// tests/python/pyexpr_differential.py). Where the two trees are laid out
// differently the dump follows CPython:
//  - f-strings become one JoinedStr whose pieces are literal texts and
//    FormattedValues (a `{x=}` field becomes its text plus the field, with the
//    `!r` conversion CPython implies);
//  - an unparenthesized generator that is a call's only argument gets the
//    range of the call's parentheses;
//  - lambda parameters are printed with the ranges of their names.
#pragma once

#include <cstdio>
#include <string>
#include <string_view>

#include "pyexpr/ast.h"

namespace lumra::pyexpr::test {

class JsonDump {
public:
    explicit JsonDump(std::string_view source) : source_(source) {}

    std::string operator()(const Expr& e) {
        out_.clear();
        expr(e);
        return out_;
    }

private:
    void str(std::string_view text) {
        out_ += '"';
        for (unsigned char c : text) {
            if (c == '"' || c == '\\') {
                out_ += '\\';
                out_ += static_cast<char>(c);
            } else if (c < 0x20) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "\\u%04x", c);
                out_ += buf;
            } else {
                out_ += static_cast<char>(c);
            }
        }
        out_ += '"';
    }
    void hex(std::string_view bytes) {
        static constexpr char kDigits[] = "0123456789abcdef";
        out_ += '"';
        for (unsigned char c : bytes) {
            out_ += kDigits[c >> 4];
            out_ += kDigits[c & 15];
        }
        out_ += '"';
    }
    void num(uint64_t v) { out_ += std::to_string(v); }
    void head(std::string_view kind, TextRange r) {
        out_ += "[\"";
        out_ += kind;
        out_ += "\",";
        num(r.start().raw);
        out_ += ',';
        num(r.end().raw);
    }
    void sep() { out_ += ','; }
    void opt(const Box<Expr>& b) {
        if (b) {
            expr(*b);
        } else {
            out_ += "null";
        }
    }
    template <class List>
    void list(const List& items) {
        out_ += '[';
        bool first = true;
        for (const Expr& item : items) {
            if (!first) sep();
            first = false;
            expr(item);
        }
        out_ += ']';
    }
    void ctx(ExprContext c) { str(enum_name(c)); }

    void comprehensions(const std::vector<Comprehension>& gens) {
        out_ += '[';
        for (size_t i = 0; i < gens.size(); ++i) {
            if (i) sep();
            out_ += '[';
            expr(gens[i].target);
            sep();
            expr(gens[i].iter);
            sep();
            list(gens[i].ifs);
            sep();
            out_ += gens[i].is_async ? '1' : '0';
            out_ += ']';
        }
        out_ += ']';
    }

    void param(const Parameter& p, const Box<Expr>* default_value) {
        out_ += "[\"arg\",";
        str(p.name.id.view());
        sep();
        num(p.name.range.start().raw);
        sep();
        num(p.name.range.end().raw);
        sep();
        if (default_value != nullptr && *default_value) {
            expr(**default_value);
        } else {
            out_ += "null";
        }
        out_ += ']';
    }
    void params(const Box<Parameters>& ps) {
        out_ += '[';
        auto with_defaults = [&](const std::vector<ParameterWithDefault>& items) {
            out_ += '[';
            for (size_t i = 0; i < items.size(); ++i) {
                if (i) sep();
                param(items[i].parameter, &items[i].default_);
            }
            out_ += ']';
        };
        auto single = [&](const std::optional<Parameter>& p) {
            if (p) {
                param(*p, nullptr);
            } else {
                out_ += "null";
            }
        };
        if (ps) {
            with_defaults(ps->posonlyargs);
            sep();
            with_defaults(ps->args);
            sep();
            single(ps->vararg);
            sep();
            with_defaults(ps->kwonlyargs);
            sep();
            single(ps->kwarg);
        } else {
            out_ += "[],[],null,[],null";
        }
        out_ += ']';
    }

    void elements(const std::vector<InterpolatedStringElement>& items, bool& first) {
        for (const InterpolatedStringElement& element : items) {
            if (const auto* literal = std::get_if<InterpolatedStringLiteralElement>(&element)) {
                if (!first) sep();
                first = false;
                out_ += "[\"Str\",";
                str(literal->value);
                out_ += ']';
                continue;
            }
            const auto& field = std::get<InterpolatedElement>(element);
            if (field.debug_text) {
                if (!first) sep();
                first = false;
                out_ += "[\"Str\",";
                str(field.debug_text->leading + std::string(field.expression->range().slice(source_)) +
                    field.debug_text->trailing);
                out_ += ']';
            }
            if (!first) sep();
            first = false;
            head("FormattedValue", field.range);
            sep();
            expr(*field.expression);
            sep();
            int conversion = static_cast<int>(field.conversion);
            if (field.debug_text && field.conversion == ConversionFlag::None && !field.format_spec) conversion = 'r';
            out_ += std::to_string(conversion);
            sep();
            if (field.format_spec) {
                out_ += "[\"JoinedStr\",[";
                bool inner_first = true;
                elements(field.format_spec->elements, inner_first);
                out_ += "]]";
            } else {
                out_ += "null";
            }
            out_ += ']';
        }
    }

    void constant_float(std::string_view kind, double v) {
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.17g", v);
        str(kind);
        sep();
        str(buf);
    }

    void expr(const Expr& e) {
        const TextRange r = e.range();
        e.visit([&](const auto& n) {
            using N = std::decay_t<decltype(n)>;
            if constexpr (std::is_same_v<N, ExprBoolOp>) {
                head("BoolOp", r), sep(), str(enum_name(n.op)), sep(), list(n.values);
            } else if constexpr (std::is_same_v<N, ExprNamed>) {
                head("NamedExpr", r), sep(), expr(*n.target), sep(), expr(*n.value);
            } else if constexpr (std::is_same_v<N, ExprBinOp>) {
                head("BinOp", r), sep(), expr(*n.left), sep(), str(enum_name(n.op)), sep(), expr(*n.right);
            } else if constexpr (std::is_same_v<N, ExprUnaryOp>) {
                head("UnaryOp", r), sep(), str(enum_name(n.op)), sep(), expr(*n.operand);
            } else if constexpr (std::is_same_v<N, ExprLambda>) {
                head("Lambda", r), sep(), params(n.parameters), sep(), expr(*n.body);
            } else if constexpr (std::is_same_v<N, ExprIf>) {
                head("IfExp", r), sep(), expr(*n.test), sep(), expr(*n.body), sep(), expr(*n.orelse);
            } else if constexpr (std::is_same_v<N, ExprDict>) {
                head("Dict", r), sep();
                out_ += '[';
                for (size_t i = 0; i < n.items.size(); ++i) {
                    if (i) sep();
                    out_ += '[';
                    opt(n.items[i].key);
                    sep();
                    expr(n.items[i].value);
                    out_ += ']';
                }
                out_ += ']';
            } else if constexpr (std::is_same_v<N, ExprSet>) {
                head("Set", r), sep(), list(n.elts);
            } else if constexpr (std::is_same_v<N, ExprListComp>) {
                head("ListComp", r), sep(), expr(*n.elt), sep(), comprehensions(n.generators);
            } else if constexpr (std::is_same_v<N, ExprSetComp>) {
                head("SetComp", r), sep(), expr(*n.elt), sep(), comprehensions(n.generators);
            } else if constexpr (std::is_same_v<N, ExprGenerator>) {
                head("GeneratorExp", generator_range_ ? *generator_range_ : r);
                generator_range_.reset();
                sep(), expr(*n.elt), sep(), comprehensions(n.generators);
            } else if constexpr (std::is_same_v<N, ExprDictComp>) {
                head("DictComp", r), sep(), expr(*n.key), sep(), expr(*n.value), sep(), comprehensions(n.generators);
            } else if constexpr (std::is_same_v<N, ExprAwait>) {
                head("Await", r), sep(), expr(*n.value);
            } else if constexpr (std::is_same_v<N, ExprYield>) {
                head("Yield", r), sep(), opt(n.value);
            } else if constexpr (std::is_same_v<N, ExprYieldFrom>) {
                head("YieldFrom", r), sep(), expr(*n.value);
            } else if constexpr (std::is_same_v<N, ExprCompare>) {
                head("Compare", r), sep(), expr(*n.left), sep();
                out_ += '[';
                for (size_t i = 0; i < n.ops.size(); ++i) {
                    if (i) sep();
                    str(enum_name(n.ops[i]));
                }
                out_ += ']';
                sep(), list(n.comparators);
            } else if constexpr (std::is_same_v<N, ExprCall>) {
                head("Call", r), sep(), expr(*n.func), sep();
                const auto& args = n.arguments;
                if (args.args.size() == 1 && args.keywords.empty()) {
                    if (const auto* g = args.args[0].template as_if<ExprGenerator>(); g && !g->parenthesized) {
                        generator_range_ = args.range;
                    }
                }
                list(args.args);
                sep();
                out_ += '[';
                for (size_t i = 0; i < args.keywords.size(); ++i) {
                    if (i) sep();
                    const Keyword& kw = args.keywords[i];
                    head("keyword", kw.range);
                    sep();
                    if (kw.arg) {
                        str(kw.arg->id.view());
                    } else {
                        out_ += "null";
                    }
                    sep();
                    expr(kw.value);
                    out_ += ']';
                }
                out_ += ']';
            } else if constexpr (std::is_same_v<N, ExprFString>) {
                head("JoinedStr", r), sep();
                out_ += '[';
                bool first = true;
                for (const FStringValuePart& part : n.value.parts()) {
                    if (const auto* literal = std::get_if<StringLiteral>(&part)) {
                        if (!first) sep();
                        first = false;
                        out_ += "[\"Str\",";
                        str(literal->value);
                        out_ += ']';
                    } else {
                        elements(std::get<FString>(part).elements, first);
                    }
                }
                out_ += ']';
            } else if constexpr (std::is_same_v<N, ExprTString>) {
                head("TemplateStr", r);
            } else if constexpr (std::is_same_v<N, ExprStringLiteral>) {
                head("Constant", r), sep(), str("str"), sep(), str(n.value.to_str());
            } else if constexpr (std::is_same_v<N, ExprBytesLiteral>) {
                head("Constant", r), sep(), str("bytes"), sep(), hex(n.value.bytes());
            } else if constexpr (std::is_same_v<N, ExprNumberLiteral>) {
                head("Constant", r), sep();
                if (const auto* i = std::get_if<IntValue>(&n.value)) {
                    str("int"), sep(), str(i->to_string());
                } else if (const auto* f = std::get_if<double>(&n.value)) {
                    constant_float("float", *f);
                } else {
                    constant_float("complex", std::get<ComplexValue>(n.value).imag);
                }
            } else if constexpr (std::is_same_v<N, ExprBooleanLiteral>) {
                head("Constant", r), sep(), str(n.value ? "True" : "False"), out_ += ",null";
            } else if constexpr (std::is_same_v<N, ExprNoneLiteral>) {
                head("Constant", r), out_ += ",\"None\",null";
            } else if constexpr (std::is_same_v<N, ExprEllipsisLiteral>) {
                head("Constant", r), out_ += ",\"Ellipsis\",null";
            } else if constexpr (std::is_same_v<N, ExprAttribute>) {
                head("Attribute", r), sep(), expr(*n.value), sep(), str(n.attr.id.view()), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprSubscript>) {
                head("Subscript", r), sep(), expr(*n.value), sep(), expr(*n.slice), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprStarred>) {
                head("Starred", r), sep(), expr(*n.value), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprName>) {
                head("Name", r), sep(), str(n.id.view()), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprList>) {
                head("List", r), sep(), list(n.elts), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprTuple>) {
                head("Tuple", r), sep(), list(n.elts), sep(), ctx(n.ctx);
            } else if constexpr (std::is_same_v<N, ExprSlice>) {
                head("Slice", r), sep(), opt(n.lower), sep(), opt(n.upper), sep(), opt(n.step);
            } else {
                head("IpyEscapeCommand", r);
            }
            out_ += ']';
        });
    }

    std::string_view source_;
    std::string out_;
    std::optional<TextRange> generator_range_;
};

inline std::string dump_json(const Expr& e, std::string_view source) { return JsonDump(source)(e); }

}  // namespace lumra::pyexpr::test
