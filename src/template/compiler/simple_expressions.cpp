// The short way for the expressions templates hold most: a recogniser for a
// small part of Python's expression grammar that collects the names read
// without building a tree. Whatever it is unsure of, it leaves to the full
// parse, so it only has to be right about what it accepts.
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>

#include "pyexpr/lexer.h"
#include "pyexpr/token_kind.h"
#include "template/compiler/python_backend.h"
#include "text/utf8.h"

namespace lumra::template_compiler {
namespace {

using pyexpr::TokenKind;

enum class Tok : std::uint8_t {
  End,
  Name,
  Number,
  String,
  Constant,  // None, True, False
  Not,
  And,
  Or,
  If,
  Else,
  In,
  Is,
  LParen,
  RParen,
  LBracket,
  RBracket,
  Comma,
  Colon,
  Dot,
  Assign,
  Plus,
  Minus,
  Tilde,
  Star,     // *, /, //, %
  Power,    // **
  Compare,  // ==, !=, <, >, <=, >=
  Unsure,   // anything else: the full parse decides
};

// Left uninitialised by default: the recogniser keeps an array of them.
struct Lexeme {
  Tok kind;
  std::uint32_t start;
  std::uint32_t end;
};

constexpr bool is_space(char c) { return c == ' ' || c == '\t' || c == '\n'; }
constexpr bool is_ident_start(char c) { return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || c == '_'; }
constexpr bool is_digit(char c) { return c >= '0' && c <= '9'; }
constexpr bool is_ident_continue(char c) { return is_ident_start(c) || is_digit(c); }

// Bounds that keep every accepted text far below the parser's nesting and
// tree-height limits and the rewriter's depth limit, and numbers short enough
// to need no big-number reading.
constexpr int kMaxLexemes = 200;
constexpr int kMaxDepth = 32;
constexpr std::size_t kMaxDigits = 15;

class Recogniser {
 public:
  explicit Recogniser(std::string_view text) : text_(text) {}

  // Whether the whole text is an expression of the subset; the names read
  // are then in `names()`, in text order.
  bool read() {
    if (text_.size() > UINT32_MAX) return false;
    advance();
    return expression() && current_.kind == Tok::End;
  }

  std::span<const Lexeme> names() const { return {names_.data(), name_count_}; }

 private:
  // One out-of-line copy of the lexer, which writes the lexeme straight into
  // `current_`: a lexeme returned from a call is assembled in memory from
  // narrow stores and read back in one wide load, which waits for them.
  [[gnu::noinline]] bool advance() {
    if (++lexemes_ > kMaxLexemes) current_.kind = Tok::Unsure;
    else current_ = lex(current_.end);
    return current_.kind != Tok::Unsure;
  }

