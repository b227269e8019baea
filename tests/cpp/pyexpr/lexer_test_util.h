// Renders a lexer's whole token stream as one line of text, for table-driven tests.
#pragma once

#include <string>
#include <string_view>

#include "pyexpr/ast.h"
#include "pyexpr/lexer.h"

namespace lumra::pyexpr::testing {

// Each token as `Kind` plus, when present, its value in parentheses, then
// `@start..end`, then `/flags` when any string flag is set; tokens separated by
// spaces. Stops after EndOfFile (or 1000 tokens).
inline std::string render_value(const TokenValue& v) {
    std::string out;
    if (const auto* n = std::get_if<Name>(&v)) {
        out += n->view();
    } else if (const auto* i = std::get_if<IntValue>(&v)) {
        out += i->to_string();
    } else if (const auto* f = std::get_if<double>(&v)) {
        debug_write_float(out, *f);
    } else if (const auto* c = std::get_if<ComplexValue>(&v)) {
        debug_write_float(out, c->real);
        out += ',';
        debug_write_float(out, c->imag);
    } else if (const auto* s = std::get_if<StringTokenValue>(&v)) {
        debug_write_str(out, s->raw);
    } else if (const auto* m = std::get_if<InterpolatedMiddleValue>(&v)) {
        debug_write_str(out, m->text());
    }
    return out;
}

inline std::string render_current(Lexer& lexer) {
    std::string out(token_kind_name(lexer.current_kind()));
    std::string value = render_value(lexer.current_value());
    if (!value.empty()) out += "(" + value + ")";
    out += "@" + lexer.current_range().to_string();
    if (lexer.current_flags().bits != 0) out += "/" + std::to_string(lexer.current_flags().bits);
    return out;
}

inline std::string render_tokens(std::string_view source) {
    Lexer lexer(source);
    std::string out;
    for (int n = 0; n < 1000; ++n) {
        const TokenKind kind = lexer.next_token();
        if (!out.empty()) out += ' ';
        out += render_current(lexer);
        if (kind == TokenKind::EndOfFile) break;
    }
    return out;
}

inline std::string render_errors(std::string_view source) {
    Lexer lexer(source);
    for (int n = 0; n < 1000 && lexer.next_token() != TokenKind::EndOfFile; ++n) {
    }
    std::string out;
    for (const auto& e : lexer.errors()) {
        if (!out.empty()) out += "; ";
        out += e.error.message() + "@" + e.location.to_string();
    }
    return out;
}

}  // namespace lumra::pyexpr::testing
