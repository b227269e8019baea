// Debug rendering of the expression tree in the derive style:
// `Type { field: value, ... }`, variants as `Name(payload)`, lists as `[a, b]`,
// optional values as `None` / `Some(x)`, ranges as `start..end`.

#include <charconv>
#include <cmath>

#include "pyexpr/ast.h"
#include "text/debug_escape.h"

namespace lumra::pyexpr {

namespace {

void write_bool(std::string& out, bool v) { out += v ? "true" : "false"; }

// Set while debug_string_without_ranges runs.
thread_local bool t_omit_ranges = false;

void write_range(std::string& out, TextRange r) {
    if (t_omit_ranges) {
        out += "..";
        return;
    }
    out += std::to_string(r.start().raw);
    out += "..";
    out += std::to_string(r.end().raw);
}

void write_node_index(std::string& out, NodeIndex ni) {
    if (ni.is_none()) {
        out += "NodeIndex(None)";
    } else {
        out += "NodeIndex(Some(";
        out += std::to_string(ni.value);
        out += "))";
    }
}

// "range: a..b, node_index: NodeIndex(None)" for supporting nodes.
void write_range_first(std::string& out, TextRange r, NodeIndex ni) {
    out += "range: ";
    write_range(out, r);
    out += ", node_index: ";
    write_node_index(out, ni);
}

// "node_index: NodeIndex(None), range: a..b" for expression nodes.
void write_index_first(std::string& out, NodeIndex ni, TextRange r) {
    out += "node_index: ";
    write_node_index(out, ni);
    out += ", range: ";
    write_range(out, r);
}

template <class T, class F>
void write_list(std::string& out, const std::vector<T>& items, F&& each) {
    out += '[';
    bool first = true;
    for (const auto& item : items) {
        if (!first) out += ", ";
        first = false;
        each(item);
    }
    out += ']';
}

void write_exprs(std::string& out, const std::vector<Expr>& items) {
    write_list(out, items, [&](const Expr& e) { debug_write(out, e); });
}

void write_opt_expr(std::string& out, const Box<Expr>& e) {
    if (!e) {
        out += "None";
        return;
    }
    out += "Some(";
    debug_write(out, *e);
    out += ')';
}

void write_child(std::string& out, const Box<Expr>& e) {
    // A required child is never empty in a well-formed tree; print None rather than crash.
    if (!e) {
        out += "None";
        return;
    }
    debug_write(out, *e);
}

void write_quote_style(std::string& out, QuoteStyle q) { out += q == QuoteStyle::Double ? "Double" : "Single"; }

void write_raw_prefix(std::string& out, RawPrefix p) {
    if (!p.raw) {
        out += "Regular";
    } else {
        out += "Raw { uppercase_r: ";
        write_bool(out, p.uppercase_r);
        out += " }";
    }
}

template <class Flags>
void write_raw_flags(std::string& out, std::string_view name, const Flags& f) {
    out += name;
    out += " { quote_style: ";
    write_quote_style(out, f.quote_style);
    out += ", prefix: ";
    write_raw_prefix(out, f.prefix);
    out += ", triple_quoted: ";
    write_bool(out, f.triple_quoted);
    out += ", unclosed: ";
    write_bool(out, f.unclosed);
    out += " }";
}

void write_string_flags(std::string& out, const StringLiteralFlags& f) {
    out += "StringLiteralFlags { quote_style: ";
    write_quote_style(out, f.quote_style);
    out += ", prefix: ";
    switch (f.prefix.kind) {
        case StrPrefix::Kind::Empty: out += "Empty"; break;
        case StrPrefix::Kind::Unicode: out += "Unicode"; break;
        case StrPrefix::Kind::Raw:
            out += "Raw { uppercase: ";
            write_bool(out, f.prefix.uppercase);
            out += " }";
            break;
    }
    out += ", triple_quoted: ";
    write_bool(out, f.triple_quoted);
    out += ", unclosed: ";
    write_bool(out, f.unclosed);
    out += " }";
}

void write_elements(std::string& out, const std::vector<InterpolatedStringElement>& elements) {
    write_list(out, elements, [&](const InterpolatedStringElement& e) { debug_write(out, e); });
}

// An integer prints in its text form: the decimal value or the kept text.
void write_int_value(std::string& out, const IntValue& v) { out += v.to_string(); }

void write_fstring_part(std::string& out, const FStringValuePart& part) {
    if (const auto* lit = std::get_if<StringLiteral>(&part)) {
        out += "Literal(";
        debug_write(out, *lit);
    } else {
        out += "FString(";
        debug_write(out, std::get<FString>(part));
    }
    out += ')';
}

void write_comprehensions(std::string& out, const std::vector<Comprehension>& gens) {
    write_list(out, gens, [&](const Comprehension& c) { debug_write(out, c); });
}

template <class T>
void write_with_default_list(std::string& out, const std::vector<T>& list) {
    write_list(out, list, [&](const T& p) { debug_write(out, p); });
}

void write_opt_parameter(std::string& out, const std::optional<Parameter>& p) {
    if (!p) {
        out += "None";
        return;
    }
    out += "Some(";
    debug_write(out, *p);
    out += ')';
}

struct NodeWriter {
    std::string& out;

