// Parses expressions and prints them back, for the round-trip tests that use
// CPython's own parser as the judge.
//
// Input (stdin): expression texts separated by NUL bytes. Output (stdout), one
// record per input: "STATUS LENGTH\n" followed by LENGTH bytes, where STATUS is
//   OK        the printed text; printing it and parsing it again with our own
//             parser gave the same text again
//   UNSTABLE  the reprint differed: the first and second printing joined by NUL
//   PARSE     our parser refused the input (the error message)
//   REPARSE   our parser refused our own printed text (text NUL message)
//   DEEP      the tree was too deeply nested to print
// A text that does not parse alone is parsed again as "(\n" text "\n)", the
// form the sandbox rewriter gives the parser.
#include <iostream>
#include <iterator>
#include <string>

#include "pycodegen/generator.h"
#include "pyexpr/parser.h"

namespace {

using lumra::pyexpr::ExpressionResult;
using lumra::pyexpr::parse_python_expression;

void emit(std::string_view status, std::string_view body) {
    std::cout << status << ' ' << body.size() << '\n';
    std::cout.write(body.data(), static_cast<std::streamsize>(body.size()));
}

// The parse of a text, and the text that was parsed (the tree's ranges point into it).
struct Parsed {
    std::string source;
    ExpressionResult result;
};

Parsed parse_either(const std::string& text) {
    Parsed alone{text, parse_python_expression(text)};
    if (alone.result.ok()) return alone;
    std::string wrapped = "(\n" + text + "\n)";
    ExpressionResult result = parse_python_expression(wrapped);
    if (!result.ok()) return alone;
    return Parsed{std::move(wrapped), std::move(result)};
}

void process(const std::string& text) {
    Parsed parsed = parse_either(text);
    if (!parsed.result.ok()) {
        emit("PARSE", parsed.result.error().to_string());
        return;
    }
    auto printed = lumra::codegen::expression_to_source(parsed.result.expr(), parsed.source);
    if (!printed) {
        emit("DEEP", "");
        return;
    }
    Parsed again = parse_either(*printed);
    if (!again.result.ok()) {
        emit("REPARSE", *printed + '\0' + again.result.error().to_string());
        return;
    }
    auto reprinted = lumra::codegen::expression_to_source(again.result.expr(), again.source);
    if (!reprinted || *reprinted != *printed) {
        emit("UNSTABLE", *printed + '\0' + reprinted.value_or(""));
        return;
    }
    emit("OK", *printed);
}

}  // namespace

int main() {
    std::ios::sync_with_stdio(false);
    std::string input((std::istreambuf_iterator<char>(std::cin)), std::istreambuf_iterator<char>());
    size_t start = 0;
    while (start <= input.size()) {
        size_t end = input.find('\0', start);
        if (end == std::string::npos) end = input.size();
        if (end > start || end < input.size()) {
            try {
                process(input.substr(start, end - start));
            } catch (const std::exception& e) {
                emit("FAULT", e.what());
            }
        }
        start = end + 1;
    }
    std::cout.flush();
    return 0;
}
