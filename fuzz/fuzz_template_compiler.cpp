// Template compiler over every template that parses: the tree compiles to
// Python source or gives a compile error a parsed template may earn (too deep
// a nesting, a bad <c-element> name, children of a void <c-element>, both 'is'
// and 'c-is'); "Internal error" messages and anything else abort.
//
// The source has the fixed frame of generate_template(), and the list it
// builds is one Python expression (checked with our own expression parser;
// tests/python/test_fuzz_corpus.py compiles the source of every seed with
// CPython).
//
// Input layout: a first byte 0xFF (never in UTF-8) selects a structured input
// (template_gen.h; the next byte picks the caller's rules and, by its high
// bit, tame tables); any other input is
// the template text itself.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <utility>
#include <variant>
#include <vector>

#include "harness.h"
#include "pyexpr/parser.h"
#include "template/compiler/compiler.h"
#include "template/compiler/messages.h"
#include "template_checks.h"
#include "template_gen.h"

namespace {

namespace tc = lumra::template_compiler;
using lumra::fuzz::matches_format;

constexpr std::size_t kMaxInput = 8192;
constexpr std::string_view kHead = "def generate_template():\n    body = ";
constexpr std::string_view kTail = "\n    return body\n";

bool is_expected_compile_error(const tc::CompileError& error) {
  namespace msg = tc::msg;
  if (error.kind == tc::CompileError::Kind::Syntax) {
    return matches_format(error.message, msg::kIsAndCIs) || matches_format(error.message, msg::kInvalidElementName) ||
           matches_format(error.message, msg::kVoidElementChildren);
  }
  return matches_format(error.message, msg::kNestedTooDeeply);
}

void check_compile_error(const tc::CompileError& error) {
  if (is_expected_compile_error(error)) return;
  std::fprintf(stderr, "unexpected compile error: %s\n", error.message.c_str());
  std::abort();
}

void check_source(std::string_view source) {
  FUZZ_CHECK(source.size() >= kHead.size() + kTail.size());
  FUZZ_CHECK(source.substr(0, kHead.size()) == kHead);
  FUZZ_CHECK(source.substr(source.size() - kTail.size()) == kTail);
  const std::string_view body = source.substr(kHead.size(), source.size() - kHead.size() - kTail.size());
  FUZZ_CHECK(body.front() == '[' && body.back() == ']');
  const auto parsed = lumra::pyexpr::parse_python_expression(body);
  if (!parsed) {
    std::fprintf(stderr, "generated source is not Python: %s\n%.*s\n", parsed.error().error.message().c_str(),
                 static_cast<int>(source.size()), source.data());
    std::abort();
  }
  FUZZ_CHECK(parsed.expr().is<lumra::pyexpr::ExprList>());
}

void compile_and_check(const lumra::template_ast::Template& tree) {
  tc::IrArena arena;
  tc::CompileResult compiled = tc::compile_elements(tree, arena);
  if (const auto* error = std::get_if<tc::CompileError>(&compiled)) return check_compile_error(*error);
  const auto backend = tc::language_backend_for(tc::Language::Python);
  tc::GenerateResult source = backend->generate_code(std::move(std::get<std::vector<tc::IrNode>>(compiled)));
  if (const auto* error = std::get_if<tc::CompileError>(&source)) return check_compile_error(*error);
  check_source(std::get<std::string>(source));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0 || size > kMaxInput) return 0;
  std::string text;
  auto rules = lumra::fuzz::pick_user_rules(0);
  if (data[0] == 0xFF) {
    if (size < 2) return 0;
    rules = lumra::fuzz::pick_user_rules(data[1]);
    lumra::fuzz::Choices choices(data + 2, size - 2);
    text = lumra::fuzz::TemplateWriter(choices, (data[1] & 0x80) != 0).write();
  } else {
    text.assign(reinterpret_cast<const char*>(data), size);
    if (!lumra::fuzz::is_valid_utf8(text)) return 0;
  }
  auto result = lumra::fuzz::parse_template(text, rules);
  if (const auto* tree = lumra::fuzz::parse_and_check(result, text)) compile_and_check(*tree);
  return 0;
}
