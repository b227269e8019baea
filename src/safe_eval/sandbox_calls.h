// What the rewrite and the sandbox printer share: the shape of the calls they
// produce, so that the two cannot drift apart.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "pyexpr/ast.h"

namespace lumra::safe_eval {

// A range in the wrapped text moved onto the caller's text: the prefix comes
// off, saturating at 0.
inline pyexpr::TextRange reduced_range(pyexpr::TextRange range, std::uint64_t prefix_len) {
    const auto shift = [prefix_len](pyexpr::TextSize offset) {
        return offset.raw > prefix_len ? pyexpr::TextSize(static_cast<std::uint32_t>(offset.raw - prefix_len))
                                       : pyexpr::TextSize(0);
    };
    return pyexpr::TextRange(shift(range.start()), shift(range.end()));
}

// The conversion argument of a field: "a", "r" or "s", or empty for none
// (written as None).
constexpr std::string_view conversion_letter(pyexpr::ConversionFlag flag) {
    switch (flag) {
        case pyexpr::ConversionFlag::Ascii: return "a";
        case pyexpr::ConversionFlag::Repr: return "r";
        case pyexpr::ConversionFlag::Str: return "s";
        case pyexpr::ConversionFlag::None: break;
    }
    return {};
}

// Literal text that goes into a `str.format` template: braces are doubled so that
// the text can never introduce a replacement field of its own.
inline void append_format_literal(std::string& out, std::string_view text) {
    for (char c : text) {
        out.push_back(c);
        if (c == '{' || c == '}') out.push_back(c);
    }
}

// Whether a format spec holds replacement fields of its own.
inline bool spec_has_fields(const pyexpr::InterpolatedStringFormatSpec& spec) {
    for (const auto& element : spec.elements)
        if (element.is_interpolation()) return true;
    return false;
}

// The text of a format spec: as written when it has no fields; otherwise a
// `str.format` template, "{}" standing for each nested field.
inline std::string spec_text(const pyexpr::InterpolatedStringFormatSpec& spec, bool has_fields) {
    std::string text;
    for (const auto& element : spec.elements) {
        if (const auto* literal = std::get_if<pyexpr::InterpolatedStringLiteralElement>(&element)) {
            if (has_fields) {
                append_format_literal(text, literal->value);
            } else {
                text += literal->value;
            }
        } else {
            text += "{}";
        }
    }
    return text;
}

// The `str.format` template of an f-string: its literal text, "{}" standing
// for each replacement field.
inline std::string format_text(const pyexpr::FStringValue& value) {
    std::string text;
    for (const auto& part : value.parts()) {
        if (const auto* literal = std::get_if<pyexpr::StringLiteral>(&part)) {
            append_format_literal(text, literal->value);
            continue;
        }
        for (const auto& element : std::get<pyexpr::FString>(part).elements) {
            if (const auto* literal = std::get_if<pyexpr::InterpolatedStringLiteralElement>(&element)) {
                append_format_literal(text, literal->value);
            } else {
                text += "{}";
            }
        }
    }
    return text;
}

// The names every sandbox call refers to. Binding one of them inside the
// expression would hand the rewritten calls in that scope a value of the
// expression's choosing (a forged `context`, say) instead of the sandbox's own.
inline bool is_sandbox_name(std::string_view name) {
    static constexpr std::string_view kNames[] = {"context", "source",  "variable", "call",     "attribute",    "subscript",
                                                  "slice",   "assign",  "format",   "template", "interpolation"};
    for (auto reserved : kNames)
        if (name == reserved) return true;
    return false;
}

}  // namespace lumra::safe_eval
