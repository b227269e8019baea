// Template parser entry: template text to the syntax tree, checked against
// the caller's and the built-in tag rules.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <variant>

#include "template/ast/ast.h"
#include "template/ast/tag_rules.h"
#include "template/compiler/backend.h"
#include "template/grammar/error.h"

namespace lumra::template_parser {

// Caller's rules by tag name.
using UserRules = std::map<std::string, template_ast::TagRules, std::less<>>;

// What one parse reads. The caller fills the first three members; the rest
// belong to the parser (nested templates in attribute values shift their
// positions through the offsets).
struct ParserContext {
  std::shared_ptr<const UserRules> user_rules;
  std::shared_ptr<const template_compiler::LanguageBackend> backend;
  std::shared_ptr<const std::string> source;

  std::uint64_t line_offset = 0;
  std::uint64_t column_offset = 0;
  std::uint64_t index_offset = 0;
};

class TemplateParseError {
 public:
  enum class Kind {
    // Positioned in the template: rendered in the grammar's error layout.
    Grammar,
    // A plain message (semantic checks carry their own "(line {}, column {})").
    Message,
    // The parser is not part of this build.
    Unavailable,
  };

  static TemplateParseError from_grammar(grammar::GrammarError error) {
    return TemplateParseError(Kind::Grammar, std::move(error));
  }
  static TemplateParseError from_message(std::string message) {
    return TemplateParseError(Kind::Message, std::move(message));
  }
  static TemplateParseError unavailable(std::string message) {
    return TemplateParseError(Kind::Unavailable, std::move(message));
  }

  Kind kind() const noexcept { return kind_; }
  // Non-null exactly for Kind::Grammar.
  const grammar::GrammarError* grammar_error() const noexcept { return std::get_if<grammar::GrammarError>(&detail_); }
  // The rendered layout for a grammar error, otherwise the message.
  std::string text() const {
    if (const auto* g = grammar_error()) return g->render();
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
