// Throughput of the template grammar over generated templates of ~1 MB and
// ~2 MB. The recogniser must stay linear: the 2 MB run should take about
// twice the time of the 1 MB run.
#include <benchmark/benchmark.h>

#include <string>

#include "template/grammar/grammar.h"

namespace {

// One block of a typical page: markup with attributes, expressions with
// strings and braces, template comments, text, a raw block and an HTML comment.
std::string page_block(int i) {
  const std::string n = std::to_string(i);
  std::string s;
  s += "<div class=\"row row-" + n + "\" id='r" + n + "' data-x=plain {# row " + n + " #}>\n";
  s += "  <c-if cond=\"items and items[" + n + "]\">\n";
  s += "    <span #c-key=\"k" + n + "\" title=\"{{ title }}\">{{ user.name | upper }}</span>\n";
  s += "    {{ {\"a\": 1, 'b': [x for x in range(" + n + ")]}[key] }}\n";
  s += "    <c-for each=\"item in items\">";
  s += "<li>{{ item.label }} &mdash; {{ f\"{item.n:>4}\" }}</li></c-for>\n";
  s += "  </c-if>\n";
  s += "  <!-- block " + n + " --><br/><img src=\"/static/a" + n + ".png\" alt=\"\" />\n";
  s += "  Some plain text with < and { braces } and a number " + n + ".\n";
  s += "  <c-raw>{{ not parsed }} <b>raw</b></c-raw>\n";
  s += "</div>\n";
  return s;
}

std::string generated_template(std::size_t at_least) {
  std::string out = "<!DOCTYPE html>\n<html>\n<body>\n";
  for (int i = 0; out.size() < at_least; ++i) out += page_block(i);
  out += "</body>\n</html>\n";
  return out;
}

void BM_RecogniseTemplate(benchmark::State& state) {
  const std::string input = generated_template(static_cast<std::size_t>(state.range(0)));
  for (auto _ : state) {
    auto result = lumra::grammar::template_grammar_parse(lumra::grammar::Rule::template_, input);
    if (!result.ok()) {
      state.SkipWithError("generated template did not parse");
      break;
    }
    benchmark::DoNotOptimize(result);
  }
  state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) *
                          static_cast<int64_t>(input.size()));
  state.counters["input_bytes"] = static_cast<double>(input.size());
}

BENCHMARK(BM_RecogniseTemplate)
    ->Arg(1 << 20)
    ->Arg(2 << 20)
    ->Unit(benchmark::kMillisecond)
    ->MinTime(1.0);

}  // namespace

BENCHMARK_MAIN();