    void operator()(const ExprBoolOp& n) {
        out += ", op: ";
        out += enum_name(n.op);
        out += ", values: ";
        write_exprs(out, n.values);
    }
    void operator()(const ExprNamed& n) {
        out += ", target: ";
        write_child(out, n.target);
        out += ", value: ";
        write_child(out, n.value);
    }
    void operator()(const ExprBinOp& n) {
        out += ", left: ";
        write_child(out, n.left);
        out += ", op: ";
        out += enum_name(n.op);
        out += ", right: ";
        write_child(out, n.right);
    }
    void operator()(const ExprUnaryOp& n) {
        out += ", op: ";
        out += enum_name(n.op);
        out += ", operand: ";
        write_child(out, n.operand);
    }
    void operator()(const ExprLambda& n) {
        out += ", parameters: ";
        if (n.parameters) {
            out += "Some(";
            debug_write(out, *n.parameters);
            out += ')';
        } else {
            out += "None";
        }
        out += ", body: ";
        write_child(out, n.body);
    }
    void operator()(const ExprIf& n) {
        out += ", test: ";
        write_child(out, n.test);
        out += ", body: ";
        write_child(out, n.body);
        out += ", orelse: ";
        write_child(out, n.orelse);
    }
    void operator()(const ExprDict& n) {
        out += ", items: ";
        write_list(out, n.items, [&](const DictItem& item) { debug_write(out, item); });
    }
    void operator()(const ExprSet& n) {
        out += ", elts: ";
        write_exprs(out, n.elts);
    }
    void operator()(const ExprListComp& n) { elt_generators(n.elt, n.generators); }
    void operator()(const ExprSetComp& n) { elt_generators(n.elt, n.generators); }
    void operator()(const ExprDictComp& n) {
        out += ", key: ";
        write_child(out, n.key);
        out += ", value: ";
        write_child(out, n.value);
        out += ", generators: ";
        write_comprehensions(out, n.generators);
    }
    void operator()(const ExprGenerator& n) {
        elt_generators(n.elt, n.generators);
        out += ", parenthesized: ";
        write_bool(out, n.parenthesized);
    }
    void operator()(const ExprAwait& n) {
        out += ", value: ";
        write_child(out, n.value);
    }
    void operator()(const ExprYield& n) {
        out += ", value: ";
        write_opt_expr(out, n.value);
    }
    void operator()(const ExprYieldFrom& n) {
        out += ", value: ";
        write_child(out, n.value);
    }
    void operator()(const ExprCompare& n) {
        out += ", left: ";
        write_child(out, n.left);
        out += ", ops: ";
        write_list(out, n.ops, [&](CmpOp op) { out += enum_name(op); });
        out += ", comparators: ";
        write_exprs(out, n.comparators);
    }
    void operator()(const ExprCall& n) {
        out += ", func: ";
        write_child(out, n.func);
        out += ", arguments: ";
        debug_write(out, n.arguments);
    }
    void operator()(const ExprFString& n) {
        out += ", value: FStringValue { inner: ";
        if (const auto* single = std::get_if<FStringValuePart>(&n.value.inner)) {
            out += "Single(";
            write_fstring_part(out, *single);
            out += ')';
        } else {
            out += "Concatenated(";
            write_list(out, std::get<1>(n.value.inner), [&](const FStringValuePart& p) { write_fstring_part(out, p); });
            out += ')';
        }
        out += " }";
    }
    void operator()(const ExprTString& n) {
        out += ", value: TStringValue { inner: ";
        if (const auto* single = std::get_if<TString>(&n.value.inner)) {
            out += "Single(";
            debug_write(out, *single);
            out += ')';
        } else {
            out += "Concatenated(";
            write_list(out, std::get<1>(n.value.inner), [&](const TString& t) { debug_write(out, t); });
            out += ')';
        }
        out += " }";
    }
    void operator()(const ExprStringLiteral& n) {
        out += ", value: StringLiteralValue { inner: ";
        if (const auto* single = std::get_if<StringLiteral>(&n.value.inner)) {
            out += "Single(";
            debug_write(out, *single);
            out += ')';
        } else {
            const auto& c = std::get<ConcatenatedStringLiteral>(n.value.inner);
            out += "Concatenated(ConcatenatedStringLiteral { strings: ";
            write_list(out, c.strings, [&](const StringLiteral& s) { debug_write(out, s); });
            out += ", value: ";
            debug_write_str(out, c.value());
            out += " })";
        }
        out += " }";
    }
    void operator()(const ExprBytesLiteral& n) {
        out += ", value: BytesLiteralValue { inner: ";
        if (const auto* single = std::get_if<BytesLiteral>(&n.value.inner)) {
            out += "Single(";
            debug_write(out, *single);
            out += ')';
        } else {
            out += "Concatenated(";
            write_list(out, std::get<1>(n.value.inner), [&](const BytesLiteral& b) { debug_write(out, b); });
            out += ')';
        }
        out += " }";
    }
    void operator()(const ExprNumberLiteral& n) {
        out += ", value: ";
        debug_write(out, n.value);
    }
    void operator()(const ExprBooleanLiteral& n) {
        out += ", value: ";
        write_bool(out, n.value);
    }
    void operator()(const ExprNoneLiteral&) {}
    void operator()(const ExprEllipsisLiteral&) {}
    void operator()(const ExprAttribute& n) {
        out += ", value: ";
        write_child(out, n.value);
        out += ", attr: ";
        debug_write(out, n.attr);
        ctx(n.ctx);
    }
    void operator()(const ExprSubscript& n) {
        out += ", value: ";
        write_child(out, n.value);
        out += ", slice: ";
        write_child(out, n.slice);
        ctx(n.ctx);
    }
    void operator()(const ExprStarred& n) {
        out += ", value: ";
        write_child(out, n.value);
        ctx(n.ctx);
    }
    void operator()(const ExprName& n) {
        out += ", id: Name(";
        debug_write_str(out, n.id.view());
        out += ')';
        ctx(n.ctx);
    }
    void operator()(const ExprList& n) {
        out += ", elts: ";
        write_exprs(out, n.elts);
        ctx(n.ctx);
    }
    void operator()(const ExprTuple& n) {
        out += ", elts: ";
        write_exprs(out, n.elts);
        ctx(n.ctx);
        out += ", parenthesized: ";
        write_bool(out, n.parenthesized);
    }
    void operator()(const ExprSlice& n) {
        out += ", lower: ";
        write_opt_expr(out, n.lower);
        out += ", upper: ";
        write_opt_expr(out, n.upper);
        out += ", step: ";
        write_opt_expr(out, n.step);
    }
    void operator()(const ExprIpyEscapeCommand& n) {
        out += ", kind: ";
        out += enum_name(n.kind);
        out += ", value: ";
        debug_write_str(out, n.value);
    }

