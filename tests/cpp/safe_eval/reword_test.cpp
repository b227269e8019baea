#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "safe_eval/transform.h"

namespace lumra::safe_eval {
namespace {

struct RewordCase {
    const char* parser_message;
    const char* source;
    std::uint64_t prefix_len;
    const char* expected;
};

TEST(RewordParseError, ShiftsRangesOntoTheCallersText) {
    const std::vector<RewordCase> cases = {
        // A range inside the caller's text shows the snippet.
        {"Expected an expression at byte range 5..6", "abcdef", 2, "Parse error: Expected an expression at byte range 3..4: 'd'"},
        {"Oops at byte range 2..5", "a + b", 2, "Parse error: Oops at byte range 0..3: 'a +'"},
        // Empty ranges have no snippet.
        {"Expected an expression at byte range 7..7", "abcdef", 2, "Parse error: Expected an expression at byte range 5..5"},
        // Past the caller's text (the added line feed or parenthesis): no snippet.
        {"Oops at byte range 5..7", "abcd", 2, "Parse error: Oops at byte range 3..5"},
        {"Oops at byte range 3..6", "abcd", 2, "Parse error: Oops at byte range 1..4: 'bcd'"},
        // Inside the prefix both bounds saturate at 0.
        {"Oops at byte range 0..1", "abcd", 2, "Parse error: Oops at byte range 0..0"},
        {"Oops at byte range 1..4", "abcd", 2, "Parse error: Oops at byte range 0..2: 'ab'"},
        // Another prefix length.
        {"Expected `in`, found `)` at byte range 15..16", "item items)", 10,
         "Parse error: Expected `in`, found `)` at byte range 5..6: 'i'"},
        // No range at all: the message is kept as it is.
        {"Lexer only supports files with a size up to 4GB", "x", 2,
         "Parse error: Lexer only supports files with a size up to 4GB"},
        {"byte range 3..x", "abcd", 2, "Parse error: byte range 3..x"},
        // Every occurrence is rewritten, also inside quoted input.
        {"Got 'byte range 2..3' at byte range 3..4", "abc", 2,
         "Parse error: Got 'byte range 0..1: 'a'' at byte range 1..2: 'b'"},
        // Numbers beyond 64 bits read as 0.
        {"Oops at byte range 99999999999999999999..4", "abcd", 2, "Parse error: Oops at byte range 0..2: 'ab'"},
        // A snippet only on character boundaries: "\xc3\xa9" is one character.
        {"Oops at byte range 2..4", "\xc3\xa9x", 2, "Parse error: Oops at byte range 0..2: '\xc3\xa9'"},
        {"Oops at byte range 3..4", "\xc3\xa9x", 2, "Parse error: Oops at byte range 1..2"},
        {"Oops at byte range 2..3", "\xc3\xa9x", 2, "Parse error: Oops at byte range 0..1"},
        // The snippet is not escaped.
        {"Oops at byte range 2..4", "'\n", 2, "Parse error: Oops at byte range 0..2: ''\n'"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(reword_parse_error(c.parser_message, c.source, c.prefix_len), c.expected)
            << "message: " << c.parser_message;
    }
}

}  // namespace
}  // namespace lumra::safe_eval
