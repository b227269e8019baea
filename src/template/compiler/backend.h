// Language backends: everything that depends on the host language of a
// template (its expressions, its loop clauses, the generated source) goes
// through LanguageBackend, one implementation per language. Backends hold no
// state; a handle is shared for the duration of one call.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "template/ast/ast.h"
#include "template/compiler/errors.h"
#include "template/compiler/ir.h"

namespace lumra::template_compiler {

enum class Language : std::uint8_t {
  Python = 0,
  Php = 1,
  JavaScript = 2,
  Go = 3,
  Rust = 4,
};

// What a template expression uses, positions relative to the expression text.
struct ParsedExpression {
  template_ast::List<template_ast::Token> used_variables;
  template_ast::List<template_ast::Token> assigned_variables;
  template_ast::List<template_ast::Comment> comments;
};

// Names bound and read by a <c-for> clause, positions relative to `each`.
struct LoopVariables {
  template_ast::List<template_ast::Token> loop_variables;
  template_ast::List<template_ast::Token> used_variables;
};

// Errors of the first two operations are plain messages.
using ParseExpressionResult = std::variant<ParsedExpression, std::string>;
using LoopVariablesResult = std::variant<LoopVariables, std::string>;
// Source text, or a CompileError (kind Value for a backend's own message).
using GenerateResult = std::variant<std::string, CompileError>;

class LanguageBackend {
 public:
  virtual ~LanguageBackend() = default;
  virtual ParseExpressionResult parse_expression(std::string_view text) const = 0;
  // parse_expression's answer for the texts a backend reads in one quick
  // pass, names viewing into `text`'s buffer; nothing for every other text.
  // Callers may keep parse_expression's answers for repeats; these cost
  // less to read again than to keep.
  virtual std::optional<ParsedExpression> parse_expression_quickly(const template_ast::TokenText&) const {
    return std::nullopt;
  }
  virtual LoopVariablesResult extract_loop_variables(std::string_view each) const = 0;
  // A loop header written as an element's `c-for` value is also read as an
  // expression; where parse_expression refused it with `refusal` only for
  // levels that the header's reading adds, the expression's answer.
  virtual std::optional<ParsedExpression> parse_loop_header_past_limit(std::string_view,
                                                                       const std::string& /*refusal*/) const {
    return std::nullopt;
  }
  // Takes the top-level nodes the compiler produced.
  virtual GenerateResult generate_code(std::vector<IrNode> nodes) const = 0;
};

// Backend of a language code; 4 and every higher code select Rust. Never fails.
std::shared_ptr<const LanguageBackend> language_backend_for(std::uint8_t code);
inline std::shared_ptr<const LanguageBackend> language_backend_for(Language lang) {
  return language_backend_for(static_cast<std::uint8_t>(lang));
}

}  // namespace lumra::template_compiler