    void elt_generators(const Box<Expr>& elt, const std::vector<Comprehension>& gens) {
        out += ", elt: ";
        write_child(out, elt);
        out += ", generators: ";
        write_comprehensions(out, gens);
    }
    void ctx(ExprContext c) {
        out += ", ctx: ";
        out += enum_name(c);
    }
};

}  // namespace

void debug_write_str(std::string& out, std::string_view text) { text::append_debug_str(out, text); }

void debug_write_float(std::string& out, double value) {
    if (std::isnan(value)) {
        out += "NaN";
        return;
    }
    if (std::isinf(value)) {
        out += value < 0 ? "-inf" : "inf";
        return;
    }
    char buf[64];
    const double magnitude = std::fabs(value);
    if (magnitude != 0.0 && (magnitude < 1e-4 || magnitude >= 1e16)) {
        auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::scientific);
        std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
        const size_t e = text.find('e');
        out.append(text.substr(0, e));
        out += 'e';
        std::string_view exp = text.substr(e + 1);
        if (!exp.empty() && exp[0] == '-') {
            out += '-';
            exp.remove_prefix(1);
        } else if (!exp.empty() && exp[0] == '+') {
            exp.remove_prefix(1);
        }
        while (exp.size() > 1 && exp[0] == '0') exp.remove_prefix(1);
        out.append(exp);
        return;
    }
    auto res = std::to_chars(buf, buf + sizeof buf, value, std::chars_format::fixed);
    std::string_view text(buf, static_cast<size_t>(res.ptr - buf));
    out.append(text);
    if (text.find('.') == std::string_view::npos) out += ".0";
}

