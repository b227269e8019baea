// Lexer throughput over real Python expressions.
//
// Over the benchmark corpus (corpus.h). Each expression is lexed as the
// rewriter hands it to the parser: wrapped in "(\n" ... "\n)".
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "corpus.h"
#include "pyexpr/lexer.h"

namespace {

using lumra::pyexpr::Lexer;
using lumra::pyexpr::TokenKind;

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> out = lumra::bench::read_corpus();
        for (auto& text : out) text = "(\n" + text + "\n)";
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
