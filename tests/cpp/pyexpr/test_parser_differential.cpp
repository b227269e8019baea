// Dump mode for the differential check against CPython
// (tests/python/pyexpr_differential.py): parses every NUL-separated record of
// $LUMRA_PYEXPR_CORPUS and writes one JSON line per record to
// $LUMRA_PYEXPR_DUMP: {"tree": ...} or {"error": "..."}.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>

#include "parser_dump.h"
#include "pyexpr/parser.h"

namespace lumra::pyexpr {
namespace {

std::string json_string(std::string_view text) {
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\u%04x", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}

TEST(ParserDifferential, DumpCorpus) {
    const char* corpus_path = std::getenv("LUMRA_PYEXPR_CORPUS");
    const char* dump_path = std::getenv("LUMRA_PYEXPR_DUMP");
    if (corpus_path == nullptr || dump_path == nullptr) {
        GTEST_SKIP() << "dump mode of tests/python/pyexpr_differential.py (LUMRA_PYEXPR_CORPUS is not set)";
    }
    std::ifstream in(corpus_path, std::ios::binary);
    ASSERT_TRUE(in) << corpus_path;
    const std::string corpus((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    std::ofstream out(dump_path, std::ios::binary);
    ASSERT_TRUE(out) << dump_path;

    size_t begin = 0;
    size_t records = 0;
    while (begin <= corpus.size()) {
        size_t end = corpus.find('\0', begin);
        if (end == std::string::npos) end = corpus.size();
        const std::string_view source(corpus.data() + begin, end - begin);
        begin = end + 1;
        if (source.find_first_not_of(" \t\r\n\f") == std::string_view::npos) continue;
        ExpressionParse parse = parse_python_expression_full(source);
        if (parse.errors.empty()) {
            out << "{\"tree\":" << test::dump_json(parse.expr, source) << "}\n";
        } else {
            out << "{\"error\":" << json_string(parse.errors.front().to_string()) << "}\n";
        }
        ++records;
    }
    EXPECT_GT(records, 0u);
}

}  // namespace
}  // namespace lumra::pyexpr
