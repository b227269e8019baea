// scan_expression must report exactly what transform_expression reports (names
// read, names assigned, comments, or the same error) without building the
// rewritten tree: checked on forms chosen for the scopes and error order and on
// the standard-library corpus when it has been extracted.
#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "safe_eval/transform.h"
#include "support/records.h"

namespace lumra::safe_eval {
namespace {

// Empty when both agree; otherwise what differs.
std::string disagreement(std::string_view source) {
    const auto scanned = scan_expression(source);
    const auto transformed = transform_expression(source);
    if (scanned.ok() != transformed.ok()) {
        return std::string("one failed: ") + (scanned ? "transform: " + transformed.error() : "scan: " + scanned.error());
    }
    if (!scanned) return scanned.error() == transformed.error() ? "" : scanned.error() + " / " + transformed.error();
    const auto& a = scanned.value();
    const auto& b = transformed.value();
    if (a.used_variables != b.used_variables) return "used variables differ";
    if (a.assigned_variables != b.assigned_variables) return "assigned variables differ";
    if (a.comments != b.comments) return "comments differ";
    return "";
}

TEST(ScanExpression, AgreesWithTheRewrite) {
    std::vector<std::string_view> sources = {
        "lambda x: x + y", "[y for x in y for y in x if x]", "{k: v for k, v in d}", "f'{x:{w}}' t'{y!r}'",
        "[(a := b) for c in d] and (e := a)", "\xef\xac\x81 + \xc3\xa9\n  # \xc3\xa9", "'#' # c\r\n+ d",
        // errors, several recorded ones among them (the last wins)
        "x )", "lambda context: (context := 1)", "[x async for x in y] + (source := 2)", "await x", "[1 for a.b in c]",
    };
    const auto corpus = test_support::read_file(test_support::expression_corpus_path());
    std::size_t seen = 0;
    if (corpus) {
        for (const std::string_view source : test_support::nul_fields(*corpus)) {
            if (!source.empty() && seen++ % test_support::kCorpusStride == 0) sources.push_back(source);
        }
    }
    std::size_t failures = 0;
    for (const std::string_view source : sources) {
        const std::string diff = disagreement(source);
        if (!diff.empty() && ++failures <= 5) ADD_FAILURE() << "for " << source << ":\n  " << diff;
    }
    EXPECT_EQ(failures, 0u);
    if (!corpus) GTEST_SKIP() << "no expression corpus at " << test_support::expression_corpus_path();
}

// Line and column of `offset` counted from the start of `source`: LF, CR and
// CRLF end a line; columns count characters.
std::pair<std::uint64_t, std::uint64_t> counted_position(std::string_view source, std::uint64_t offset) {
    std::uint64_t line = 1;
    std::uint64_t column = 1;
    for (std::size_t i = 0; i < offset && i < source.size(); ++i) {
        const char c = source[i];
        if (c == '\n' || (c == '\r' && (i + 1 >= source.size() || source[i + 1] != '\n'))) {
            ++line;
            column = 1;
        } else if (c != '\r' && (static_cast<unsigned char>(c) & 0xC0) != 0x80) {
            ++column;
        }
    }
    return {line, column};
}

TEST(ScanExpression, PositionsCountedFromTheSourceStart) {
    std::vector<std::string> sources = {"a", "  caf\xc3\xa9 + b", "a +\n b", "a +\r\n b # c\r d", "x\r+ y", "f(\n\n  z)"};
    if (const auto corpus = test_support::read_file(test_support::expression_corpus_path())) {
        std::size_t seen = 0;
        for (const std::string_view source : test_support::nul_fields(*corpus)) {
            if (seen++ % (8 * test_support::kCorpusStride) == 0) sources.emplace_back(source);
        }
    }
    std::size_t failures = 0;
    for (const std::string& source : sources) {
        const auto scanned = scan_expression(source);
        if (!scanned) continue;
        std::vector<const ExprToken*> tokens;
        for (const auto& token : scanned.value().used_variables) tokens.push_back(&token);
        for (const auto& comment : scanned.value().comments) tokens.push_back(&comment.token);
        for (const ExprToken* token : tokens) {
            const auto [line, column] = counted_position(source, token->start_index);
            if ((token->line != line || token->column != column) && ++failures <= 5) {
                ADD_FAILURE() << "in [" << source << "] " << token->content << " at " << token->line << ":" << token->column
                              << ", counted " << line << ":" << column;
            }
        }
    }
    EXPECT_EQ(failures, 0u);
}

}  // namespace
}  // namespace lumra::safe_eval
