// The lexer over the standard-library corpus (no errors for valid Python) and
// over random input (always terminates, stays in bounds, consistent ranges).
#include <gtest/gtest.h>

#include <fstream>
#include <random>

#include "pyexpr/lexer.h"
#include "support/records.h"

namespace lumra::pyexpr {
namespace {

std::vector<std::string> load_corpus() {
    std::vector<std::string> out;
    const auto data = test_support::read_file(test_support::expression_corpus_path());
    if (!data) return out;
    for (const std::string_view text : test_support::nul_fields(*data)) out.emplace_back(text);
    return out;
}

// Lexes `text` to the end; checks the ranges and returns the error count.
size_t lex_checked(std::string_view text, size_t max_tokens) {
    Lexer lexer(text);
    uint32_t last_start = 0;
    size_t count = 0;
    for (;;) {
        const TokenKind kind = lexer.next_token();
        const TextRange r = lexer.current_range();
        EXPECT_LE(r.end().raw, text.size());
        EXPECT_GE(r.start().raw, last_start) << "in: " << text;
        last_start = r.start().raw;
        if (kind == TokenKind::EndOfFile) break;
        if (++count > max_tokens) {
            ADD_FAILURE() << "lexer does not terminate on: " << text;
            break;
        }
        if (kind == TokenKind::Name) {
            EXPECT_TRUE(std::holds_alternative<Name>(lexer.current_value()));
        } else if (kind == TokenKind::String) {
            EXPECT_TRUE(std::holds_alternative<StringTokenValue>(lexer.current_value()));
        }
    }
    for (const auto& e : lexer.errors()) EXPECT_LE(e.location.end().raw, text.size());
    return lexer.errors().size();
}

TEST(LexerCorpusTest, StandardLibraryExpressionsLexWithoutErrors) {
    const auto corpus = load_corpus();
    if (corpus.empty()) GTEST_SKIP() << "no corpus; run bench/extract_stdlib_exprs.py";
    size_t failures = 0;
    for (const auto& expr : corpus) {
        const std::string wrapped = "(\n" + expr + "\n)";
        if (lex_checked(wrapped, wrapped.size() * 2 + 16) != 0 && ++failures <= 10) {
            Lexer lexer(wrapped);
            while (lexer.next_token() != TokenKind::EndOfFile) {
            }
            ADD_FAILURE() << lexer.errors().front().error.message() << " at "
                          << lexer.errors().front().location.to_string() << " in: " << wrapped;
        }
    }
    EXPECT_EQ(failures, 0u) << "of " << corpus.size();
}

TEST(LexerCorpusTest, RandomInputTerminatesInBounds) {
    static constexpr std::string_view kPieces[] = {
        "'", "\"", "'''", "f'", "f\"", "rb'", "t'", "{", "}", "{{", "}}", "(", ")", "[", "]", ":", "!r", "=", "\\",
        "\n", "\r", "\r\n", " ", "\t", "\f", "#", "x", "1", "0x", "1.5e", "_", ".", "\\N{", "\xc3\xa9", "\xff",
        "\xe2\x82", "\0", "?", "lambda", "\\\n", "  ", "0b2", "07",
    };
    std::mt19937 rng(12345);
    std::uniform_int_distribution<size_t> pick(0, std::size(kPieces) - 1);
    std::uniform_int_distribution<int> length(0, 24);
    for (int round = 0; round < 20000; ++round) {
        std::string text;
        const int n = length(rng);
        for (int i = 0; i < n; ++i) text += kPieces[pick(rng)];
        lex_checked(text, text.size() * 4 + 16);

        // A checkpoint taken anywhere replays identically after a rewind.
        Lexer lexer(text);
        lexer.next_token();
        const auto cp = lexer.checkpoint();
        std::vector<std::pair<TokenKind, TextRange>> first;
        for (size_t k = 0; k < text.size() * 4 + 16 && lexer.next_token() != TokenKind::EndOfFile; ++k) {
            first.emplace_back(lexer.current_kind(), lexer.current_range());
        }
        const size_t errors = lexer.errors().size();
        lexer.rewind(cp);
        std::vector<std::pair<TokenKind, TextRange>> second;
        for (size_t k = 0; k < text.size() * 4 + 16 && lexer.next_token() != TokenKind::EndOfFile; ++k) {
            second.emplace_back(lexer.current_kind(), lexer.current_range());
        }
        ASSERT_EQ(first, second) << text;
        ASSERT_EQ(errors, lexer.errors().size()) << text;
    }
}

}  // namespace
}  // namespace lumra::pyexpr

