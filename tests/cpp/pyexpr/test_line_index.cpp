#include <gtest/gtest.h>

#include <vector>

#include "pyexpr/line_index.h"

namespace lumra::pyexpr {
namespace {

std::vector<uint32_t> starts(const LineIndex& index) {
    std::vector<uint32_t> out;
    for (TextSize s : index.line_starts()) out.push_back(s.raw);
    return out;
}

TEST(LineIndexTest, LineStarts) {
    struct Case {
        std::string_view text;
        std::vector<uint32_t> starts;
        IndexKind kind;
    };
    const Case cases[] = {
        {"", {0}, IndexKind::Ascii},
        {"a\r\nb", {0, 3}, IndexKind::Ascii},
        {"a\rb\nc", {0, 2, 4}, IndexKind::Ascii},
        {"x\n", {0, 2}, IndexKind::Ascii},
        {"\n\r\n\r", {0, 1, 3, 4}, IndexKind::Ascii},
        {"\xc3\xa9=1", {0}, IndexKind::Utf8},
        {"abcdefgh\nabcdefgh\xc3\xa9", {0, 9}, IndexKind::Utf8},
    };
    for (const auto& c : cases) {
        const LineIndex index = line_index_from_source(c.text);
        EXPECT_EQ(starts(index), c.starts) << c.text;
        EXPECT_EQ(index.kind(), c.kind) << c.text;
    }
}

TEST(LineIndexTest, LineAndColumn) {
    struct Case {
        std::string_view text;
        uint32_t offset;
        size_t line;
        size_t column;
    };
    const Case cases[] = {
        {"", 0, 1, 1},
        {"a\r\nb", 3, 2, 1},
        {"a\r\nb", 2, 1, 3},  // the LF of a CRLF still belongs to line 1
        {"a\rb\nc", 4, 3, 1},
        {"x\n", 2, 2, 1},
        {"\xc3\xa9=1", 2, 1, 2},  // columns count characters
        {"a=1", 1, 1, 2},
        {"ab\n\xc3\xa9\xc3\xa9x", 7, 2, 3},
        {"\xef\xbb\xbfx=1", 0, 1, 1},  // the byte order mark is not a column
        {"\xef\xbb\xbfx=1", 3, 1, 1},
        {"\xef\xbb\xbfx=1", 4, 1, 2},
        {"\xef\xbb\xbf\nab", 5, 2, 2},  // nothing subtracted on line 2
        {"long line with many ascii characters in it\nx", 44, 2, 2},
    };
    for (const auto& c : cases) {
        const LineIndex index = line_index_from_source(c.text);
        const LineColumn lc = line_column(index, TextSize(c.offset), c.text);
        EXPECT_EQ(lc, (LineColumn{c.line, c.column})) << c.text << " @" << c.offset;
    }
}

TEST(LineIndexTest, WordWideCountsMatchPerByte) {
    // Lines long enough for the word-at-a-time paths, with characters of every width.
    std::string text;
    for (int i = 0; i < 40; ++i) text += "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80";
    const LineIndex index = line_index_from_source(text);
    size_t chars = 0;
    for (uint32_t off = 0; off <= text.size(); ++off) {
        if (off < text.size() && (static_cast<unsigned char>(text[off]) & 0xC0) == 0x80) continue;
        EXPECT_EQ(line_column(index, TextSize(off), text).column, chars + 1) << off;
        ++chars;
    }
}

TEST(LineIndexTest, CopiesShareTheIndex) {
    const std::string text = "a\nb\nc";
    const LineIndex index = line_index_from_source(text);
    const LineIndex copy = index;
    EXPECT_EQ(copy.line_starts().data(), index.line_starts().data());
    EXPECT_EQ(line_column(copy, TextSize(4), text), (LineColumn{3, 1}));
}

TEST(LineIndexTest, BadOffsetsAreInternalFaults) {
    const std::string text = "\xc3\xa9x";
    const LineIndex index = line_index_from_source(text);
    EXPECT_THROW(line_column(index, TextSize(1), text), InternalFault);
    EXPECT_THROW(line_column(index, TextSize(4), text), InternalFault);
}

TEST(TextRangeTest, FormAndInvariant) {
    EXPECT_EQ(TextRange(0, 0).to_string(), "0..0");
    EXPECT_EQ(TextRange(3, 7).to_string(), "3..7");
    EXPECT_EQ(TextRange(3, 7).len(), TextSize(4));
    EXPECT_EQ(TextRange(3, 7).add_end(TextSize(2)), TextRange(3, 9));
    EXPECT_EQ(TextRange(3, 7).cover(TextRange(1, 4)), TextRange(1, 7));
    try {
        TextRange bad(5, 4);
        FAIL() << "an inverted range was accepted: " << bad.to_string();
    } catch (const InternalFault& fault) {
        EXPECT_STREQ(fault.what(), "assertion failed: start.raw <= end.raw");
    }
    EXPECT_THROW(TextRange(5, 7).sub_end(TextSize(3)), InternalFault);
}

}  // namespace
}  // namespace lumra::pyexpr
