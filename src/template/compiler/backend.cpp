#include "template/compiler/backend.h"

#include <utility>

#include "template/compiler/python_backend.h"

namespace lumra::template_compiler {
namespace {

// Languages whose backend only names what it cannot do yet. Every operation
// answers with its fixed message, built anew on each call.
class UnsupportedBackend final : public LanguageBackend {
 public:
  UnsupportedBackend(const char* parse_msg, const char* loop_msg, const char* generate_msg)
      : parse_msg_(parse_msg), loop_msg_(loop_msg), generate_msg_(generate_msg) {}

  ParseExpressionResult parse_expression(std::string_view) const override { return std::string(parse_msg_); }
  LoopVariablesResult extract_loop_variables(std::string_view) const override { return std::string(loop_msg_); }
  GenerateResult generate_code(std::vector<IrNode>) const override {
    return CompileError{CompileError::Kind::Value, generate_msg_};
  }

 private:
  const char* parse_msg_;
  const char* loop_msg_;
  const char* generate_msg_;
};

class PythonBackend final : public LanguageBackend {
 public:
  ParseExpressionResult parse_expression(std::string_view text) const override { return python_parse_expression(text); }
  std::optional<ParsedExpression> parse_expression_quickly(const template_ast::TokenText& text) const override {
    return parse_simple_expression_sharing(text);
  }
  LoopVariablesResult extract_loop_variables(std::string_view each) const override {
    return python_extract_loop_variables(each);
  }
  std::optional<ParsedExpression> parse_loop_header_past_limit(std::string_view each,
                                                               const std::string& refusal) const override {
    return python_parse_loop_header_past_limit(each, refusal);
  }
  GenerateResult generate_code(std::vector<IrNode> nodes) const override {
    return wrap_generate_template(std::move(nodes));
  }
};

}  // namespace

std::shared_ptr<const LanguageBackend> language_backend_for(std::uint8_t code) {
  switch (code) {
    case 0:
      return std::make_shared<const PythonBackend>();
    case 1:
      return std::make_shared<const UnsupportedBackend>("PHP expression parsing is not yet implemented",
                                                        "PHP foreach loop variable extraction is not yet implemented",
                                                        "PHP code generation is not yet implemented");
    case 2:
      return std::make_shared<const UnsupportedBackend>(
          "JavaScript/TypeScript expression parsing is not yet implemented",
          "JavaScript for-loop variable extraction is not yet implemented",
          "JavaScript code generation is not yet implemented");
    case 3:
      return std::make_shared<const UnsupportedBackend>(
          "Go expression parsing is not yet implemented. Expressions use Expr or CEL-Go syntax, not raw Go code.",
          "Go for-loop variable extraction is not yet implemented. Expressions use Expr or CEL-Go syntax, not raw "
          "Go code.",
          "Go code generation is not yet implemented");
    default:
      return std::make_shared<const UnsupportedBackend>(
          "Rust expression parsing is not yet implemented. Expressions use CEL-Rust, fasteval, or evalexpr syntax, "
          "not raw Rust code.",
          "Rust for-loop variable extraction is not yet implemented. Expressions use CEL-Rust, fasteval, or evalexpr "
          "syntax, not raw Rust code.",
          "Rust code generation is not yet implemented");
  }
}

}  // namespace lumra::template_compiler
