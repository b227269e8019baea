// Builds expression trees from CPython's (serialised by cpython_tree.py) and
// prints them, so the printer can be judged on any corpus without our parser.
//
// Input (stdin): serialised trees, each followed by a line feed. Output: per
// tree "OK LENGTH\n" and the printed text, or "DEEP 0\n"; a malformed input
// stops the program with a message on stderr and exit status 2.
#include <cstring>
#include <iostream>
#include <iterator>
#include <stdexcept>
#include <string>

#include "pycodegen/generator.h"
#include "pyexpr/ast.h"

namespace {

using namespace lumra::pyexpr;

class Reader {
public:
    explicit Reader(std::string_view in) : in_(in) {}

    bool at_end() const { return pos_ >= in_.size(); }

    std::string_view word() {
        size_t end = pos_;
        while (end < in_.size() && in_[end] != ' ' && in_[end] != '\n') ++end;
        std::string_view w = in_.substr(pos_, end - pos_);
        pos_ = end;
        skip_separator();
        return w;
    }
    uint64_t number() { return std::stoull(std::string(word())); }
    std::string text() {
        size_t colon = in_.find(':', pos_);
        if (colon == std::string_view::npos) throw std::runtime_error("text without length");
        size_t len = std::stoull(std::string(in_.substr(pos_, colon - pos_)));
        std::string value(in_.substr(colon + 1, len));
        pos_ = colon + 1 + len;
        skip_separator();
        return value;
    }
    void end_record() {
        if (pos_ > 0 && in_[pos_ - 1] != '\n') throw std::runtime_error("record not closed");
    }

    Expr expr() {
        std::string_view kind = word();
        if (kind == "Name") return make_name(text());
        if (kind == "None") return make_none_literal();
        if (kind == "Ellipsis") return ExprEllipsisLiteral{};
        if (kind == "True" || kind == "False") return ExprBooleanLiteral{{}, {}, kind == "True"};
        if (kind == "Int") {
            std::string digits = text();
            if (digits.size() <= 19) return make_int_literal(std::stoull(digits));
            if (digits.size() == 20 && digits <= "18446744073709551615") return make_int_literal(std::stoull(digits));
            return ExprNumberLiteral{{}, {}, IntValue::big(digits)};
        }
        if (kind == "Float") return ExprNumberLiteral{{}, {}, bits_to_double(word())};
        if (kind == "Complex") return ExprNumberLiteral{{}, {}, ComplexValue{0.0, bits_to_double(word())}};
        if (kind == "Str" || kind == "StrU") {
            StringLiteral part{{}, {}, text(), {}};
            if (kind == "StrU") part.flags.prefix = StrPrefix::unicode();
            return ExprStringLiteral{{}, {}, StringLiteralValue{std::move(part)}};
        }
        if (kind == "Bytes") return ExprBytesLiteral{{}, {}, BytesLiteralValue{BytesLiteral{{}, {}, text(), {}}}};
        if (kind == "BoolOp") {
            BoolOp op = word() == "And" ? BoolOp::And : BoolOp::Or;
            return ExprBoolOp{{}, {}, op, list(number())};
        }
        if (kind == "BinOp") {
            auto op = static_cast<Operator>(number());
            Expr left = expr();
            return ExprBinOp{{}, {}, boxed(std::move(left)), op, boxed(expr())};
        }
        if (kind == "Unary") {
            auto op = static_cast<UnaryOp>(number());
            return ExprUnaryOp{{}, {}, op, boxed(expr())};
        }
        if (kind == "Named") {
            Expr target = expr();
            return ExprNamed{{}, {}, boxed(std::move(target)), boxed(expr())};
        }
        if (kind == "Lambda") {
            Box<Parameters> params = parameters();
            return ExprLambda{{}, {}, std::move(params), boxed(expr())};
        }
        if (kind == "If") {
            Expr test = expr();
            Expr body = expr();
            return ExprIf{{}, {}, boxed(std::move(test)), boxed(std::move(body)), boxed(expr())};
        }
        if (kind == "Dict") {
            ExprDict d{};
            for (uint64_t n = number(); n > 0; --n) {
                Box<Expr> key = optional();
                d.items.push_back(DictItem{std::move(key), expr()});
            }
            return d;
        }
        if (kind == "Set") return ExprSet{{}, {}, list(number())};
        if (kind == "List") return ExprList{{}, {}, list(number()), ExprContext::Load};
        if (kind == "Tuple") return make_tuple(list(number()));
        if (kind == "ListComp") {
            Expr elt = expr();
            return ExprListComp{{}, {}, boxed(std::move(elt)), comprehensions()};
        }
        if (kind == "SetComp") {
            Expr elt = expr();
            return ExprSetComp{{}, {}, boxed(std::move(elt)), comprehensions()};
        }
        if (kind == "GeneratorExp") {
            Expr elt = expr();
            return ExprGenerator{{}, {}, boxed(std::move(elt)), comprehensions(), true};
        }
        if (kind == "DictComp") {
            Expr key = expr();
            Expr value = expr();
            return ExprDictComp{{}, {}, boxed(std::move(key)), boxed(std::move(value)), comprehensions()};
        }
        if (kind == "Await") return ExprAwait{{}, {}, boxed(expr())};
        if (kind == "Yield") return ExprYield{{}, {}, optional()};
        if (kind == "YieldFrom") return ExprYieldFrom{{}, {}, boxed(expr())};
        if (kind == "Compare") {
            uint64_t n = number();
            ExprCompare c{{}, {}, boxed(expr()), {}, {}};
            for (; n > 0; --n) {
                c.ops.push_back(static_cast<CmpOp>(number()));
                c.comparators.push_back(expr());
            }
            return c;
        }
        if (kind == "Call") {
            Expr func = expr();
            std::vector<Expr> args;
            for (uint64_t n = number(); n > 0; --n) {
                auto start = static_cast<uint32_t>(number());
                Expr arg = expr();
                arg.set_range(TextRange(start, start));
                args.push_back(std::move(arg));
            }
            std::vector<Keyword> keywords;
            for (uint64_t n = number(); n > 0; --n) {
                auto start = static_cast<uint32_t>(number());
                Keyword k{TextRange(start, start), {}, std::nullopt, {}};
                if (peek() == '-') {
                    word();
                } else {
                    k.arg = make_identifier(text());
                }
                k.value = expr();
                keywords.push_back(std::move(k));
            }
            return make_call(std::move(func), std::move(args), std::move(keywords));
        }
        if (kind == "JoinedStr") {
            FString part{{}, {}, elements(), FStringFlags{}};
            return ExprFString{{}, {}, FStringValue{FStringValuePart{std::move(part)}}};
        }
        if (kind == "Attribute") {
            Expr base = expr();
            return make_attribute(std::move(base), text());
        }
        if (kind == "Subscript") {
            Expr base = expr();
            return ExprSubscript{{}, {}, boxed(std::move(base)), boxed(expr()), ExprContext::Load};
        }
        if (kind == "Starred") return ExprStarred{{}, {}, boxed(expr()), ExprContext::Load};
        if (kind == "Slice") {
            Box<Expr> lower = optional();
            Box<Expr> upper = optional();
            return ExprSlice{{}, {}, std::move(lower), std::move(upper), optional()};
        }
        throw std::runtime_error("unknown node " + std::string(kind));
    }

private:
    void skip_separator() {
        if (pos_ < in_.size() && (in_[pos_] == ' ' || in_[pos_] == '\n')) ++pos_;
    }
    char peek() const { return pos_ < in_.size() ? in_[pos_] : '\0'; }

