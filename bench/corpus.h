// The expression corpus the benchmarks run over: bench/extract_stdlib_exprs.py's
// output (NUL-separated expression texts), read from $LUMRA_PYEXPR_CORPUS or,
// by default, build/corpus/stdlib_exprs.txt in the source tree. A small sample
// stands in when it has not been extracted.
#pragma once

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace lumra::bench {

inline std::filesystem::path corpus_path() {
    if (const char* env = std::getenv("LUMRA_PYEXPR_CORPUS")) return env;
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "stdlib_exprs.txt";
}

inline std::vector<std::string> read_corpus() {
    std::vector<std::string> out;
    std::ifstream in(corpus_path(), std::ios::binary);
    if (in) {
        std::stringstream buf;
        buf << in.rdbuf();
        const std::string data = buf.str();
        std::size_t start = 0;
        while (start < data.size()) {
            std::size_t end = data.find('\0', start);
            if (end == std::string::npos) end = data.size();
            if (end > start) out.push_back(data.substr(start, end - start));
            start = end + 1;
        }
    }
    if (out.empty()) {
        std::fprintf(stderr, "corpus %s not found; run bench/extract_stdlib_exprs.py. Using a small sample.\n",
                     corpus_path().c_str());
        out = {"a + b * c", "f(x, *args, key=value, **kw)", "[x for x in range(10) if x % 2]",
               "{'a': 1, \"b\": 2.5e3, 'c': 0x_ff}", "f'{name!r:>{width}} and {{braces}}'",
               "lambda x, y=1: x if y else None", "obj.attr[1:2, ::3]", "not a in b is not c"};
    }
    return out;
}

}  // namespace lumra::bench
