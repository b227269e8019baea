// The sandbox printer: a print hook that writes sandbox calls in place of the
// constructs the rewrite replaces. Each form below mirrors one rewrite rule and
// prints what the generator prints for the node that rule builds: the three
// leading arguments, then the operands at the level of call arguments.
#include "safe_eval/sandbox_print.h"

#include <algorithm>
#include <charconv>

#include <fmt/format.h>

#include "pycodegen/generator.h"
#include "safe_eval/compile_limits.h"
#include "safe_eval/messages.h"
#include "safe_eval/sandbox_calls.h"

namespace lumra::safe_eval {

using codegen::Generator;
using pyexpr::Expr;
using pyexpr::ExprKind;
using pyexpr::InterpolatedElement;
using pyexpr::InterpolatedStringLiteralElement;

namespace {

class SandboxPrinter final : public codegen::PrintHook {
public:
    SandboxPrinter(std::vector<const Expr*> kept, std::uint64_t prefix_len)
        : kept_(std::move(kept)), prefix_len_(prefix_len) {
        std::sort(kept_.begin(), kept_.end());
    }

    bool print(Generator& g, const Expr& e, uint8_t /*level*/) override {
        switch (e.kind()) {
            case ExprKind::Name: {
                if (!kept_.empty() && std::binary_search(kept_.begin(), kept_.end(), &e)) return false;
                const auto& n = e.as<pyexpr::ExprName>();
                open(g, "variable(", n.range);
                str_argument(g, n.id.view());
                g.write(')');
                return true;
            }
            case ExprKind::Named: {
                const auto& n = e.as<pyexpr::ExprNamed>();
                open(g, "assign(", n.range);
                str_argument(g, n.target->as<pyexpr::ExprName>().id.view());
                argument(g, n.value.get());
                g.write(')');
                return true;
            }
            case ExprKind::Call: {
                const auto& n = e.as<pyexpr::ExprCall>();
                open(g, "call(", n.range);
                argument(g, n.func.get());
                if (!n.arguments.args.empty() || !n.arguments.keywords.empty()) {
                    g.write(", ");
                    codegen::unparse_arguments(g, n.arguments);
                }
                g.write(')');
                return true;
            }
            case ExprKind::Attribute: {
                const auto& n = e.as<pyexpr::ExprAttribute>();
                open(g, "attribute(", n.range);
                argument(g, n.value.get());
                str_argument(g, n.attr.id.view());
                g.write(')');
                return true;
            }
            case ExprKind::Subscript: {
                const auto& n = e.as<pyexpr::ExprSubscript>();
                open(g, "subscript(", n.range);
                argument(g, n.value.get());
                argument(g, n.slice.get());
                g.write(')');
                return true;
            }
            case ExprKind::Slice: {
                const auto& n = e.as<pyexpr::ExprSlice>();
                open(g, "slice(", n.range);
                argument(g, n.lower.get());
                argument(g, n.upper.get());
                argument(g, n.step.get());
                g.write(')');
                return true;
            }
            case ExprKind::FString: fstring(g, e.as<pyexpr::ExprFString>()); return true;
            case ExprKind::TString: tstring(g, e.as<pyexpr::ExprTString>()); return true;
            default: return false;
        }
    }

private:
    // `name(context, source, (start, end)`: the call up to its own arguments.
    void open(Generator& g, std::string_view name_and_paren, pyexpr::TextRange range) const {
        const pyexpr::TextRange red = reduced_range(range, prefix_len_);
        char digits[48];
        char* end = std::to_chars(digits, digits + 20, red.start().raw).ptr;
        *end++ = ',';
        *end++ = ' ';
        end = std::to_chars(end, end + 20, red.end().raw).ptr;
        g.write(name_and_paren);
        g.write("context, source, (");
        g.write(std::string_view(digits, static_cast<std::size_t>(end - digits)));
        g.write(')');
    }

    // ", expr", None standing in for an absent operand.
    static void argument(Generator& g, const Expr* value) {
        g.write(", ");
        bare_argument(g, value);
    }
    static void bare_argument(Generator& g, const Expr* value) {
        if (value != nullptr) {
            codegen::unparse_expr(g, *value, codegen::kItemLevel);
        } else {
            g.write("None");
        }
    }
    static void str_argument(Generator& g, std::string_view text) {
        g.write(", ");
        codegen::write_str_literal(g, text);
    }
    static void conversion_argument(Generator& g, pyexpr::ConversionFlag flag) {
        const std::string_view letter = conversion_letter(flag);
        if (letter.empty()) {
            g.write(", None");
        } else {
            str_argument(g, letter);
        }
    }

    // A tuple built by the rewrite is one level deeper than its items; the
    // depth guard sees the same nesting as when the built tree is printed.
    template <class Items>
    static void tuple_argument(Generator& g, Items&& items) {
        g.write(", ");
        if (!g.enter()) return;
        g.write('(');
        items();
        g.write(')');
        g.leave();
    }

