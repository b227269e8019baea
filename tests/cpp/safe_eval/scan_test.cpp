// scan_expression must report exactly what transform_expression reports (names
// read, names assigned, comments, or the same error) without building the
// rewritten tree: checked on forms chosen for the scopes and error order and on
// the standard-library corpus when it has been extracted.
#include <gtest/gtest.h>

#include <string>
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

}  // namespace
}  // namespace lumra::safe_eval