    static double bits_to_double(std::string_view hex) {
        uint64_t bits = std::stoull(std::string(hex), nullptr, 16);
        double value;
        std::memcpy(&value, &bits, sizeof value);
        return value;
    }

    std::vector<Expr> list(uint64_t n) {
        std::vector<Expr> out;
        for (; n > 0; --n) out.push_back(expr());
        return out;
    }
    Box<Expr> optional() {
        if (peek() == '-' && (pos_ + 1 >= in_.size() || in_[pos_ + 1] == ' ' || in_[pos_ + 1] == '\n')) {
            word();
            return {};
        }
        return boxed(expr());
    }
    std::vector<Comprehension> comprehensions() {
        std::vector<Comprehension> out;
        for (uint64_t n = number(); n > 0; --n) {
            Expr target = expr();
            Expr iter = expr();
            std::vector<Expr> ifs = list(number());
            bool is_async = number() != 0;
            out.push_back(Comprehension{{}, {}, std::move(target), std::move(iter), std::move(ifs), is_async});
        }
        return out;
    }
    ParameterWithDefault with_default() {
        std::string name = text();
        ParameterWithDefault p{{}, {}, Parameter{{}, {}, make_identifier(name), {}}, {}};
        p.default_ = optional();
        return p;
    }
    std::optional<Parameter> star() {
        if (word() == "-") return std::nullopt;
        return Parameter{{}, {}, make_identifier(text()), {}};
    }
    Box<Parameters> parameters() {
        Parameters p{};
        uint64_t posonly = number();
        uint64_t args = number();
        for (uint64_t i = 0; i < posonly + args; ++i) (i < posonly ? p.posonlyargs : p.args).push_back(with_default());
        p.vararg = star();
        for (uint64_t n = number(); n > 0; --n) p.kwonlyargs.push_back(with_default());
        p.kwarg = star();
        bool empty = p.posonlyargs.empty() && p.args.empty() && !p.vararg && p.kwonlyargs.empty() && !p.kwarg;
        return empty ? Box<Parameters>() : Box<Parameters>(std::move(p));
    }
    std::vector<InterpolatedStringElement> elements() {
        std::vector<InterpolatedStringElement> out;
        for (uint64_t n = number(); n > 0; --n) {
            if (word() == "Lit") {
                out.push_back(InterpolatedStringLiteralElement{{}, {}, text()});
                continue;
            }
            InterpolatedElement field{{}, {}, boxed(expr()), std::nullopt, ConversionFlag::None, std::nullopt};
            auto conversion = static_cast<int>(std::stoi(std::string(word())));
            if (conversion >= 0) field.conversion = static_cast<ConversionFlag>(conversion);
            if (word() == "Spec") field.format_spec = InterpolatedStringFormatSpec{{}, {}, elements()};
            out.push_back(std::move(field));
        }
        return out;
    }

    std::string_view in_;
    size_t pos_ = 0;
};

}  // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    Reader reader(input);
    try {
        while (!reader.at_end()) {
            Expr tree = reader.expr();
            reader.end_record();
            auto printed = lumra::codegen::expression_to_source(tree);
            if (!printed) {
                std::cout << "DEEP 0\n";
                continue;
            }
            std::cout << "OK " << printed->size() << '\n' << *printed;
        }
    } catch (const std::exception& e) {
        std::cerr << "malformed input: " << e.what() << '\n';
        return 2;
    }
    return 0;
}
