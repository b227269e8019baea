// Sandboxing rewrite rules and binding scopes.
//
// Every replaced construct becomes `fn(context, source, (start, end), ...)`, where
// start..end is its byte range in the caller's text (the wrapped range less the
// prefix, saturating at 0). Children are rewritten before their parent is replaced,
// so rewrites nest: `a.b(c)` becomes a `call` of an `attribute` of a `variable`.
#include "safe_eval/rewrite.h"

#include <fmt/format.h>

#include "safe_eval/messages.h"
#include "safe_eval/sandbox_calls.h"

namespace lumra::safe_eval {

using pyexpr::Box;
using pyexpr::Comprehension;
using pyexpr::Expr;
using pyexpr::ExprKind;
using pyexpr::InterpolatedElement;
using pyexpr::InterpolatedStringElement;
using pyexpr::InterpolatedStringFormatSpec;
using pyexpr::InterpolatedStringLiteralElement;
using pyexpr::Keyword;
using pyexpr::TextRange;
using pyexpr::TextSize;

namespace {

std::size_t binder_index(RewriteState::Binder binder) { return static_cast<std::size_t>(binder); }

}  // namespace

bool RewriteState::is_bound_by(std::string_view name, Binder binder) const {
    if (bound.empty()) return false;
    const auto found = bound_counts.find(name);
    if (found == bound_counts.end()) return false;
    const auto& counts = found->second;
    if (binder == Binder::Comprehension && counts[binder_index(Binder::PendingComprehension)] > 0) return true;
    return counts[binder_index(binder)] > 0;
}

bool RewriteState::is_bound(std::string_view name) const {
    if (bound.empty()) return false;
    const auto found = bound_counts.find(name);
    if (found == bound_counts.end()) return false;
    const auto& counts = found->second;
    return counts[binder_index(Binder::Comprehension)] > 0 || counts[binder_index(Binder::Lambda)] > 0;
}

void RewriteState::bind(std::string_view name, Binder binder) {
    bound.push_back({name, binder});
    ++bound_counts[name][binder_index(binder)];
}

void RewriteState::unbind_to(std::size_t mark) {
    while (bound.size() > mark) {
        const Bound& last = bound.back();
        const auto found = bound_counts.find(last.name);
        auto& counts = found->second;
        --counts[binder_index(last.binder)];
        if (counts[0] == 0 && counts[1] == 0 && counts[2] == 0) bound_counts.erase(found);
        bound.pop_back();
    }
}

void RewriteState::activate_pending(std::size_t mark) {
    for (std::size_t i = mark; i < bound.size(); ++i) {
        if (bound[i].binder != Binder::PendingComprehension) continue;
        auto& counts = bound_counts[bound[i].name];
        --counts[binder_index(Binder::PendingComprehension)];
        ++counts[binder_index(Binder::Comprehension)];
        bound[i].binder = Binder::Comprehension;
    }
}

namespace {

class Rewriter {
public:
    explicit Rewriter(RewriteState& state) : st_(state) {}

    bool visit(Expr& e) {
        if (st_.depth >= kMaxRewriteDepth) return fail(std::string(msg::kNestedTooDeeply));
        ++st_.depth;
        const bool ok = dispatch(e);
        --st_.depth;
        return ok;
    }

private:
    // ----- errors

    void set_error(std::string message) { st_.error = std::move(message); }
    bool fail(std::string message) {
        st_.failure = std::move(message);
        return false;
    }

    // ----- building sandbox calls

    TextRange reduced(TextRange r) const { return reduced_range(r, st_.prefix_len); }

    // `context`, `source` and `(start, end)`, with room for `extra` more arguments.
    // Nodes are built in place: moving a tree node is not free.
    static std::vector<Expr> leading_arguments(TextRange reduced, std::size_t extra) {
        std::vector<Expr> args;
        args.reserve(3 + extra);
        args.emplace_back(pyexpr::ExprName{{}, reduced, pyexpr::Name("context"), pyexpr::ExprContext::Load});
        args.emplace_back(pyexpr::ExprName{{}, reduced, pyexpr::Name("source"), pyexpr::ExprContext::Load});
        std::vector<Expr> position;
        position.reserve(2);
        position.emplace_back(int_literal(reduced.start().raw, reduced));
        position.emplace_back(int_literal(reduced.end().raw, reduced));
        args.emplace_back(pyexpr::ExprTuple{{}, reduced, std::move(position), pyexpr::ExprContext::Load, true});
        return args;
    }