  [[gnu::always_inline]] Lexeme lex(std::uint32_t at) const {
    std::size_t i = at;
    const std::size_t n = text_.size();
    while (i < n && is_space(text_[i])) ++i;
    Lexeme out{Tok::Unsure, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(i)};
    auto done = [&](Tok kind, std::size_t end) {
      out.kind = kind;
      out.end = static_cast<std::uint32_t>(end);
      return out;
    };
    if (i == n) return done(Tok::End, i);
    const char c = text_[i];
    const char next = i + 1 < n ? text_[i + 1] : '\0';
    if (is_ident_start(c)) {
      std::size_t j = i + 1;
      while (j < n && is_ident_continue(text_[j])) ++j;
      // A prefixed string (f'', rb"") or a non-ASCII identifier.
      if (j < n && (text_[j] == '\'' || text_[j] == '"' || static_cast<unsigned char>(text_[j]) >= 0x80)) return out;
      switch (pyexpr::keyword_kind(text_.substr(i, j - i))) {
        case TokenKind::Name: return done(Tok::Name, j);
        case TokenKind::None:
        case TokenKind::True:
        case TokenKind::False: return done(Tok::Constant, j);
        case TokenKind::Not: return done(Tok::Not, j);
        case TokenKind::And: return done(Tok::And, j);
        case TokenKind::Or: return done(Tok::Or, j);
        case TokenKind::If: return done(Tok::If, j);
        case TokenKind::Else: return done(Tok::Else, j);
        case TokenKind::In: return done(Tok::In, j);
        case TokenKind::Is: return done(Tok::Is, j);
        default: return out;  // other keywords, soft keywords included
      }
    }
    if (is_digit(c)) return number(i);
    if (c == '\'' || c == '"') return string(i);
    switch (c) {
      case '(': return done(Tok::LParen, i + 1);
      case ')': return done(Tok::RParen, i + 1);
      case '[': return done(Tok::LBracket, i + 1);
      case ']': return done(Tok::RBracket, i + 1);
      case ',': return done(Tok::Comma, i + 1);
      case ':': return next == '=' ? out : done(Tok::Colon, i + 1);
      case '.': return is_digit(next) || next == '.' ? out : done(Tok::Dot, i + 1);
      case '+': return next == '=' ? out : done(Tok::Plus, i + 1);
      case '-': return next == '=' || next == '>' ? out : done(Tok::Minus, i + 1);
      case '~': return done(Tok::Tilde, i + 1);
      case '%': return next == '=' ? out : done(Tok::Star, i + 1);
      case '*':
        if (next == '*') return i + 2 < n && text_[i + 2] == '=' ? out : done(Tok::Power, i + 2);
        return next == '=' ? out : done(Tok::Star, i + 1);
      case '/':
        if (next == '/') return i + 2 < n && text_[i + 2] == '=' ? out : done(Tok::Star, i + 2);
        return next == '=' ? out : done(Tok::Star, i + 1);
      case '=': return next == '=' ? done(Tok::Compare, i + 2) : done(Tok::Assign, i + 1);
      case '!': return next == '=' ? done(Tok::Compare, i + 2) : out;
      case '<':
      case '>':
        if (next == c) return out;  // shifts
        return next == '=' ? done(Tok::Compare, i + 2) : done(Tok::Compare, i + 1);
      default: return out;
    }
  }

  // 0, or digits without a leading zero, with an optional fraction; nothing
  // may touch its end (1e5, 1_000, 1j, 0x1, 1.real go the full way).
  Lexeme number(std::size_t i) const {
    const std::size_t n = text_.size();
    std::size_t j = i + 1;
    if (text_[i] != '0') {
      while (j < n && is_digit(text_[j])) ++j;
    }
    if (j < n && text_[j] == '.') {
      ++j;
      if (j == n || !is_digit(text_[j])) return {Tok::Unsure, 0, 0};
      while (j < n && is_digit(text_[j])) ++j;
    }
    if (j - i > kMaxDigits) return {Tok::Unsure, 0, 0};
    if (j < n && (is_ident_continue(text_[j]) || text_[j] == '.' || static_cast<unsigned char>(text_[j]) >= 0x80)) {
      return {Tok::Unsure, 0, 0};
    }
    return {Tok::Number, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)};
  }

  // A one-line string without prefix, escapes or control characters, holding
  // well-formed UTF-8; not the start of a triple-quoted one.
  Lexeme string(std::size_t i) const {
    const std::size_t n = text_.size();
    const char quote = text_[i];
    std::size_t j = i + 1;
    while (j < n && text_[j] != quote) {
      const auto b = static_cast<unsigned char>(text_[j]);
      if (b < 0x20 || b == '\\' || b == 0x7F) return {Tok::Unsure, 0, 0};
      if (b < 0x80) {
        ++j;
        continue;
      }
      std::uint32_t len = 0;
      const char32_t decoded = text::utf8::decode(text_, j, len);
      if (decoded == 0xFFFD && len == 1) return {Tok::Unsure, 0, 0};
      j += len;
    }
    if (j == n) return {Tok::Unsure, 0, 0};
    if (j == i + 1 && j + 1 < n && text_[j + 1] == quote) return {Tok::Unsure, 0, 0};
    ++j;
    // A name, number or string touching the quote is left to the parser.
    if (j < n && (is_ident_continue(text_[j]) || static_cast<unsigned char>(text_[j]) >= 0x80)) {
      return {Tok::Unsure, 0, 0};
    }
    return {Tok::String, static_cast<std::uint32_t>(i), static_cast<std::uint32_t>(j)};
  }

