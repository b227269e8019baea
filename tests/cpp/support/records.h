// The record files tests compare against: fields separated by NUL bytes
// (corpora and expected values written by the data scripts).
#pragma once

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

namespace lumra::test_support {

// The whole file, or nothing when it cannot be read.
inline std::optional<std::string> read_file(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) return std::nullopt;
    std::stringstream buf;
    buf << in.rdbuf();
    return buf.str();
}

// Every field, empty ones included; a final NUL ends the last field rather
// than starting another.
inline std::vector<std::string_view> nul_fields(std::string_view data) {
    std::vector<std::string_view> fields;
    std::size_t start = 0;
    while (start < data.size()) {
        std::size_t end = data.find('\0', start);
        if (end == std::string_view::npos) end = data.size();
        fields.push_back(data.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// The standard-library expression corpus (bench/extract_stdlib_exprs.py; `make
// test` extracts it): $LUMRA_PYEXPR_CORPUS, or its place in the build tree.
inline std::filesystem::path expression_corpus_path() {
    if (const char* env = std::getenv("LUMRA_PYEXPR_CORPUS")) return env;
    return std::filesystem::path(__FILE__).parent_path() / ".." / ".." / ".." / "build" / "corpus" /
           "stdlib_exprs.txt";
}

// Every how many corpus entries a test checks one. Under the address sanitizer
// every expression costs some thirty times more: a sample keeps the run short.
#if defined(__SANITIZE_ADDRESS__)
inline constexpr std::size_t kCorpusStride = 8;
#else
inline constexpr std::size_t kCorpusStride = 1;
#endif

}  // namespace lumra::test_support