    static pyexpr::ExprNumberLiteral int_literal(std::uint64_t value, TextRange range) {
        return pyexpr::ExprNumberLiteral{{}, range, pyexpr::NumberValue(pyexpr::IntValue::small(value))};
    }

    static pyexpr::ExprStringLiteral string_literal(std::string text, TextRange range) {
        return pyexpr::ExprStringLiteral{
            {}, range, pyexpr::StringLiteralValue{pyexpr::StringLiteral{range, {}, std::move(text), {}}}};
    }

    // Appends a string literal built where it stands: a finished literal moved
    // into the list would move its text (out of line) several times over.
    static void append_string_literal(std::vector<Expr>& out, std::string_view text, TextRange range) {
        auto& node = out.emplace_back().node.emplace<pyexpr::ExprStringLiteral>();
        node.range = range;
        auto& literal = std::get<pyexpr::StringLiteral>(node.value.inner);
        literal.range = range;
        literal.value.assign(text.data(), text.size());
    }

    // Replaces `e` by `function(args..., keywords...)`.
    static void replace_by_sandbox_call(Expr& e, std::string_view function, std::vector<Expr> args,
                                        std::vector<Keyword> keywords, TextRange reduced) {
        auto func = Box<Expr>::make(pyexpr::ExprName{{}, reduced, pyexpr::Name(function), pyexpr::ExprContext::Load});
        // Built in place: the old node's children were moved out into `args` already.
        auto& call = e.node.emplace<pyexpr::ExprCall>();
        call.range = reduced;
        call.func = std::move(func);
        call.arguments.range = reduced;
        call.arguments.args = std::move(args);
        call.arguments.keywords = std::move(keywords);
    }

    static Expr conversion_literal(pyexpr::ConversionFlag flag, TextRange range) {
        const std::string_view letter = conversion_letter(flag);
        return letter.empty() ? pyexpr::make_none_literal(range) : string_literal(std::string(letter), range);
    }

    // ----- the walk

    bool visit_optional(Box<Expr>& child) { return !child || visit(*child); }
    // The expression of an f-string or t-string field, or of one nested in its spec.
    bool visit_field(Box<Expr>& expression) {
        if (expression && expression->is<pyexpr::ExprStarred>() && !st_.starred_field) {
            st_.starred_field = expression->range();
        }
        return visit_optional(expression);
    }
    bool visit_all(std::vector<Expr>& list) {
        for (auto& x : list)
            if (!visit(x)) return false;
        return true;
    }

    bool dispatch(Expr& e) {
        switch (e.kind()) {
            case ExprKind::BoolOp: return visit_all(e.as<pyexpr::ExprBoolOp>().values);
            case ExprKind::Named: return named(e);
            case ExprKind::BinOp: {
                auto& n = e.as<pyexpr::ExprBinOp>();
                return visit_optional(n.left) && visit_optional(n.right);
            }
            case ExprKind::UnaryOp: return visit_optional(e.as<pyexpr::ExprUnaryOp>().operand);
            case ExprKind::Lambda: return lambda(e.as<pyexpr::ExprLambda>());
            case ExprKind::If: {
                auto& n = e.as<pyexpr::ExprIf>();
                return visit_optional(n.test) && visit_optional(n.body) && visit_optional(n.orelse);
            }
            case ExprKind::Dict:
                for (auto& item : e.as<pyexpr::ExprDict>().items) {
                    if (!visit_optional(item.key) || !visit(item.value)) return false;
                }
                return true;
            case ExprKind::Set: return visit_all(e.as<pyexpr::ExprSet>().elts);
            case ExprKind::List: return visit_all(e.as<pyexpr::ExprList>().elts);
            case ExprKind::Tuple: return visit_all(e.as<pyexpr::ExprTuple>().elts);
            case ExprKind::ListComp: {
                auto& n = e.as<pyexpr::ExprListComp>();
                return comprehension(n.generators, [&] { return visit_optional(n.elt); });
            }
            case ExprKind::SetComp: {
                auto& n = e.as<pyexpr::ExprSetComp>();
                return comprehension(n.generators, [&] { return visit_optional(n.elt); });
            }
            case ExprKind::Generator: {
                auto& n = e.as<pyexpr::ExprGenerator>();
                return comprehension(n.generators, [&] { return visit_optional(n.elt); });
            }
            case ExprKind::DictComp: {
                auto& n = e.as<pyexpr::ExprDictComp>();
                return comprehension(n.generators, [&] { return visit_optional(n.key) && visit_optional(n.value); });
            }
            case ExprKind::Await:
            case ExprKind::Yield:
            case ExprKind::YieldFrom:
            case ExprKind::IpyEscapeCommand:
                return fail(fmt::format(fmt::runtime(msg::kUnsupportedExpression), pyexpr::debug_string(e)));
            case ExprKind::Compare: {
                auto& n = e.as<pyexpr::ExprCompare>();
                return visit_optional(n.left) && visit_all(n.comparators);
            }
            case ExprKind::Call: return call(e);
            case ExprKind::FString: return fstring(e);
            case ExprKind::TString: return tstring(e);
            case ExprKind::StringLiteral:
            case ExprKind::BytesLiteral:
            case ExprKind::NumberLiteral:
            case ExprKind::BooleanLiteral:
            case ExprKind::NoneLiteral:
            case ExprKind::EllipsisLiteral: return true;
            case ExprKind::Attribute: return attribute(e);
            case ExprKind::Subscript: return subscript(e);
            case ExprKind::Starred: return visit_optional(e.as<pyexpr::ExprStarred>().value);
            case ExprKind::Name: return name(e);
            case ExprKind::Slice: return slice(e);
        }
        return true;
    }