void debug_write(std::string& out, const Expr& e) {
    const std::string_view kind = expr_kind_name(e.kind());
    out += kind;
    out += "(Expr";
    out += kind;
    out += " { ";
    e.visit([&](const auto& n) {
        write_index_first(out, n.node_index, n.range);
        NodeWriter{out}(n);
    });
    out += " })";
}

std::string debug_string(const Expr& e) {
    std::string out;
    debug_write(out, e);
    return out;
}

std::string debug_string_without_ranges(const Expr& e) {
    struct Restore {
        bool saved = t_omit_ranges;
        ~Restore() { t_omit_ranges = saved; }
    } restore;
    t_omit_ranges = true;
    return debug_string(e);
}

void debug_write(std::string& out, const Identifier& v) {
    out += "Identifier { id: Name(";
    debug_write_str(out, v.id.view());
    out += "), range: ";
    write_range(out, v.range);
    out += ", node_index: ";
    write_node_index(out, v.node_index);
    out += " }";
}

void debug_write(std::string& out, const Keyword& v) {
    out += "Keyword { ";
    write_range_first(out, v.range, v.node_index);
    out += ", arg: ";
    if (v.arg) {
        out += "Some(";
        debug_write(out, *v.arg);
        out += ')';
    } else {
        out += "None";
    }
    out += ", value: ";
    debug_write(out, v.value);
    out += " }";
}

void debug_write(std::string& out, const Arguments& v) {
    out += "Arguments { ";
    write_range_first(out, v.range, v.node_index);
    out += ", args: ";
    write_exprs(out, v.args);
    out += ", keywords: ";
    write_list(out, v.keywords, [&](const Keyword& k) { debug_write(out, k); });
    out += " }";
}

void debug_write(std::string& out, const Comprehension& v) {
    out += "Comprehension { ";
    write_range_first(out, v.range, v.node_index);
    out += ", target: ";
    debug_write(out, v.target);
    out += ", iter: ";
    debug_write(out, v.iter);
    out += ", ifs: ";
    write_exprs(out, v.ifs);
    out += ", is_async: ";
    write_bool(out, v.is_async);
    out += " }";
}

void debug_write(std::string& out, const DictItem& v) {
    out += "DictItem { key: ";
    write_opt_expr(out, v.key);
    out += ", value: ";
    debug_write(out, v.value);
    out += " }";
}

void debug_write(std::string& out, const Parameters& v) {
    out += "Parameters { ";
    write_range_first(out, v.range, v.node_index);
    out += ", posonlyargs: ";
    write_with_default_list(out, v.posonlyargs);
    out += ", args: ";
    write_with_default_list(out, v.args);
    out += ", vararg: ";
    write_opt_parameter(out, v.vararg);
    out += ", kwonlyargs: ";
    write_with_default_list(out, v.kwonlyargs);
    out += ", kwarg: ";
    write_opt_parameter(out, v.kwarg);
    out += " }";
}

