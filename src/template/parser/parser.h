// Template parser entry: template text to the syntax tree, checked against
// the caller's and the built-in tag rules.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <variant>
#include <vector>

#include "hashing/keyed_hash.h"
#include "template/ast/ast.h"
#include "template/ast/tag_rules.h"
#include "template/compiler/backend.h"
#include "template/grammar/error.h"
#include "template/parser/tag_rule_index.h"

namespace lumra::template_parser {

// Caller's rules by tag name.
using UserRules = std::map<std::string, template_ast::TagRules, std::less<>>;

// The variables introduced inside template-valued attribute values, keyed by
// the attribute's span (start_index, end_index). One registry serves a root
// parse and every template nested in its attribute values. Only attributes of
// kind Template are filed, so only they are looked up. Spans are positions in
// the input, which its author chooses: they are hashed under the process's
// key like names.
struct AttributeSpanHash {
  // Not noexcept, as TextHash: the nodes keep their hashes.
  std::size_t operator()(const std::pair<std::uint64_t, std::uint64_t>& span) const {
    char bytes[16];
    std::memcpy(bytes, &span.first, 8);
    std::memcpy(bytes + 8, &span.second, 8);
    return hashing::hash_text(std::string_view(bytes, sizeof bytes));
  }
};
using AttributeVariables =
    std::unordered_map<std::pair<std::uint64_t, std::uint64_t>, template_ast::List<template_ast::Token>,
                       AttributeSpanHash>;

// The backend's answers by text, for one parse and the templates nested in
// it. Pages repeat the same expressions and loop headers many times over; an
// answer depends on the text alone (its positions are relative to the text),
// so a repeat costs a lookup. Only successes are kept: a failure ends the parse.
struct BackendMemo {
  struct TextEqual {
    using is_transparent = void;
    bool operator()(std::string_view a, std::string_view b) const noexcept { return a == b; }
  };
  // Keyed by the token's own text: sharing its buffer costs no copy.
  template <class Value>
  using ByText = std::unordered_map<template_ast::TokenText, Value, hashing::TextHash, TextEqual>;

  ByText<template_compiler::ParsedExpression> expressions;
  ByText<template_compiler::LoopVariables> loop_clauses;
};

// What one parse reads. The caller fills the first three members; the rest
// belong to the parser. A template nested in an attribute value is parsed with
// a copy that shares the six shared members and shifts positions through the
// three offsets.
struct ParserContext {
  std::shared_ptr<const UserRules> user_rules;
  std::shared_ptr<const template_compiler::LanguageBackend> backend;
  // The whole input of parse_template: every error position refers to it,
  // and tokens parsed from it view into its buffer.
  template_ast::TokenText source;
  std::shared_ptr<AttributeVariables> attribute_variables = std::make_shared<AttributeVariables>();
  std::shared_ptr<BackendMemo> memo = std::make_shared<BackendMemo>();
  std::shared_ptr<TagRuleIndexes> rule_indexes = std::make_shared<TagRuleIndexes>();

  // Lines added to every token's line; columns added to a token on the parsed
  // text's first line; bytes added to every offset. All 0 at the top level.
  std::uint64_t line_offset = 0;
  std::uint64_t column_offset = 0;
  std::uint64_t index_offset = 0;
  // Templates nested in attribute values around this parse.
  std::uint32_t nesting = 0;
};

class TemplateParseError {
 public:
  enum class Kind {
    // Positioned in the template: rendered in the grammar's error layout.
    Grammar,
    // A plain message (semantic checks carry their own "(line {}, column {})").
    Message,
  };

  static TemplateParseError from_grammar(grammar::GrammarError error) {
    return TemplateParseError(Kind::Grammar, std::move(error));
  }
  static TemplateParseError from_message(std::string message) {
    return TemplateParseError(Kind::Message, std::move(message));
  }

  Kind kind() const noexcept { return kind_; }
  // Non-null exactly for Kind::Grammar.
  const grammar::GrammarError* grammar_error() const noexcept { return std::get_if<grammar::GrammarError>(&detail_); }
  // The rendered layout for a grammar error, otherwise the message.
  std::string text() const {
    if (const auto* g = grammar_error()) return g->render();
    return std::get<std::string>(detail_);
  }
  // The message alone (a grammar error's custom message or rule lists).
  std::string message() const {
    if (const auto* g = grammar_error()) return g->message();
    return std::get<std::string>(detail_);
  }

 private:
  TemplateParseError(Kind kind, std::variant<grammar::GrammarError, std::string> detail)
      : kind_(kind), detail_(std::move(detail)) {}
  Kind kind_;
  std::variant<grammar::GrammarError, std::string> detail_;
};

using ParseResult = std::variant<template_ast::Template, TemplateParseError>;

// Parses `text` (the whole input, or a nested template) with `context`.
ParseResult parse_template_text(std::string_view text, ParserContext& context);

}  // namespace lumra::template_parser
