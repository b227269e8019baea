// The Python backend's short way for chains of names against its full parse:
// wherever the short way answers, both answers are the same.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "support/records.h"
#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {
namespace {

// Both ways on one text; returns whether the short way answered.
bool agrees(const std::string& text) {
  const auto chain = parse_name_chain(text);
  if (!chain) return false;
  const auto full = python_parse_expression_in_full(text);
  const auto* parsed = std::get_if<ParsedExpression>(&full);
  EXPECT_NE(parsed, nullptr) << "the parser refuses [" << text << "]: " << std::get<std::string>(full);
  if (parsed == nullptr) return true;
  EXPECT_EQ(chain->used_variables, parsed->used_variables) << "[" << text << "]";
  EXPECT_EQ(chain->assigned_variables, parsed->assigned_variables) << "[" << text << "]";
  EXPECT_EQ(chain->comments, parsed->comments) << "[" << text << "]";
  return true;
}

TEST(PythonNameChain, ShortWayTakenOnlyForPlainChains) {
  const std::pair<std::string, bool> cases[] = {
      {"item", true}, {" item.title ", true}, {"\n\titem.a_b.c9\n ", true}, {"_", true}, {"_._", true},
      {"a.b.c.d.e.f", true}, {"context", true}, {"__class__.__base__", true},
      // Everything else goes the full way.
      {"", false}, {"  ", false}, {"None", false}, {"a.None", false}, {"not.a", false}, {"match", false},
      {"a.type", false}, {"a .b", false}, {"a. b", false}, {"a.", false}, {".a", false}, {"a..b", false},
      {"9a", false}, {"a\r", false}, {"\fa", false}, {"a # c", false}, {"a\\\n.b", false}, {"caf\xc3\xa9", false},
      {"a()", false}, {"a[0]", false}, {"a b", false}, {"f'x'", false},
  };
  for (const auto& [text, short_way] : cases) EXPECT_EQ(agrees(text), short_way) << "[" << text << "]";
}

TEST(PythonNameChain, AgreesWithTheParserOnCorpusAndVariations) {
  std::vector<std::string> texts;
  if (const auto data = test_support::read_file(test_support::expression_corpus_path())) {
    for (const std::string_view text : test_support::nul_fields(*data)) texts.emplace_back(text);
  }
  // Chains built from pieces around the edges: spacing, keywords, lengths
  // about the short way's bound of names.
  static const std::string kNames[] = {"a", "item", "_x1", "Title", "if", "True", "match", "print", "\xc3\xa9"};
  static const std::string kSpaces[] = {"", " ", "\t", "\n", "  \n  ", "\r", "\f", "\r\n"};
  std::mt19937 rng(2024);
  auto pick = [&](const auto& options) { return options[rng() % std::size(options)]; };
  for (int round = 0; round < 4000; ++round) {
    const int names = round % 50 == 0 ? 60 + static_cast<int>(rng() % 10) : 1 + static_cast<int>(rng() % 6);
    std::string text = pick(kSpaces);
    for (int i = 0; i < names; ++i) text += (i ? "." : "") + pick(kNames);
    texts.push_back(text + pick(kSpaces));
  }
  std::size_t taken = 0;
  for (std::size_t i = 0; i < texts.size(); i += test_support::kCorpusStride) taken += agrees(texts[i]) ? 1 : 0;
  EXPECT_GT(taken, 500u);
}

}  // namespace
}  // namespace lumra::template_compiler