  bool eat(Tok kind) { return current_.kind == kind && advance(); }

  struct Depth {
    explicit Depth(int& d) : d_(d) { ++d_; }
    ~Depth() { --d_; }
    bool ok() const { return d_ <= kMaxDepth; }
    int& d_;
  };

  // expression: disjunction ['if' disjunction 'else' expression]
  bool expression() {
    Depth depth(depth_);
    if (!depth.ok() || !disjunction()) return false;
    if (current_.kind != Tok::If) return true;
    return advance() && disjunction() && eat(Tok::Else) && expression();
  }

  // operand (operator operand)*, for the left-associative levels.
  bool chain(bool (Recogniser::*operand)(), Tok op, Tok other_op) {
    if (!(this->*operand)()) return false;
    while (current_.kind == op || current_.kind == other_op) {
      if (!advance() || !(this->*operand)()) return false;
    }
    return true;
  }

  bool disjunction() { return chain(&Recogniser::conjunction, Tok::Or, Tok::Or); }

  bool conjunction() { return chain(&Recogniser::inversion, Tok::And, Tok::And); }

  bool inversion() {
    int nots = 0;
    while (current_.kind == Tok::Not) {
      if (++nots > kMaxDepth || !advance()) return false;
    }
    return comparison();
  }

  // comparison: sum (op sum)*, op one of == != < > <= >= in, not in, is, is not
  bool comparison() {
    if (!sum()) return false;
    for (;;) {
      switch (current_.kind) {
        case Tok::Compare:
        case Tok::In:
          if (!advance()) return false;
          break;
        case Tok::Not:
          if (!advance() || !eat(Tok::In)) return false;
          break;
        case Tok::Is:
          if (!advance() || (current_.kind == Tok::Not && !advance())) return false;
          break;
        default: return true;
      }
      if (!sum()) return false;
    }
  }

  bool sum() { return chain(&Recogniser::term, Tok::Plus, Tok::Minus); }

  bool term() { return chain(&Recogniser::factor, Tok::Star, Tok::Star); }

  // factor: ('+' | '-' | '~') factor | primary ['**' factor]
  bool factor() {
    Depth depth(depth_);
    if (!depth.ok()) return false;
    if (current_.kind == Tok::Plus || current_.kind == Tok::Minus || current_.kind == Tok::Tilde) {
      return advance() && factor();
    }
    if (!primary()) return false;
    if (current_.kind != Tok::Power) return true;
    return advance() && factor();
  }

  bool primary() {
    if (!atom()) return false;
    for (;;) {
      switch (current_.kind) {
        case Tok::Dot:
          if (!advance() || !eat(Tok::Name)) return false;
          break;
        case Tok::LParen:
          if (!advance() || !arguments() || !eat(Tok::RParen)) return false;
          break;
        case Tok::LBracket:
          if (!advance() || !subscript() || !eat(Tok::RBracket)) return false;
          break;
        default: return true;
      }
    }
  }

  bool atom() {
    switch (current_.kind) {
      case Tok::Name:
        names_[name_count_++] = current_;  // one per lexeme at most
        return advance();
      case Tok::Number:
      case Tok::Constant: return advance();
      case Tok::String:
        while (current_.kind == Tok::String) {
          if (!advance()) return false;
        }
        return true;
      case Tok::LParen: return advance() && items(Tok::RParen) && eat(Tok::RParen);
      case Tok::LBracket: return advance() && items(Tok::RBracket) && eat(Tok::RBracket);
      default: return false;
    }
  }