    bool name(Expr& e) {
        auto& n = e.as<pyexpr::ExprName>();
        if (st_.is_bound(n.id.view())) {
            if (!st_.build_tree) st_.kept_names.push_back(&e);
            return true;
        }
        if (st_.record_names) st_.used_names.push_back({n.id, n.range.start().raw, n.range.end().raw});
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 1);
        append_string_literal(args, n.id.view(), n.range);
        replace_by_sandbox_call(e, "variable", std::move(args), {}, red);
        return true;
    }

    bool named(Expr& e) {
        auto& n = e.as<pyexpr::ExprNamed>();
        if (!visit_optional(n.value)) return false;
        const auto* target = n.target ? n.target->as_if<pyexpr::ExprName>() : nullptr;
        if (target == nullptr) {
            set_error(std::string(msg::kNamedTargetNotName));
            return true;
        }
        const std::string_view id = target->id.view();
        if (st_.is_bound_by(id, RewriteState::Binder::Comprehension)) {
            set_error(fmt::format(fmt::runtime(msg::kRebindComprehensionVariable), id));
            return true;
        }
        if (st_.is_bound_by(id, RewriteState::Binder::Lambda)) {
            set_error(fmt::format(fmt::runtime(msg::kRebindLambdaParameter), id));
            return true;
        }
        if (st_.record_names) {
            st_.assigned_names.push_back({target->id, target->range.start().raw, target->range.end().raw});
        }
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 2);
        append_string_literal(args, id, n.range);
        args.push_back(std::move(*n.value));
        replace_by_sandbox_call(e, "assign", std::move(args), {}, red);
        return true;
    }

    bool lambda(pyexpr::ExprLambda& n) {
        const std::size_t mark = st_.bound.size();
        if (n.parameters) {
            auto& p = *n.parameters;
            // Defaults are evaluated where the lambda is written, outside its scope.
            for (auto* list : {&p.posonlyargs, &p.args, &p.kwonlyargs}) {
                for (auto& pd : *list)
                    if (!visit_optional(pd.default_)) return false;
            }
            auto bind = [&](const pyexpr::Parameter& param) {
                const std::string_view name = param.name.id.view();
                if (is_sandbox_name(name)) set_error(fmt::format(fmt::runtime(msg::kBindsSandboxName), name));
                st_.bind(name, RewriteState::Binder::Lambda);
            };
            for (auto& pd : p.posonlyargs) bind(pd.parameter);
            for (auto& pd : p.args) bind(pd.parameter);
            if (p.vararg) bind(*p.vararg);
            for (auto& pd : p.kwonlyargs) bind(pd.parameter);
            if (p.kwarg) bind(*p.kwarg);
        }
        const bool ok = visit_optional(n.body);
        st_.unbind_to(mark);
        return ok;
    }

    // The names a comprehension target binds: names and tuples of them only.
    bool collect_targets(const Expr& target, std::vector<std::string_view>& names) {
        if (const auto* name = target.as_if<pyexpr::ExprName>()) {
            names.push_back(name->id.view());
            if (!st_.build_tree) st_.kept_names.push_back(&target);
            return true;
        }
        if (const auto* tuple = target.as_if<pyexpr::ExprTuple>()) {
            if (st_.depth >= kMaxRewriteDepth) return fail(std::string(msg::kNestedTooDeeply));
            ++st_.depth;
            bool ok = true;
            for (const auto& elt : tuple->elts) {
                if (!(ok = collect_targets(elt, names))) break;
            }
            --st_.depth;
            return ok;
        }
        return fail(fmt::format(fmt::runtime(msg::kUnsupportedComprehensionTarget), pyexpr::debug_string(target)));
    }

