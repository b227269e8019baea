// Where safe_eval's time goes, phase by phase, over real Python expressions:
// the parse alone, parse and rewrite, the rewritten tree printed, and
// sandbox_source (what safe_eval runs), which prints the rewrite without
// building it; and the names and comments with and without the rewritten tree.
//
// Over the benchmark corpus (corpus.h); only the expressions the rewriter
// accepts are timed, so every phase sees the same set.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "corpus.h"
#include "pycodegen/generator.h"
#include "safe_eval/transform.h"

namespace {

namespace se = lumra::safe_eval;

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> all = lumra::bench::read_corpus();
        std::vector<std::string> accepted;
        for (auto& text : all)
            if (se::rewrite_expression(text)) accepted.push_back(std::move(text));
        return accepted;
    }();
    return texts;
}

void BM_Parse(benchmark::State& state) {
    const auto& texts = corpus();
    std::string wrapped;
    for (auto _ : state) {
        for (const auto& text : texts) {
            wrapped.assign("(\n").append(text).append("\n)");
            auto parsed = se::parse_expression(wrapped, text, 2);
            benchmark::DoNotOptimize(parsed);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

void BM_ParseRewrite(benchmark::State& state) {
    const auto& texts = corpus();
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto rewritten = se::rewrite_expression(text);
            benchmark::DoNotOptimize(rewritten);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

void BM_ParseRewritePrint(benchmark::State& state) {
    const auto& texts = corpus();
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto rewritten = se::rewrite_expression(text);
            lumra::codegen::Generator generator("    ");
            generator.reserve_more(text.size() * 10 + 128);
            lumra::codegen::unparse_expr(generator, rewritten.value(), 0);
            benchmark::DoNotOptimize(generator.text().data());
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

void BM_SandboxSource(benchmark::State& state) {
    const auto& texts = corpus();
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto printed = se::sandbox_source(text);
            benchmark::DoNotOptimize(printed);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

// What the template parser asks of every expression: its names and comments,
// from the rewritten tree or from the check-only walk.
void BM_NamesFromRewrite(benchmark::State& state) {
    const auto& texts = corpus();
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto result = se::transform_expression(text);
            benchmark::DoNotOptimize(result);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

void BM_NamesFromScan(benchmark::State& state) {
    const auto& texts = corpus();
    for (auto _ : state) {
        for (const auto& text : texts) {
            auto scan = se::scan_expression(text);
            benchmark::DoNotOptimize(scan);
        }
    }
    state.SetItemsProcessed(static_cast<int64_t>(state.iterations() * texts.size()));
}

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseRewritePrint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SandboxSource)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NamesFromRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_NamesFromScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
