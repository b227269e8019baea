// The Python backend's short way for common expressions against its full
// parse: wherever the short way answers, the full parse accepts the text and
// gives the same names, positions and comments.
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
  const auto simple = parse_simple_expression(text);
  if (!simple) return false;
  const auto full = python_parse_expression_in_full(text);
  const auto* parsed = std::get_if<ParsedExpression>(&full);
  EXPECT_NE(parsed, nullptr) << "the parser refuses [" << text << "]: " << std::get<std::string>(full);
  if (parsed == nullptr) return true;
  EXPECT_EQ(simple->used_variables, parsed->used_variables) << "[" << text << "]";
  EXPECT_EQ(simple->assigned_variables, parsed->assigned_variables) << "[" << text << "]";
  EXPECT_EQ(simple->comments, parsed->comments) << "[" << text << "]";
  // Read from a token's text, the names view into its buffer.
  const template_ast::TokenText owner(text);
  const auto sharing = parse_simple_expression_sharing(owner);
  EXPECT_TRUE(sharing.has_value()) << "[" << text << "]";
  if (!sharing) return true;
  EXPECT_EQ(sharing->used_variables, simple->used_variables) << "[" << text << "]";
  for (const auto& name : sharing->used_variables) {
    EXPECT_TRUE(name.content.data() >= owner.data() && name.content.data() < owner.data() + owner.size());
  }
  return true;
}

TEST(PythonSimpleExpression, ShortWayTakenOnlyWhereItIsSure) {
  const std::pair<std::string, bool> cases[] = {
      {"item", true}, {" item.title ", true}, {"\n\titem.a_b.c9\n ", true}, {"_._", true}, {"context", true},
      {"a .b", true}, {"f(a, b=c, d=e,)", true}, {"x[1:2:3] + x[::2] - x[:]", true}, {"(a, 'b',)", true},
      {"()", true}, {"[a, [b]]", true}, {"a if b else c if d else e", true}, {"not not a and b or c", true},
      {"a not in b is not c < d <= e == f != g > h >= i", true}, {"-a ** -b // ~c % +d / 2", true},
      {"'caf\xc3\xa9 ' + name", true}, {"'x' \"y\" 'z'.upper()", true}, {"1 .real + 0 + 1.5", true},
      {"None.x(True)[False]", true}, {"f(\n  a,\n  'b\xe2\x80\xa8',\n  c)", true},
      // Everything else goes the full way.
      {"", false}, {"  ", false}, {"a.None", false}, {"match", false}, {"a.type", false}, {"a.", false},
      {".a", false}, {"a..b", false}, {"9a", false}, {"01", false}, {"1_0", false}, {"1e3", false},
      {"0x1", false}, {"1j", false}, {"1.", false}, {"a\r", false}, {"\fa", false}, {"a # c", false},
      {"a\\\n.b", false}, {"caf\xc3\xa9", false}, {"a b", false}, {"f'x'", false}, {"'a\\n'", false},
      {"'''a'''", false}, {"'a\tb'", false}, {"'\xff'", false}, {"f(a=1, b)", false}, {"f(a=1, a=2)", false},
      {"f(*a)", false}, {"f(x for x in y)", false}, {"lambda: 1", false}, {"(a := 1)", false},
      {"a[]", false}, {"a[1, 2]", false}, {"a[1:2:3:4]", false}, {"a == not b", false}, {"a is not in b", false},
      {"a if b", false}, {"a << b", false}, {"a | b", false}, {"{}", false}, {"...", false}, {"a = b", false},
      {"(", false}, {"a)", false}, {"await a", false}, {"'a' b", false}, {"f(a)(", false},
      {"a)(b", false}, {")(a", false}, {"a)+(b", false}, {"a), (b", false}, {"f(a))[(b", false},
      {std::string(40, '(') + "a" + std::string(40, ')'), false},
      {"a" + std::string(2000, '+') + "b", false},
  };
  for (const auto& [text, short_way] : cases) EXPECT_EQ(agrees(text), short_way) << "[" << text << "]";
}

// Random expressions of the short way's shapes, nested and spaced at random,
// one in four then spoilt by a piece inserted anywhere.
// A plain name is one the full parse reads as exactly that name, and every
// keyword (soft ones included) is left to the full parse.
TEST(PythonSimpleExpression, PlainNamesAreWhatTheParserReadsAsOneName) {
  const std::pair<std::string, bool> cases[] = {
      {"item", true}, {"_", true}, {"_x1", true}, {"__class__", true}, {"Title", true}, {"x9", true},
      {"match", false}, {"case", false}, {"type", false}, {"None", false}, {"True", false}, {"lambda", false},
      {"not", false}, {"in", false}, {"", false}, {"9a", false}, {"a.b", false}, {"a b", false}, {" a", false},
      {"a-b", false}, {"caf\xc3\xa9", false}, {"\xef\xac\x81", false},
  };
  for (const auto& [text, plain] : cases) {
    EXPECT_EQ(is_plain_python_name(text), plain) << "[" << text << "]";
    if (!is_plain_python_name(text)) continue;
    const auto full = python_parse_expression_in_full(text);
    const auto* parsed = std::get_if<ParsedExpression>(&full);
    ASSERT_NE(parsed, nullptr) << "[" << text << "]";
    ASSERT_EQ(parsed->used_variables.size(), 1u) << "[" << text << "]";
    EXPECT_EQ(parsed->used_variables[0].content, text);
    EXPECT_EQ(parsed->used_variables[0].start_index, 0u);
    EXPECT_EQ(parsed->used_variables[0].end_index, text.size());
    EXPECT_TRUE(parsed->assigned_variables.empty() && parsed->comments.empty()) << "[" << text << "]";
  }
}

