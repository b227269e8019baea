#include "tree_support.h"

namespace lumra::safe_eval::testing {

namespace {

void print_list(std::string& out, const std::vector<Expr>& items) {
    for (std::size_t i = 0; i < items.size(); ++i) {
        if (i) out += ", ";
        print(out, items[i]);
    }
}

void print_clauses(std::string& out, const std::vector<Comprehension>& gens) {
    for (const auto& g : gens) {
        out += g.is_async ? " async for " : " for ";
        print(out, g.target);
        out += " in ";
        print(out, g.iter);
        for (const auto& c : g.ifs) {
            out += " if ";
            print(out, c);
        }
    }
}

void print_param(std::string& out, const ParameterWithDefault& p) {
    out += p.parameter.name.id.view();
    if (p.default_) {
        out += "=";
        print(out, *p.default_);
    }
}

}  // namespace

void print(std::string& out, const Expr& e) {
    switch (e.kind()) {
        case ExprKind::Name: out += e.as<ExprName>().id.view(); return;
        case ExprKind::StringLiteral:
            out += "'";
            out += e.as<ExprStringLiteral>().value.to_str();
            out += "'";
            return;
        case ExprKind::NumberLiteral: out += std::get<IntValue>(e.as<ExprNumberLiteral>().value).to_string(); return;
        case ExprKind::NoneLiteral: out += "None"; return;
        case ExprKind::BinOp: {
            const auto& n = e.as<ExprBinOp>();
            out += "(";
            print(out, *n.left);
            out += " ";
            out += source_text(n.op);
            out += " ";
            print(out, *n.right);
            out += ")";
            return;
        }
        case ExprKind::Tuple:
            out += "(";
            print_list(out, e.as<ExprTuple>().elts);
            if (e.as<ExprTuple>().elts.size() == 1) out += ",";
            out += ")";
            return;
        case ExprKind::List:
            out += "[";
            print_list(out, e.as<ExprList>().elts);
            out += "]";
            return;
        case ExprKind::Starred:
            out += "*";
            print(out, *e.as<ExprStarred>().value);
            return;
        case ExprKind::Attribute:
            print(out, *e.as<ExprAttribute>().value);
            out += ".";
            out += e.as<ExprAttribute>().attr.id.view();
            return;
        case ExprKind::Call: {
            const auto& n = e.as<ExprCall>();
            print(out, *n.func);
            out += "(";
            print_list(out, n.arguments.args);
            for (std::size_t i = 0; i < n.arguments.keywords.size(); ++i) {
                const auto& kw = n.arguments.keywords[i];
                if (i || !n.arguments.args.empty()) out += ", ";
                if (kw.arg) {
                    out += kw.arg->id.view();
                    out += "=";
                } else {
                    out += "**";
                }
                print(out, kw.value);
            }
            out += ")";
            return;
        }
        case ExprKind::Named:
            out += "(";
            print(out, *e.as<ExprNamed>().target);
            out += " := ";
            print(out, *e.as<ExprNamed>().value);
            out += ")";
            return;
        case ExprKind::Lambda: {
            const auto& n = e.as<ExprLambda>();
            out += "(lambda";
            if (n.parameters) {
                const auto& p = *n.parameters;
                std::string sep = " ";
                for (const auto* l : {&p.posonlyargs, &p.args}) {
                    for (const auto& pd : *l) {
                        out += sep;
                        print_param(out, pd);
                        sep = ", ";
                    }
                }
                if (p.vararg) {
                    out += sep + "*";
                    out += p.vararg->name.id.view();
                    sep = ", ";
                }
                for (const auto& pd : p.kwonlyargs) {
                    out += sep;
                    print_param(out, pd);
                    sep = ", ";
                }
                if (p.kwarg) {
                    out += sep + "**";
                    out += p.kwarg->name.id.view();
                }
            }
            out += ": ";
            print(out, *n.body);
            out += ")";
            return;
        }
        case ExprKind::ListComp:
            out += "[";
            print(out, *e.as<ExprListComp>().elt);
            print_clauses(out, e.as<ExprListComp>().generators);
            out += "]";
            return;
        case ExprKind::DictComp:
            out += "{";
            print(out, *e.as<ExprDictComp>().key);
            out += ": ";
            print(out, *e.as<ExprDictComp>().value);
            print_clauses(out, e.as<ExprDictComp>().generators);
            out += "}";
            return;
        default:
            out += "<";
            out += expr_kind_name(e.kind());
            out += ">";
            return;
    }
}

}  // namespace lumra::safe_eval::testing
