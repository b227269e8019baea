// Lexer throughput over real Python expressions.
//
// The corpus is the output of bench/extract_stdlib_exprs.py (NUL-separated
// expression texts), read from $LUMRA_PYEXPR_CORPUS or, by default,
// build/corpus/stdlib_exprs.txt in the source tree. Each expression is lexed
// as the rewriter hands it to the parser: wrapped in "(\n" ... "\n)".
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pyexpr/lexer.h"

namespace {

using lumra::pyexpr::Lexer;
using lumra::pyexpr::TokenKind;

std::filesystem::path corpus_path() {
    if (const char* env = std::getenv("LUMRA_PYEXPR_CORPUS")) return env;
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "stdlib_exprs.txt";
}

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out;
        std::ifstream in(corpus_path(), std::ios::binary);
        if (in) {
            std::stringstream buf;
            buf << in.rdbuf();
            const std::string data = buf.str();
            size_t start = 0;
            while (start < data.size()) {
                size_t end = data.find('\0', start);
                if (end == std::string::npos) end = data.size();
                out.push_back("(\n" + data.substr(start, end - start) + "\n)");
                start = end + 1;
            }
        }
        if (out.empty()) {
            std::fprintf(stderr, "corpus %s not found; run bench/extract_stdlib_exprs.py. Using a small sample.\n",
                         corpus_path().c_str());
            for (const char* s : {"a + b * c", "f(x, *args, key=value, **kw)", "[x for x in range(10) if x % 2]",
                                  "{'a': 1, \"b\": 2.5e3, 'c': 0x_ff}", "f'{name!r:>{width}} and {{braces}}'",
                                  "lambda x, y=1: x if y else None", "obj.attr[1:2, ::3]", "not a in b is not c"}) {
                out.push_back(std::string("(\n") + s + "\n)");
            }
        }
        return out;
    }();
    return texts;
}

void BM_LexCorpus(benchmark::State& state) {
    const auto& texts = corpus();
    size_t bytes = 0;
    for (const auto& t : texts) bytes += t.size();
    int64_t tokens = 0;
    for (auto _ : state) {
        for (const auto& text : texts) {
            Lexer lexer(text);
            while (lexer.next_token() != TokenKind::EndOfFile) ++tokens;
            benchmark::DoNotOptimize(lexer.current_range());
        }
    }
    state.SetItemsProcessed(tokens);  // reported as tokens per second
    state.SetBytesProcessed(static_cast<int64_t>(bytes) * state.iterations());
    state.counters["expressions"] = static_cast<double>(texts.size());
}
BENCHMARK(BM_LexCorpus)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