void debug_write(std::string& out, const Parameter& v) {
    out += "Parameter { ";
    write_range_first(out, v.range, v.node_index);
    out += ", name: ";
    debug_write(out, v.name);
    out += ", annotation: ";
    write_opt_expr(out, v.annotation);
    out += " }";
}

void debug_write(std::string& out, const ParameterWithDefault& v) {
    out += "ParameterWithDefault { ";
    write_range_first(out, v.range, v.node_index);
    out += ", parameter: ";
    debug_write(out, v.parameter);
    out += ", default: ";
    write_opt_expr(out, v.default_);
    out += " }";
}

void debug_write(std::string& out, const StringLiteral& v) {
    out += "StringLiteral { ";
    write_range_first(out, v.range, v.node_index);
    out += ", value: ";
    debug_write_str(out, v.value);
    out += ", flags: ";
    write_string_flags(out, v.flags);
    out += " }";
}

void debug_write(std::string& out, const BytesLiteral& v) {
    out += "BytesLiteral { ";
    write_range_first(out, v.range, v.node_index);
    out += ", value: [";
    bool first = true;
    for (char c : v.value) {
        if (!first) out += ", ";
        first = false;
        out += std::to_string(static_cast<unsigned char>(c));
    }
    out += "], flags: ";
    write_raw_flags(out, "BytesLiteralFlags", v.flags);
    out += " }";
}

void debug_write(std::string& out, const FString& v) {
    out += "FString { ";
    write_range_first(out, v.range, v.node_index);
    out += ", elements: ";
    write_elements(out, v.elements);
    out += ", flags: ";
    write_raw_flags(out, "FStringFlags", v.flags);
    out += " }";
}

void debug_write(std::string& out, const TString& v) {
    out += "TString { ";
    write_range_first(out, v.range, v.node_index);
    out += ", elements: ";
    write_elements(out, v.elements);
    out += ", flags: ";
    write_raw_flags(out, "TStringFlags", v.flags);
    out += " }";
}

void debug_write(std::string& out, const InterpolatedStringElement& v) {
    if (const auto* lit = std::get_if<InterpolatedStringLiteralElement>(&v)) {
        out += "Literal(InterpolatedStringLiteralElement { ";
        write_range_first(out, lit->range, lit->node_index);
        out += ", value: ";
        debug_write_str(out, lit->value);
        out += " })";
        return;
    }
    const auto& e = std::get<InterpolatedElement>(v);
    out += "Interpolation(InterpolatedElement { ";
    write_range_first(out, e.range, e.node_index);
    out += ", expression: ";
    write_child(out, e.expression);
    out += ", debug_text: ";
    if (e.debug_text) {
        out += "Some(DebugText { leading: ";
        debug_write_str(out, e.debug_text->leading);
        out += ", trailing: ";
        debug_write_str(out, e.debug_text->trailing);
        out += " })";
    } else {
        out += "None";
    }
    out += ", conversion: ";
    out += enum_name(e.conversion);
    out += ", format_spec: ";
    if (e.format_spec) {
        out += "Some(InterpolatedStringFormatSpec { ";
        write_range_first(out, e.format_spec->range, e.format_spec->node_index);
        out += ", elements: ";
        write_elements(out, e.format_spec->elements);
        out += " })";
    } else {
        out += "None";
    }
    out += " })";
}

void debug_write(std::string& out, const NumberValue& v) {
    if (const auto* i = std::get_if<IntValue>(&v)) {
        out += "Int(";
        write_int_value(out, *i);
        out += ')';
    } else if (const auto* f = std::get_if<double>(&v)) {
        out += "Float(";
        debug_write_float(out, *f);
        out += ')';
    } else {
        const auto& c = std::get<ComplexValue>(v);
        out += "Complex { real: ";
        debug_write_float(out, c.real);
        out += ", imag: ";
        debug_write_float(out, c.imag);
        out += " }";
    }
}

}  // namespace lumra::pyexpr
