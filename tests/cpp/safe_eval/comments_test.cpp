#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "safe_eval/comments.h"

namespace lumra::safe_eval {
namespace {

struct CommentCase {
    const char* text;
    std::vector<std::pair<std::uint32_t, std::uint32_t>> spans;  // (hash, end)
};

TEST(ScanComments, FindsCommentsOutsideStrings) {
    const std::vector<CommentCase> cases = {
        {"", {}},
        {"x", {}},
        {"x # note", {{2, 8}}},
        {"#", {{0, 1}}},
        {"a # one\nb # two", {{2, 7}, {10, 15}}},
        {"a # cr\rb", {{2, 6}}},
        {"a # crlf\r\nb #", {{2, 8}, {12, 13}}},
        {"# a # b", {{0, 7}}},
        // Quotes hide `#`.
        {"\"a # b\"", {}},
        {"'a # b'", {}},
        {"'''a ' # '''", {}},
        {"\"\"\"a \"\" # \"\"\" # c", {{14, 17}}},
        // An escaped quote does not close the string.
        {"'\\'' # c", {{5, 8}}},
        {"'\\\\' # c", {{5, 8}}},
        // Two quotes followed by a byte: an empty string, then code.
        {"'' # c", {{3, 6}}},
        {"''", {}},
        {"'' '#'", {}},
        // The other quote kind does not close a string.
        {"'a\" # b' # c", {{9, 12}}},
        // A string left open at the end swallows the rest, without complaint.
        {"'abc # d", {}},
        {"'''abc ' # d", {}},
        {"'\\", {}},
        // A line break ends a comment, not a string.
        {"'a\n# b'", {}},
        // f-strings are only strings: the scanner knows no prefixes.
        {"f'{x}' # c", {{7, 10}}},
        // Non-ASCII text in the comment is kept whole.
        {"x # h\xc3\xa9", {{2, 7}}},
    };
    for (const auto& c : cases) {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> got;
        for (const auto& span : scan_comments(c.text)) got.emplace_back(span.hash, span.end);
        EXPECT_EQ(got, c.spans) << "text: " << c.text;
    }
}

TEST(ScanComments, TripleQuoteNeedsThreeBytesLeft) {
    // Exactly two quotes at the end: a single-quoted empty string, nothing open.
    EXPECT_TRUE(scan_comments("x ''").empty());
    // Three quotes open a triple-quoted string closed only by three more.
    EXPECT_TRUE(scan_comments("''' ' '' #").empty());
    ASSERT_EQ(scan_comments("''' ' '' ''' #").size(), 1U);
}

}  // namespace
}  // namespace lumra::safe_eval