    // f"...": format(..., 'text', (value, conversion, spec), ...).
    void fstring(Generator& g, const pyexpr::ExprFString& n) const {
        open(g, "format(", n.range);
        str_argument(g, format_text(n.value));
        for (const auto& part : n.value.parts()) {
            const auto* fstring = std::get_if<pyexpr::FString>(&part);
            if (fstring == nullptr) continue;
            for (const auto& element : fstring->elements) {
                const auto* field = std::get_if<InterpolatedElement>(&element);
                if (field == nullptr) continue;
                tuple_argument(g, [&] {
                    bare_argument(g, field->expression.get());
                    conversion_argument(g, field->conversion);
                    fstring_spec(g, *field);
                });
            }
        }
        g.write(')');
    }

    // The spec as text alone, or ('text', nested values...).
    static void fstring_spec(Generator& g, const InterpolatedElement& field) {
        if (!field.format_spec) {
            g.write(", ''");
            return;
        }
        const auto& spec = *field.format_spec;
        const bool has_fields = spec_has_fields(spec);
        if (!has_fields) {
            str_argument(g, spec_text(spec, false));
            return;
        }
        tuple_argument(g, [&] {
            codegen::write_str_literal(g, spec_text(spec, true));
            for (const auto& element : spec.elements) {
                if (const auto* nested = std::get_if<InterpolatedElement>(&element)) argument(g, nested->expression.get());
            }
        });
    }

    // t"...": template(..., 'literal', interpolation(..., value, '', conversion, spec), ...).
    void tstring(Generator& g, const pyexpr::ExprTString& n) const {
        open(g, "template(", n.range);
        for (const auto& part : n.value.parts()) {
            for (const auto& element : part.elements) {
                if (const auto* literal = std::get_if<InterpolatedStringLiteralElement>(&element)) {
                    str_argument(g, literal->value);
                    continue;
                }
                const auto& field = std::get<InterpolatedElement>(element);
                g.write(", ");
                if (!g.enter()) return;
                open(g, "interpolation(", field.range);
                argument(g, field.expression.get());
                g.write(", ''");
                conversion_argument(g, field.conversion);
                tstring_spec(g, field);
                g.write(')');
                g.leave();
            }
        }
        g.write(')');
    }

    // The spec as text alone, or 'text'.format(nested values...).
    static void tstring_spec(Generator& g, const InterpolatedElement& field) {
        if (!field.format_spec) {
            g.write(", ''");
            return;
        }
        const auto& spec = *field.format_spec;
        const bool has_fields = spec_has_fields(spec);
        str_argument(g, spec_text(spec, has_fields));
        if (!has_fields) return;
        std::vector<const InterpolatedElement*> nested;
        for (const auto& element : spec.elements) {
            if (const auto* inner = std::get_if<InterpolatedElement>(&element)) nested.push_back(inner);
        }
        // The call is one level deeper than the spec text it is made of.
        if (!g.enter()) return;
        g.write(".format(");
        const Expr* lone = nested.size() == 1 ? nested.front()->expression.get() : nullptr;
        if (const auto* generator = lone != nullptr ? lone->as_if<pyexpr::ExprGenerator>() : nullptr) {
            // A lone generator argument shares the call's parentheses.
            codegen::unparse_expr(g, *generator->elt, codegen::kItemLevel);
            codegen::unparse_comprehension(g, generator->generators);
        } else {
            bool first = true;
            for (const auto* inner : nested) {
                if (!first) g.write(", ");
                first = false;
                bare_argument(g, inner->expression.get());
            }
        }
        g.write(')');
        g.leave();
    }

    std::vector<const Expr*> kept_;
    std::uint64_t prefix_len_;
};

}  // namespace

Result<std::string> print_sandboxed(const Expr& tree, std::string_view wrapped, std::vector<const Expr*> kept_names,
                                    std::uint64_t prefix_len, std::size_t size_hint) {
    SandboxPrinter printer(std::move(kept_names), prefix_len);
    Generator generator("    ");
    generator.set_hook(&printer);
    // Names kept bare are spelled from it where their stored form is a keyword.
    // The f-strings whose debug fields it would also serve are all sandbox calls.
    generator.set_source(wrapped);
    generator.reserve_more(size_hint);
    codegen::unparse_expr(generator, tree, 0);
    const auto too_deep = [] { return Result<std::string>::failure(std::string(msg::kNestedTooDeeply)); };
    if (generator.too_deep()) return too_deep();
    if (const std::string& name = generator.unwritable_name(); !name.empty()) {
        return Result<std::string>::failure(fmt::format(fmt::runtime(msg::kUnwritableName), name));
    }
    if (too_deep_for_cpython(tree, generator.text(), generator.max_depth())) return too_deep();
    return generator.take();
}

}  // namespace lumra::safe_eval
