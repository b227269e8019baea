// The expression printer: one pass over the tree into one growing buffer.
//
// Conventions: every form with a precedence is wrapped in parentheses exactly
// when the level it is printed at is above that precedence; operands are
// printed at the levels of the table below. Left-leaning chains (a + b + c,
// a.b.c, f()()) are walked in loops, so their length costs no stack.
#include "pycodegen/generator.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <string>

#include "pycodegen/literal.h"
#include "pyexpr/lexer.h"
#include "text/unicode.h"

namespace lumra::codegen {

using namespace pyexpr;

namespace {

// Precedences of the forms, and the levels contexts print their operands at.
namespace prec {
constexpr uint8_t kNamed = 1;
// The value of `:=` and the bounds of a slice are single expressions: a tuple
// there needs its parentheses ("x := (1, 2)", "x[(a, b):c]"), as does a yield.
constexpr uint8_t kNamedValue = 21;
constexpr uint8_t kYield = 7;
constexpr uint8_t kYieldValue = 8;
constexpr uint8_t kSubscriptKey = 13;
constexpr uint8_t kSliceBound = 21;
constexpr uint8_t kTuple = 19;
constexpr uint8_t kCompTarget = 19;
constexpr uint8_t kItem = kItemLevel;
constexpr uint8_t kLambda = 27;
constexpr uint8_t kIf = 27;
constexpr uint8_t kIfOperand = 28;
constexpr uint8_t kCompIter = 29;
constexpr uint8_t kOr = 31;
constexpr uint8_t kAnd = 33;
constexpr uint8_t kNot = 35;
constexpr uint8_t kCompare = 37;
constexpr uint8_t kCompareOperand = 38;
constexpr uint8_t kFactor = 53;
constexpr uint8_t kPow = 55;
constexpr uint8_t kPowLeft = 56;
constexpr uint8_t kAwait = 57;
constexpr uint8_t kAtom = 63;
}  // namespace prec

struct BinOpInfo {
    std::string_view text;
    uint8_t precedence;
};
// Indexed by Operator.
constexpr std::array<BinOpInfo, 13> kBinOps = {{
    {" + ", 47}, {" - ", 47}, {" * ", 49}, {" @ ", 49}, {" / ", 49}, {" % ", 49}, {" ** ", 55},
    {" << ", 45}, {" >> ", 45}, {" | ", 39}, {" ^ ", 41}, {" & ", 43}, {" // ", 49},
}};
// Indexed by CmpOp.
constexpr std::array<std::string_view, 10> kCmpOps = {
    " == ", " != ", " < ", " <= ", " > ", " >= ", " is ", " is not ", " in ", " not in ",
};
// Indexed by UnaryOp.
constexpr std::array<BinOpInfo, 4> kUnaryOps = {
    {{"~", prec::kFactor}, {"not ", prec::kNot}, {"+", prec::kFactor}, {"-", prec::kFactor}}};
// Indexed by IpyEscapeKind.
constexpr std::array<std::string_view, 9> kIpyEscapes = {"!", "!!", "?", "??", "%", "%%", ",", ";", "/"};

const BinOpInfo& bin_op(Operator op) { return kBinOps[static_cast<size_t>(op)]; }

// A bracket pair of the printed form. Inside it a ':' no longer ends an
// f-string replacement field.
class Bracket {
public:
    Bracket(Generator& g, char open, char close) : g_(g), close_(close) {
        g_.write(open);
        saved_ = g_.set_colon_ends_field(false);
    }
    void close() {
        g_.set_colon_ends_field(saved_);
        g_.write(close_);
    }

private:
    Generator& g_;
    char close_;
    bool saved_ = false;
};

// Parentheses around a form that binds more loosely than its context.
class Parens {
public:
    Parens(Generator& g, bool on) : g_(g), on_(on) {
        if (on_) {
            g_.write('(');
            saved_ = g_.set_colon_ends_field(false);
        }
    }
    void close() {
        if (on_) {
            g_.set_colon_ends_field(saved_);
            g_.write(')');
        }
    }

private:
    Generator& g_;
    bool on_;
    bool saved_ = false;
};

// A short list that spills to the heap only for long chains.
template <class T, size_t N>
class ChainBuffer {
public:
    void push(T value) {
        if (size_ < N) {
            inline_[size_] = value;
        } else {
            spill_.push_back(value);
        }
        ++size_;
    }
    size_t size() const { return size_; }
    T operator[](size_t i) const { return i < N ? inline_[i] : spill_[i - N]; }

private:
    // Left uninitialised: only the first size_ entries are ever read, and
    // zeroing the array costs more than printing a short chain.
    std::array<T, N> inline_;
    std::vector<T> spill_;
    size_t size_ = 0;
};

void write_comma_list(Generator& g, const std::vector<Expr>& elts, uint8_t level) {
    bool first = true;
    for (const Expr& e : elts) {
        if (!first) g.write(", ");
        first = false;
        unparse_expr(g, e, level);
    }
}

bool reads_as_keyword(std::string_view name) {
    const TokenKind kind = keyword_kind(name);
    return is_keyword(kind) && !is_soft_keyword(kind);
}

// A name as Python will read it back. Names are stored in NFKC form, so one
// spelled in other letters may be stored as a keyword ("ℕone" as "None").
// Python tells keywords apart before it normalises a name, so such a name is
// written as the source spelled it, which must normalise to the name; with
// no such spelling at hand, the name is noted as unwritable.
void write_name(Generator& g, std::string_view name, TextRange range) {
    if (reads_as_keyword(name)) {
        const std::string_view source = g.source();
        const bool in_source = range.start() < range.end() && range.end().to_usize() <= source.size();
        const std::string_view spelled = in_source ? range.slice(source) : std::string_view();
        if (!spelled.empty() && !reads_as_keyword(spelled) && text::nfkc(spelled) == name) {
            g.write(spelled);
            return;
        }
        g.note_unwritable_name(name);
    }
    g.write(name);
}

bool is_int_literal(const Expr& e) {
    const auto* number = e.as_if<ExprNumberLiteral>();
    return number != nullptr && std::holds_alternative<IntValue>(number->value);
}

// ---------------------------------------------------------------------------
// Literals

void write_quoted_str(Generator& g, std::string_view value, QuoteStyle preferred, bool triple_quoted) {
    EscapeLayout layout = str_escape_layout(value, preferred);
    std::string_view quote = quote_text(layout.quote, triple_quoted);
    g.reserve_more(layout.body_len.value_or(value.size()) + 2 * quote.size());
    g.write(quote);
    write_str_body(layout, value, g);
    g.write(quote);
}

// Raw text is written as the source had it, which works for any text but
// two characters: no source may hold a NUL, and Python reads every CR of a
// source (alone or before a line feed) as a line feed. A raw part holding
// either is written escaped instead, with the same value.
bool stands_raw(std::string_view text) {
    return text.find_first_of(std::string_view("\0\r", 2)) == std::string_view::npos;
}

void write_string_literal(Generator& g, const StringLiteral& part) {
    const StringLiteralFlags& flags = part.flags;
    if (flags.prefix.is_raw() && stands_raw(part.value)) {
        // No quote choice, no escapes.
        std::string_view quote = quote_text(flags.quote_style, flags.triple_quoted);
        g.write(flags.prefix.text());
        g.write(quote);
        g.write(part.value);
        g.write(quote);
        return;
    }
    if (flags.prefix.kind == StrPrefix::Kind::Unicode) g.write('u');
    write_quoted_str(g, part.value, flags.quote_style, flags.triple_quoted);
}

// Bytes in source are ASCII characters.
bool bytes_stand_raw(std::string_view bytes) {
    return stands_raw(bytes) &&
           std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

void write_bytes_literal(Generator& g, const BytesLiteral& part) {
    const BytesLiteralFlags& flags = part.flags;
    if (flags.prefix.is_raw() && bytes_stand_raw(part.value)) {
        std::string_view quote = quote_text(flags.quote_style, flags.triple_quoted);
        g.write(bytes_prefix_text(flags.prefix));
        g.write(quote);
        g.write(part.value);
        g.write(quote);
        return;
    }
    // Raw bytes that cannot stand raw lose their prefix and print escaped.
    g.write('b');
    EscapeLayout layout = bytes_escape_layout(part.value, flags.quote_style);
    std::string_view quote = quote_text(layout.quote, flags.triple_quoted);
    g.write(quote);
    write_bytes_body(layout, part.value, g);
    g.write(quote);
}

// The flags of an f-string or t-string part, as the element printers need them.
struct InterpolatedFlags {
    QuoteStyle quote_style;
    bool raw;
    bool triple_quoted;
    bool in_format_spec = false;
};

void unparse_interpolated_literal(Generator& g, std::string_view text, const InterpolatedFlags& flags) {
    // Braces of literal text are doubled so they are not read as fields.
    std::string doubled;
    std::string_view body = text;
    if (text.find_first_of("{}") != std::string_view::npos) {
        doubled.reserve(text.size() + 8);
        for (char c : text) {
            doubled.push_back(c);
            if (c == '{' || c == '}') doubled.push_back(c);
        }
        body = doubled;
    }
    if (flags.raw) {
        g.write(body);
        return;
    }
    write_str_body(str_escape_layout_fixed(body, flags.quote_style), body, g);
}

void unparse_interpolation(Generator& g, const InterpolatedElement& field, const InterpolatedFlags& flags);

void unparse_elements(Generator& g, const std::vector<InterpolatedStringElement>& elements,
                      const InterpolatedFlags& flags) {
    for (const InterpolatedStringElement& element : elements) {
        if (const auto* literal = std::get_if<InterpolatedStringLiteralElement>(&element)) {
            unparse_interpolated_literal(g, literal->value, flags);
        } else {
            unparse_interpolation(g, std::get<InterpolatedElement>(element), flags);
        }
    }
}

void unparse_interpolation(Generator& g, const InterpolatedElement& field, const InterpolatedFlags& flags) {
    // The expression is printed on its own first: a leading '{' needs a space
    // after the field's brace so that the two are not read as an escaped brace.
    Generator inner = g.fresh();
    inner.set_colon_ends_field(true);
    if (field.expression) unparse_expr(inner, *field.expression, prec::kTuple);
    g.absorb_failure(inner);
    std::string_view text = inner.text();
    if (field.debug_text && field.expression && !g.source().empty()) {
        // The expression as written: the source between the debug texts.
        TextRange range = field.expression->range();
        if (!range.is_empty() && range.end().to_usize() <= g.source().size()) text = range.slice(g.source());
    }
    std::string_view opening = field.debug_text && !field.debug_text->leading.empty() ? field.debug_text->leading : text;
    // A space after the brace would join a debug field's leading text. A
    // debug field with no leading text before a '{' only parses in a format
    // spec, where "{{" opens a field: it is written as it was.
    const bool as_written = field.debug_text && flags.in_format_spec;
    g.write(!as_written && !opening.empty() && opening.front() == '{' ? "{ " : "{");
    if (field.debug_text) {
        g.write(field.debug_text->leading);
        g.write(text);
        g.write(field.debug_text->trailing);
    } else {
        g.write(text);
    }
    if (field.conversion != ConversionFlag::None) {
        g.write('!');
        g.write(static_cast<char>(field.conversion));
    }
    if (field.format_spec) {
        g.write(':');
        InterpolatedFlags spec_flags = flags;
        spec_flags.in_format_spec = true;
        unparse_elements(g, field.format_spec->elements, spec_flags);
    }
    g.write('}');
}

// Whether every literal text of an f-string or t-string part, those of its
// format specs included, can be written raw.
bool literals_stand_raw(const std::vector<InterpolatedStringElement>& elements) {
    for (const InterpolatedStringElement& element : elements) {
        if (const auto* literal = std::get_if<InterpolatedStringLiteralElement>(&element)) {
            if (!stands_raw(literal->value)) return false;
        } else if (const auto& spec = std::get<InterpolatedElement>(element).format_spec) {
            if (!literals_stand_raw(spec->elements)) return false;
        }
    }
    return true;
}

// `prefix` is the part's own ("rf", "t", ...); a raw part whose literal text
// cannot stand raw drops its "r" or "R".
template <class Flags>
void unparse_interpolated_string(Generator& g, const std::vector<InterpolatedStringElement>& elements,
                                 const Flags& flags, std::string_view prefix) {
    const bool raw = flags.prefix.is_raw() && literals_stand_raw(elements);
    if (flags.prefix.is_raw() && !raw) prefix.remove_prefix(1);
    InterpolatedFlags f{flags.quote_style, raw, flags.triple_quoted};
    std::string_view quote = quote_text(flags.quote_style, flags.triple_quoted);
    g.write(prefix);
    g.write(quote);
    unparse_elements(g, elements, f);
    g.write(quote);
}

void unparse_number(Generator& g, const NumberValue& value) {
    if (const auto* integer = std::get_if<IntValue>(&value)) {
        if (integer->is_big()) {
            g.write(integer->big_text());
        } else {
            char buf[24];
            auto res = std::to_chars(buf, buf + sizeof buf, integer->small_value());
            g.write(std::string_view(buf, static_cast<size_t>(res.ptr - buf)));
        }
    } else if (const auto* real = std::get_if<double>(&value)) {
        g.write(float_literal_text(*real));
    } else {
        const auto& complex = std::get<ComplexValue>(value);
        g.write(complex_literal_text(complex.real, complex.imag));
    }
}

// ---------------------------------------------------------------------------
// Composite forms

void unparse_binop(Generator& g, const ExprBinOp& node, uint8_t level) {
    const uint8_t p = bin_op(node.op).precedence;
    Parens parens(g, level > p);
    if (node.op == Operator::Pow) {
        unparse_expr(g, *node.left, prec::kPowLeft);
        g.write(bin_op(node.op).text);
        unparse_expr(g, *node.right, prec::kPow);
    } else {
        // Left operands of the same precedence need no parentheses: collect
        // that spine and print it bottom-up in a loop.
        ChainBuffer<const ExprBinOp*, 16> chain;
        const ExprBinOp* cur = &node;
        chain.push(cur);
        while (const auto* left = cur->left->as_if<ExprBinOp>()) {
            if (left->op == Operator::Pow || bin_op(left->op).precedence != p) break;
            cur = left;
            chain.push(cur);
        }
        unparse_expr(g, *cur->left, p);
        for (size_t i = chain.size(); i-- > 0;) {
            const ExprBinOp* link = chain[i];
            g.write(bin_op(link->op).text);
            unparse_expr(g, *link->right, static_cast<uint8_t>(p + 1));
        }
    }
    parens.close();
}

}  // namespace

void unparse_arguments(Generator& g, const Arguments& arguments) {
    // Positional and keyword arguments print in source order, merged by the
    // starts of their ranges; a positional argument goes first on a tie.
    const auto& args = arguments.args;
    const auto& keywords = arguments.keywords;
    size_t a = 0, k = 0;
    bool first = true;
    while (a < args.size() || k < keywords.size()) {
        if (!first) g.write(", ");
        first = false;
        bool take_positional =
            k == keywords.size() || (a < args.size() && args[a].range().start() <= keywords[k].range.start());
        if (take_positional) {
            unparse_expr(g, args[a++], prec::kItem);
            continue;
        }
        const Keyword& keyword = keywords[k++];
        if (keyword.arg) {
            write_name(g, keyword.arg->id.view(), keyword.arg->range);
            g.write('=');
            unparse_expr(g, keyword.value, prec::kItem);
        } else {
            g.write("**");
            unparse_expr(g, keyword.value, prec::kAtom);
        }
    }
}

void write_str_literal(Generator& g, std::string_view value) {
    write_quoted_str(g, value, StringLiteralFlags{}.quote_style, false);
}

namespace {

bool is_postfix(const Expr& e) { return e.is<ExprAttribute>() || e.is<ExprCall>() || e.is<ExprSubscript>(); }

const Expr& postfix_base(const Expr& e) {
    if (const auto* attr = e.as_if<ExprAttribute>()) return *attr->value;
    if (const auto* call = e.as_if<ExprCall>()) return *call->func;
    return *e.as<ExprSubscript>().value;
}

void unparse_call_suffix(Generator& g, const ExprCall& call) {
    Bracket bracket(g, '(', ')');
    const Arguments& arguments = call.arguments;
    const ExprGenerator* lone_generator =
        arguments.args.size() == 1 && arguments.keywords.empty() ? arguments.args[0].as_if<ExprGenerator>() : nullptr;
    if (lone_generator != nullptr) {
        // f(x for x in y): the call's parentheses serve the generator too.
        unparse_expr(g, *lone_generator->elt, prec::kItem);
        unparse_comprehension(g, lone_generator->generators);
    } else {
        unparse_arguments(g, arguments);
    }
    bracket.close();
}

// Attribute access, calls and subscripts: the innermost base, then each suffix.
void unparse_postfix_chain(Generator& g, const Expr& outer) {
    ChainBuffer<const Expr*, 16> chain;
    const Expr* cur = &outer;
    while (is_postfix(*cur)) {
        chain.push(cur);
        cur = &postfix_base(*cur);
    }
    const Expr& innermost = *chain[chain.size() - 1];
    if (innermost.is<ExprAttribute>() && is_int_literal(*cur)) {
        // "1.real" would read as a float; "(1).real" keeps the integer.
        g.write('(');
        unparse_expr(g, *cur, prec::kAtom);
        g.write(')');
    } else {
        unparse_expr(g, *cur, prec::kAtom);
    }
    for (size_t i = chain.size(); i-- > 0;) {
        const Expr& link = *chain[i];
        if (const auto* attr = link.as_if<ExprAttribute>()) {
            g.write('.');
            write_name(g, attr->attr.id.view(), attr->attr.range);
        } else if (const auto* call = link.as_if<ExprCall>()) {
            unparse_call_suffix(g, *call);
        } else {
            const auto& subscript = link.as<ExprSubscript>();
            Bracket bracket(g, '[', ']');
            unparse_expr(g, *subscript.slice, prec::kSubscriptKey);
            bracket.close();
        }
    }
}

void unparse_parameter_item(Generator& g, const Parameter& parameter) {
    write_name(g, parameter.name.id.view(), parameter.name.range);
    if (parameter.annotation) {
        g.write(": ");
        unparse_expr(g, *parameter.annotation, prec::kItem);
    }
}

void unparse_parameter_with_default(Generator& g, const ParameterWithDefault& parameter) {
    unparse_parameter_item(g, parameter.parameter);
    if (parameter.default_) {
        g.write('=');
        unparse_expr(g, *parameter.default_, prec::kItem);
    }
}

void unparse_lambda(Generator& g, const ExprLambda& node, uint8_t level) {
    // Inside a replacement field a bare lambda's ':' would start the format spec.
    Parens parens(g, level > prec::kLambda || g.colon_ends_field());
    g.write("lambda");
    if (node.parameters) {
        g.write(' ');
        unparse_parameters(g, *node.parameters);
    }
    g.write(": ");
    unparse_expr(g, *node.body, prec::kLambda);
    parens.close();
}

void unparse_comprehension_form(Generator& g, const Expr* key, const Expr& elt,
                                const std::vector<Comprehension>& generators, char open, char close) {
    Bracket bracket(g, open, close);
    if (key != nullptr) {
        unparse_expr(g, *key, prec::kLambda);
        g.write(": ");
    }
    unparse_expr(g, elt, prec::kLambda);
    unparse_comprehension(g, generators);
    bracket.close();
}

void unparse_node(Generator& g, const Expr& expr, uint8_t level) {
    switch (expr.kind()) {
        case ExprKind::BoolOp: {
            const auto& node = expr.as<ExprBoolOp>();
            const bool is_and = node.op == BoolOp::And;
            const uint8_t p = is_and ? prec::kAnd : prec::kOr;
            Parens parens(g, level > p);
            bool first = true;
            for (const Expr& value : node.values) {
                if (!first) g.write(is_and ? " and " : " or ");
                first = false;
                unparse_expr(g, value, static_cast<uint8_t>(p + 1));
            }
            parens.close();
            return;
        }
        case ExprKind::Named: {
            const auto& node = expr.as<ExprNamed>();
            Parens parens(g, level > prec::kNamed || g.colon_ends_field());
            unparse_expr(g, *node.target, prec::kNamed);
            g.write(" := ");
            unparse_expr(g, *node.value, prec::kNamedValue);
            parens.close();
            return;
        }
        case ExprKind::BinOp: unparse_binop(g, expr.as<ExprBinOp>(), level); return;
        case ExprKind::UnaryOp: {
            const auto& node = expr.as<ExprUnaryOp>();
            const BinOpInfo& info = kUnaryOps[static_cast<size_t>(node.op)];
            Parens parens(g, level > info.precedence);
            g.write(info.text);
            unparse_expr(g, *node.operand, info.precedence);
            parens.close();
            return;
        }
        case ExprKind::Lambda: unparse_lambda(g, expr.as<ExprLambda>(), level); return;
        case ExprKind::If: {
            const auto& node = expr.as<ExprIf>();
            Parens parens(g, level > prec::kIf);
            unparse_expr(g, *node.body, prec::kIfOperand);
            g.write(" if ");
            unparse_expr(g, *node.test, prec::kIfOperand);
            g.write(" else ");
            unparse_expr(g, *node.orelse, prec::kIf);
            parens.close();
            return;
        }
        case ExprKind::Dict: {
            const auto& node = expr.as<ExprDict>();
            Bracket bracket(g, '{', '}');
            bool first = true;
            for (const DictItem& item : node.items) {
                if (!first) g.write(", ");
                first = false;
                if (item.key) {
                    unparse_expr(g, *item.key, prec::kItem);
                    g.write(": ");
                    unparse_expr(g, item.value, prec::kItem);
                } else {
                    g.write("**");
                    unparse_expr(g, item.value, prec::kAtom);
                }
            }
            bracket.close();
            return;
        }
        case ExprKind::Set: {
            const auto& node = expr.as<ExprSet>();
            if (node.elts.empty()) {
                g.write("set()");
                return;
            }
            Bracket bracket(g, '{', '}');
            write_comma_list(g, node.elts, prec::kItem);
            bracket.close();
            return;
        }
        case ExprKind::ListComp: {
            const auto& node = expr.as<ExprListComp>();
            unparse_comprehension_form(g, nullptr, *node.elt, node.generators, '[', ']');
            return;
        }
        case ExprKind::SetComp: {
            const auto& node = expr.as<ExprSetComp>();
            unparse_comprehension_form(g, nullptr, *node.elt, node.generators, '{', '}');
            return;
        }
        case ExprKind::DictComp: {
            const auto& node = expr.as<ExprDictComp>();
            unparse_comprehension_form(g, node.key.get(), *node.value, node.generators, '{', '}');
            return;
        }
        case ExprKind::Generator: {
            const auto& node = expr.as<ExprGenerator>();
            unparse_comprehension_form(g, nullptr, *node.elt, node.generators, '(', ')');
            return;
        }
        case ExprKind::Await: {
            Parens parens(g, level > prec::kAwait);
            g.write("await ");
            unparse_expr(g, *expr.as<ExprAwait>().value, prec::kAtom);
            parens.close();
            return;
        }
        case ExprKind::Yield: {
            const auto& node = expr.as<ExprYield>();
            Parens parens(g, level > prec::kYield);
            g.write("yield");
            if (node.value) {
                g.write(' ');
                unparse_expr(g, *node.value, prec::kYieldValue);
            }
            parens.close();
            return;
        }
        case ExprKind::YieldFrom: {
            Parens parens(g, level > prec::kYield);
            g.write("yield from ");
            unparse_expr(g, *expr.as<ExprYieldFrom>().value, prec::kAtom);
            parens.close();
            return;
        }
        case ExprKind::Compare: {
            const auto& node = expr.as<ExprCompare>();
            Parens parens(g, level > prec::kCompare);
            unparse_expr(g, *node.left, prec::kCompareOperand);
            const size_t n = std::min(node.ops.size(), node.comparators.size());
            for (size_t i = 0; i < n; ++i) {
                g.write(kCmpOps[static_cast<size_t>(node.ops[i])]);
                unparse_expr(g, node.comparators[i], prec::kCompareOperand);
            }
            parens.close();
            return;
        }
        case ExprKind::Call:
        case ExprKind::Attribute:
        case ExprKind::Subscript: unparse_postfix_chain(g, expr); return;
        case ExprKind::FString: {
            bool first = true;
            for (const FStringValuePart& part : expr.as<ExprFString>().value.parts()) {
                if (!first) g.write(' ');
                first = false;
                if (const auto* literal = std::get_if<StringLiteral>(&part)) {
                    write_string_literal(g, *literal);
                } else {
                    const auto& fstring = std::get<FString>(part);
                    unparse_interpolated_string(g, fstring.elements, fstring.flags,
                                                fstring_prefix_text(fstring.flags.prefix));
                }
            }
            return;
        }
        case ExprKind::TString: {
            bool first = true;
            for (const TString& tstring : expr.as<ExprTString>().value.parts()) {
                if (!first) g.write(' ');
                first = false;
                unparse_interpolated_string(g, tstring.elements, tstring.flags,
                                            tstring_prefix_text(tstring.flags.prefix));
            }
            return;
        }
        case ExprKind::StringLiteral: {
            bool first = true;
            for (const StringLiteral& part : expr.as<ExprStringLiteral>().value.parts()) {
                if (!first) g.write(' ');
                first = false;
                write_string_literal(g, part);
            }
            return;
        }
        case ExprKind::BytesLiteral: {
            bool first = true;
            for (const BytesLiteral& part : expr.as<ExprBytesLiteral>().value.parts()) {
                if (!first) g.write(' ');
                first = false;
                write_bytes_literal(g, part);
            }
            return;
        }
        case ExprKind::NumberLiteral: unparse_number(g, expr.as<ExprNumberLiteral>().value); return;
        case ExprKind::BooleanLiteral: g.write(expr.as<ExprBooleanLiteral>().value ? "True" : "False"); return;
        case ExprKind::NoneLiteral: g.write("None"); return;
        case ExprKind::EllipsisLiteral: g.write("..."); return;
        case ExprKind::Starred:
            g.write('*');
            unparse_expr(g, *expr.as<ExprStarred>().value, prec::kAtom);
            return;
        case ExprKind::Name: {
            const auto& node = expr.as<ExprName>();
            write_name(g, node.id.view(), node.range);
            return;
        }
        case ExprKind::List: {
            Bracket bracket(g, '[', ']');
            write_comma_list(g, expr.as<ExprList>().elts, prec::kItem);
            bracket.close();
            return;
        }
        case ExprKind::Tuple: {
            const auto& node = expr.as<ExprTuple>();
            if (node.elts.empty()) {
                g.write("()");
                return;
            }
            // A bare tuple with a starred element is not an expression on its
            // own ("a, *b"), so the whole expression keeps its parentheses.
            const bool whole_starred =
                level == 0 && std::any_of(node.elts.begin(), node.elts.end(),
                                          [](const Expr& e) { return e.is<ExprStarred>(); });
            Parens parens(g, level > prec::kTuple || whole_starred);
            write_comma_list(g, node.elts, prec::kItem);
            if (node.elts.size() == 1) g.write(',');
            parens.close();
            return;
        }
        case ExprKind::Slice: {
            const auto& node = expr.as<ExprSlice>();
            if (node.lower) unparse_expr(g, *node.lower, prec::kSliceBound);
            g.write(':');
            if (node.upper) unparse_expr(g, *node.upper, prec::kSliceBound);
            if (node.step) {
                g.write(':');
                unparse_expr(g, *node.step, prec::kSliceBound);
            }
            return;
        }
        case ExprKind::IpyEscapeCommand: {
            const auto& node = expr.as<ExprIpyEscapeCommand>();
            g.write(kIpyEscapes[static_cast<size_t>(node.kind)]);
            g.write(node.value);
            return;
        }
    }
}

}  // namespace

void unparse_expr(Generator& g, const Expr& expr, uint8_t level) {
    if (!g.enter()) return;
    if (g.hook() == nullptr || !g.hook()->print(g, expr, level)) unparse_node(g, expr, level);
    g.leave();
}

void unparse_comprehension(Generator& g, const std::vector<Comprehension>& clauses) {
    for (const Comprehension& clause : clauses) {
        g.write(clause.is_async ? " async for " : " for ");
        unparse_expr(g, clause.target, prec::kCompTarget);
        g.write(" in ");
        unparse_expr(g, clause.iter, prec::kCompIter);
        for (const Expr& condition : clause.ifs) {
            g.write(" if ");
            unparse_expr(g, condition, prec::kCompIter);
        }
    }
}

void unparse_parameters(Generator& g, const Parameters& parameters) {
    bool first = true;
    auto item = [&]() {
        if (!first) g.write(", ");
        first = false;
    };
    for (const ParameterWithDefault& parameter : parameters.posonlyargs) {
        item();
        unparse_parameter_with_default(g, parameter);
    }
    if (!parameters.posonlyargs.empty()) {
        item();
        g.write('/');
    }
    for (const ParameterWithDefault& parameter : parameters.args) {
        item();
        unparse_parameter_with_default(g, parameter);
    }
    if (parameters.vararg || !parameters.kwonlyargs.empty()) {
        item();
        g.write('*');
        if (parameters.vararg) unparse_parameter_item(g, *parameters.vararg);
    }
    for (const ParameterWithDefault& parameter : parameters.kwonlyargs) {
        item();
        unparse_parameter_with_default(g, parameter);
    }
    if (parameters.kwarg) {
        item();
        g.write("**");
        unparse_parameter_item(g, *parameters.kwarg);
    }
}

std::optional<std::string> expression_to_source(const Expr& expr) { return expression_to_source(expr, {}); }

std::optional<std::string> expression_to_source(const Expr& expr, std::string_view source) {
    Generator g("    ");
    g.set_source(source);
    unparse_expr(g, expr, 0);
    if (g.failed()) return std::nullopt;
    return g.take();
}

}  // namespace lumra::codegen