class RandomExpressions {
 public:
  std::string next() {
    std::string text = expression(0);
    if (rng_() % 4 == 0) text.insert(rng_() % (text.size() + 1), pick(kPieces));
    return text;
  }

  static constexpr const char* kPieces[] = {
      "a", "item", "_x1", "None", "True", "not", "and", "or", "if", "else", "in", "is", "match", "lambda", "for",
      "0", "12", "3.5", "07", "'s'", "\"t\"", "''", "'caf\xc3\xa9'", "'\xe2\x80\xa8'", "'\xf0\x9f\x98\x80'",
      "(", ")", "[", "]", ",", ":", ".", "=", "==", "!=", "<", ">=", "+", "-", "*", "**", "//", "%", "~", "!",
      ":=", "#c", "\\", "{", "}", "|", "@", "\r", "\f", "\n"};

 private:
  std::string pick(const auto& options) { return options[rng_() % std::size(options)]; }
  std::string space() { return pick(kSpaces); }

  std::string expression(int depth) {
    static const char* const kAtoms[] = {"a", "item", "_x1", "Title", "None", "True", "0", "12", "3.5",
                                         "'s'", "\"t\"", "''", "'caf\xc3\xa9 '", "'\xe2\x80\xa8'"};
    static const char* const kBinary[] = {"+", "-", "*", "/", "//", "%", "**", "==", "!=", "<", ">=",
                                          "in", "not in", "is", "is not", "and", "or"};
    const unsigned choice = depth > 4 ? 0 : rng_() % 10;
    const std::string s = space();
    switch (choice) {
      case 0: return s + pick(kAtoms) + space();
      case 1: return expression(depth + 1) + "." + space() + pick(kAtoms) + space();
      case 2: return expression(depth + 1) + "(" + list(depth, true) + ")" + space();
      case 3: return expression(depth + 1) + "[" + slice(depth) + "]" + space();
      case 4: return expression(depth + 1) + pick(kBinary) + s + expression(depth + 1);
      case 5: return s + (rng_() % 2 ? "not " : "-") + expression(depth + 1);
      case 6: return expression(depth + 1) + "if " + expression(depth + 1) + "else " + expression(depth + 1);
      case 7: return s + "(" + list(depth, false) + ")" + space();
      case 8: return s + "[" + list(depth, false) + "]" + space();
      default: return s + "(" + expression(depth + 1) + ")" + space();
    }
  }

  std::string list(int depth, bool keywords) {
    std::string out;
    const unsigned items = rng_() % 4;
    for (unsigned i = 0; i < items; ++i) {
      if (i) out += ",";
      if (keywords && rng_() % 3 == 0) out += space() + pick(kAtoms) + "=";
      out += expression(depth + 1);
    }
    if (items && rng_() % 3 == 0) out += ",";
    return out;
  }

  std::string slice(int depth) {
    auto part = [&] { return rng_() % 2 ? expression(depth + 1) : space(); };
    std::string out = part();
    for (unsigned colons = rng_() % 3; colons > 0; --colons) out += ":" + part();
    return out;
  }

  static constexpr const char* kSpaces[] = {"", " ", "", "\t", "\n", "  ", "", " "};
  static constexpr const char* kAtoms[] = {"a", "item", "_x1", "Title", "b"};
  std::mt19937 rng_{2024};
};

TEST(PythonSimpleExpression, AgreesWithTheParserOnCorpusAndRandomTexts) {
  std::vector<std::string> texts;
  if (const auto data = test_support::read_file(test_support::expression_corpus_path())) {
    for (const std::string_view text : test_support::nul_fields(*data)) texts.emplace_back(text);
  }
  std::size_t taken = 0;
  for (std::size_t i = 0; i < texts.size(); i += test_support::kCorpusStride) taken += agrees(texts[i]) ? 1 : 0;
  RandomExpressions random;
  std::size_t random_taken = 0;
  const int rounds = 40000 / static_cast<int>(test_support::kCorpusStride);
  for (int round = 0; round < rounds; ++round) random_taken += agrees(random.next()) ? 1 : 0;
  EXPECT_GT(random_taken, static_cast<std::size_t>(rounds / 5));
  EXPECT_LT(random_taken, static_cast<std::size_t>(rounds));
}

}  // namespace
}  // namespace lumra::template_compiler