    template <class VisitElement>
    bool comprehension(std::vector<Comprehension>& generators, VisitElement&& visit_element) {
        for (const auto& clause : generators) {
            if (clause.is_async) {
                set_error(std::string(msg::kAsyncComprehension));
                return true;
            }
        }
        std::vector<std::string_view> names;
        for (const auto& clause : generators)
            if (!collect_targets(clause.target, names)) return false;
        for (auto name : names)
            if (is_sandbox_name(name)) set_error(fmt::format(fmt::runtime(msg::kBindsSandboxName), name));
        if (generators.empty()) return visit_element();

        // Python evaluates the first iterable in the enclosing scope, before any
        // target is bound: in `[x for x in x]` the last `x` is the outer one.
        const std::size_t mark = st_.bound.size();
        for (auto name : names) st_.bind(name, RewriteState::Binder::PendingComprehension);
        bool ok = visit(generators.front().iter);
        st_.activate_pending(mark);
        for (std::size_t i = 0; ok && i < generators.size(); ++i) {
            auto& clause = generators[i];
            if (i > 0) ok = visit(clause.iter);
            if (ok) ok = visit_all(clause.ifs);
        }
        if (ok) ok = visit_element();
        st_.unbind_to(mark);
        return ok;
    }

    bool call(Expr& e) {
        auto& n = e.as<pyexpr::ExprCall>();
        if (!visit_optional(n.func) || !visit_all(n.arguments.args)) return false;
        for (auto& kw : n.arguments.keywords)
            if (!visit(kw.value)) return false;
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 1 + n.arguments.args.size());
        args.push_back(std::move(*n.func));
        for (auto& arg : n.arguments.args) args.push_back(std::move(arg));
        auto keywords = std::move(n.arguments.keywords);
        replace_by_sandbox_call(e, "call", std::move(args), std::move(keywords), red);
        return true;
    }

    bool attribute(Expr& e) {
        auto& n = e.as<pyexpr::ExprAttribute>();
        if (!visit_optional(n.value)) return false;
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 2);
        args.push_back(std::move(*n.value));
        append_string_literal(args, n.attr.id.view(), n.attr.range);
        replace_by_sandbox_call(e, "attribute", std::move(args), {}, red);
        return true;
    }

    bool subscript(Expr& e) {
        auto& n = e.as<pyexpr::ExprSubscript>();
        if (!visit_optional(n.value) || !visit_optional(n.slice)) return false;
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 2);
        args.push_back(std::move(*n.value));
        args.push_back(std::move(*n.slice));
        replace_by_sandbox_call(e, "subscript", std::move(args), {}, red);
        return true;
    }

    bool slice(Expr& e) {
        auto& n = e.as<pyexpr::ExprSlice>();
        if (!visit_optional(n.lower) || !visit_optional(n.upper) || !visit_optional(n.step)) return false;
        if (!st_.build_tree) return true;
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 3);
        for (auto* part : {&n.lower, &n.upper, &n.step})
            args.push_back(*part ? part->take() : pyexpr::make_none_literal(n.range));
        replace_by_sandbox_call(e, "slice", std::move(args), {}, red);
        return true;
    }

    // The spec of an f-string field: its text alone, or (text, nested values...)
    // when it holds replacement fields of its own. `method_call` builds the t-string
    // form instead: text.format(nested values...).
    bool format_spec(InterpolatedStringFormatSpec& spec, bool method_call, Expr& out) {
        const bool has_fields = spec_has_fields(spec);
        std::string text = spec_text(spec, has_fields);
        std::vector<Expr> values;
        if (has_fields && !method_call) values.emplace_back();  // room for the text, filled below
        for (auto& element : spec.elements) {
            // A nested field contributes its value only: its own conversion and
            // spec are not carried.
            auto* field_ptr = std::get_if<InterpolatedElement>(&element);
            if (field_ptr == nullptr) continue;
            auto& field = *field_ptr;
            if (!visit_field(field.expression)) return false;
            values.push_back(field.expression ? std::move(*field.expression) : pyexpr::make_none_literal(field.range));
        }
        if (!has_fields) {
            out = string_literal(std::move(text), spec.range);
        } else if (method_call) {
            out = pyexpr::make_call(pyexpr::make_attribute(string_literal(std::move(text), spec.range),
                                                           "format", spec.range),
                                    std::move(values), {}, spec.range);
        } else {
            values.front() = string_literal(std::move(text), spec.range);
            out = pyexpr::make_tuple(std::move(values), spec.range, /*parenthesized=*/false);
        }
        return true;
    }

    bool spec_or_empty(InterpolatedElement& field, bool method_call, Expr& out) {
        if (!field.format_spec) {
            out = string_literal(std::string(), field.range);
            return true;
        }
        return format_spec(*field.format_spec, method_call, out);
    }

    // The check-only walk of an f-string's or t-string's fields: each field's
    // expression, then the fields nested in its spec, as the rewrite visits them.
    bool visit_fields(std::vector<InterpolatedStringElement>& elements) {
        for (auto& element : elements) {
            auto* field = std::get_if<InterpolatedElement>(&element);
            if (field == nullptr) continue;
            if (!visit_field(field->expression)) return false;
            if (field->format_spec) {
                for (auto& nested : field->format_spec->elements) {
                    auto* inner = std::get_if<InterpolatedElement>(&nested);
                    if (inner != nullptr && !visit_field(inner->expression)) return false;
                }
            }
        }
        return true;
    }

    bool fstring(Expr& e) {
        auto& n = e.as<pyexpr::ExprFString>();
        if (!st_.build_tree) {
            for (auto& part : n.value.parts()) {
                auto* fstring = std::get_if<pyexpr::FString>(&part);
                if (fstring != nullptr && !visit_fields(fstring->elements)) return false;
            }
            return true;
        }
        std::string text = format_text(n.value);
        std::vector<Expr> fields;
        for (auto& part : n.value.parts()) {
            auto* fstring = std::get_if<pyexpr::FString>(&part);
            if (fstring == nullptr) continue;
            for (auto& element : fstring->elements) {
                auto* field_ptr = std::get_if<InterpolatedElement>(&element);
                if (field_ptr == nullptr) continue;
                auto& field = *field_ptr;
                if (!visit_field(field.expression)) return false;
                std::vector<Expr> triple;
                triple.reserve(3);
                triple.push_back(field.expression ? std::move(*field.expression) : pyexpr::make_none_literal(field.range));
                triple.push_back(conversion_literal(field.conversion, field.range));
                triple.emplace_back();
                if (!spec_or_empty(field, /*method_call=*/false, triple.back())) return false;
                fields.push_back(pyexpr::make_tuple(std::move(triple), field.range, /*parenthesized=*/false));
            }
        }
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, 1 + fields.size());
        args.emplace_back(string_literal(std::move(text), n.range));
        for (auto& f : fields) args.push_back(std::move(f));
        replace_by_sandbox_call(e, "format", std::move(args), {}, red);
        return true;
    }

    bool tstring(Expr& e) {
        auto& n = e.as<pyexpr::ExprTString>();
        if (!st_.build_tree) {
            for (auto& part : n.value.parts())
                if (!visit_fields(part.elements)) return false;
            return true;
        }
        std::vector<Expr> items;
        for (auto& part : n.value.parts()) {
            for (auto& element : part.elements) {
                if (const auto* literal = std::get_if<InterpolatedStringLiteralElement>(&element)) {
                    items.emplace_back(string_literal(literal->value, literal->range));
                    continue;
                }
                auto& field = std::get<InterpolatedElement>(element);
                if (!visit_field(field.expression)) return false;
                const TextRange red = reduced(field.range);
                auto args = leading_arguments(red, 4);
                args.push_back(field.expression ? std::move(*field.expression) : pyexpr::make_none_literal(field.range));
                args.emplace_back(string_literal(std::string(), field.range));
                args.push_back(conversion_literal(field.conversion, field.range));
                args.emplace_back();
                if (!spec_or_empty(field, /*method_call=*/true, args.back())) return false;
                items.emplace_back();
                replace_by_sandbox_call(items.back(), "interpolation", std::move(args), {}, red);
            }
        }
        const TextRange red = reduced(n.range);
        auto args = leading_arguments(red, items.size());
        for (auto& item : items) args.push_back(std::move(item));
        replace_by_sandbox_call(e, "template", std::move(args), {}, red);
        return true;
    }

    RewriteState& st_;
};

}  // namespace

bool visit_expr(RewriteState& state, Expr& expr) { return Rewriter(state).visit(expr); }

}  // namespace lumra::safe_eval
