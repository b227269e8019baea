// Where safe_eval's time goes, phase by phase, over real Python expressions:
// the parse alone, parse and rewrite, the rewritten tree printed, and
// sandbox_source (what safe_eval runs), which prints the rewrite without
// building it.
//
// The corpus is bench/extract_stdlib_exprs.py's output (NUL-separated texts),
// read from $LUMRA_PYEXPR_CORPUS or build/corpus/stdlib_exprs.txt. Only the
// expressions the rewriter accepts are timed, so every phase sees the same set.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "pycodegen/generator.h"
#include "safe_eval/transform.h"

namespace {

namespace se = lumra::safe_eval;

std::filesystem::path corpus_path() {
    if (const char* env = std::getenv("LUMRA_PYEXPR_CORPUS")) return env;
    return std::filesystem::path(__FILE__).parent_path().parent_path() / "build" / "corpus" / "stdlib_exprs.txt";
}

const std::vector<std::string>& corpus() {
    static const std::vector<std::string> texts = [] {
        std::vector<std::string> all;
        std::ifstream in(corpus_path(), std::ios::binary);
        if (in) {
            std::stringstream buf;
            buf << in.rdbuf();
            const std::string data = buf.str();
            std::size_t start = 0;
            while (start < data.size()) {
                std::size_t end = data.find('\0', start);
                if (end == std::string::npos) end = data.size();
                if (end > start) all.push_back(data.substr(start, end - start));
                start = end + 1;
            }
        }
        if (all.empty()) {
            std::fprintf(stderr, "corpus %s not found; run bench/extract_stdlib_exprs.py. Using a small sample.\n",
                         corpus_path().c_str());
            all = {"a + b * c", "f(x, *args, key=value, **kw)", "[x for x in range(10) if x % 2]",
                   "{'a': 1, \"b\": 2.5e3}", "f'{name!r:>{width}} and {{braces}}'", "lambda x, y=1: x if y else None",
                   "obj.attr[1:2, ::3]", "not a in b is not c"};
        }
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

BENCHMARK(BM_Parse)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseRewrite)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ParseRewritePrint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_SandboxSource)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