  // Tuple or list items: nothing, or expressions separated by commas with an
  // optional trailing one.
  bool items(Tok close) {
    while (current_.kind != close) {
      if (!expression()) return false;
      if (current_.kind != Tok::Comma) break;
      if (!advance()) return false;
    }
    return true;
  }

  // Positional arguments, then keyword arguments with distinct names.
  bool arguments() {
    std::array<std::string_view, 8> keywords;
    std::size_t keyword_count = 0;
    while (current_.kind != Tok::RParen) {
      if (current_.kind == Tok::Name && lex(current_.end).kind == Tok::Assign) {
        const std::string_view keyword = text_.substr(current_.start, current_.end - current_.start);
        if (keyword_count == keywords.size()) return false;
        for (std::size_t k = 0; k < keyword_count; ++k) {
          if (keywords[k] == keyword) return false;
        }
        keywords[keyword_count++] = keyword;
        if (!advance() || !advance()) return false;
      } else if (keyword_count > 0) {
        return false;
      }
      if (!expression()) return false;
      if (current_.kind != Tok::Comma) break;
      if (!advance()) return false;
    }
    return true;
  }

  // One index or slice: [expression] [':' [expression] [':' [expression]]], not empty.
  bool subscript() {
    const bool lower = current_.kind != Tok::Colon;
    if (lower && !expression()) return false;
    if (current_.kind != Tok::Colon) return lower;
    for (int part = 0; part < 2 && current_.kind == Tok::Colon; ++part) {
      if (!advance()) return false;
      if (current_.kind != Tok::Colon && current_.kind != Tok::RBracket && !expression()) return false;
    }
    return true;
  }

  std::string_view text_;
  Lexeme current_{Tok::End, 0, 0};
  // A name is a lexeme, so the bound on lexemes sizes the names.
  std::array<Lexeme, kMaxLexemes> names_;
  std::size_t name_count_ = 0;
  int lexemes_ = 0;
  int depth_ = 0;
};

// `owner`, when given, holds `text` in its buffer; otherwise the names get
// one copy of the text to view into.
std::optional<ParsedExpression> read_simple(std::string_view text, const template_ast::TokenText* owner) {
  Recogniser recogniser(text);
  if (!recogniser.read()) return std::nullopt;
  ParsedExpression parsed;
  if (recogniser.names().empty()) return parsed;
  const template_ast::TokenText whole = owner ? *owner : template_ast::TokenText(text);
  parsed.used_variables.reserve(recogniser.names().size());
  // Lines end at line feeds alone (the only line break accepted); columns
  // count characters, which only strings may hold beyond ASCII.
  std::uint64_t line = 1;
  std::uint64_t column = 1;
  std::size_t scanned = 0;
  for (const Lexeme& name : recogniser.names()) {
    for (; scanned < name.start; ++scanned) {
      const char c = text[scanned];
      if (c == '\n') {
        ++line;
        column = 1;
      } else if (!text::utf8::is_continuation(static_cast<unsigned char>(c))) {
        ++column;
      }
    }
    const std::string_view spelled = whole.view().substr(name.start, name.end - name.start);
    parsed.used_variables.push_back(template_ast::Token{template_ast::TokenText::slice_of(whole, spelled), name.start,
                                                        name.end, template_ast::LineCol{line, column}});
  }
  return parsed;
}

}  // namespace

std::optional<ParsedExpression> parse_simple_expression(std::string_view text) { return read_simple(text, nullptr); }

std::optional<ParsedExpression> parse_simple_expression_sharing(const template_ast::TokenText& text) {
  return read_simple(text.view(), &text);
}

bool is_plain_python_name(std::string_view text) {
  if (text.empty() || !is_ident_start(text[0])) return false;
  for (const char c : text) {
    if (!is_ident_continue(c)) return false;
  }
  return pyexpr::keyword_kind(text) == TokenKind::Name;
}

}  // namespace lumra::template_compiler