// Number values against CPython: data/number_literals.txt (see
// data/make_number_literals.py) lists literals with their exact values.
#include <charconv>
#include <cmath>

namespace lumra::pyexpr {
namespace {

double parse_python_hex(std::string_view text) {
    if (text == "inf") return INFINITY;
    if (text.substr(0, 2) == "0x") text.remove_prefix(2);
    double value = 0;
    auto res = std::from_chars(text.data(), text.data() + text.size(), value, std::chars_format::hex);
    EXPECT_EQ(res.ec, std::errc()) << text;
    return value;
}

TEST(LexerCorpusTest, NumberValuesMatchCPython) {
    std::ifstream in(std::string(LUMRA_TEST_DATA_DIR) + "/number_literals.txt");
    ASSERT_TRUE(in) << "missing data/number_literals.txt";
    std::string line;
    size_t checked = 0;
    while (std::getline(in, line)) {
        const size_t tab = line.find('\t');
        const size_t space = line.find(' ', tab);
        ASSERT_NE(space, std::string::npos) << line;
        const std::string token = line.substr(0, tab);
        const std::string kind = line.substr(tab + 1, space - tab - 1);
        const std::string expected = line.substr(space + 1);

        Lexer lexer(token);
        const TokenKind got = lexer.next_token();
        EXPECT_EQ(lexer.current_range(), TextRange(0, static_cast<uint32_t>(token.size()))) << token;
        EXPECT_TRUE(lexer.errors().empty()) << token;
        if (kind == "int") {
            ASSERT_EQ(got, TokenKind::Int) << token;
            const auto& v = std::get<IntValue>(lexer.current_value());
            const bool prefixed = token.size() > 1 && token[0] == '0' && std::string_view("xXoObB").find(token[1]) != std::string_view::npos;
            if (v.is_big() && prefixed) {
                EXPECT_EQ(v.big_text(), token);
                EXPECT_GT(expected.size(), 19u) << token;  // beyond 64 bits
            } else {
                EXPECT_EQ(v.to_string(), expected) << token;
            }
        } else if (kind == "float") {
            ASSERT_EQ(got, TokenKind::Float) << token;
            EXPECT_EQ(std::get<double>(lexer.current_value()), parse_python_hex(expected)) << token;
        } else {
            ASSERT_EQ(got, TokenKind::Complex) << token;
            const auto& c = std::get<ComplexValue>(lexer.current_value());
            EXPECT_EQ(c.real, 0.0);
            EXPECT_EQ(c.imag, parse_python_hex(expected)) << token;
        }
        ++checked;
    }
    EXPECT_GT(checked, 1000u);
}

}  // namespace
}  // namespace lumra::pyexpr

// Token kinds and byte ranges against CPython's tokenize module:
// data/token_streams.bin (see data/make_token_streams.py).
namespace lumra::pyexpr {
namespace {

TEST(LexerCorpusTest, TokenStreamsMatchCPythonTokenize) {
    const auto data = test_support::read_file(std::string(LUMRA_TEST_DATA_DIR) + "/token_streams.bin");
    ASSERT_TRUE(data) << "missing data/token_streams.bin";
    const auto fields = test_support::nul_fields(*data);
    ASSERT_EQ(fields.size() % 2, 0u);
    size_t checked = 0;
    size_t failures = 0;
    for (size_t i = 0; i < fields.size(); i += 2) {
        const std::string_view source = fields[i];
        const std::string_view expected = fields[i + 1];

        Lexer lexer(source);
        std::string got;
        for (size_t n = 0; n < source.size() * 2 + 16; ++n) {
            const TokenKind kind = lexer.next_token();
            if (!got.empty()) got += ' ';
            got += std::string(token_kind_name(kind)) + "@" + lexer.current_range().to_string();
            if (kind == TokenKind::EndOfFile) break;
        }
        if (got != expected && ++failures <= 5) {
            ADD_FAILURE() << "source: " << source << "\n  got:      " << got << "\n  expected: " << expected;
        }
        ++checked;
    }
    EXPECT_EQ(failures, 0u);
    EXPECT_GT(checked, 1000u);
}

}  // namespace
}  // namespace lumra::pyexpr
