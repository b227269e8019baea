// Language selection and error mapping of the template functions, exposed
// for tests of the mapping.
#pragma once

#include <optional>
#include <string_view>

#include "module/refs.h"
#include "template/compiler/backend.h"
#include "template/compiler/errors.h"
#include "template/parser/parser.h"

namespace lumra::py {

// "python" (or absent), "php", "js"/"javascript", "go", "rust"; anything else:
// ValueError "Unknown language: '{}'. Supported: python, js, php, go, rust".
template_compiler::Language select_language(std::optional<std::string_view> lang);

// Grammar -> SyntaxError "Parse error: {rendered}", Message -> ValueError
// "Parse error: {message}". Always throws PyErrAlreadySet.
[[noreturn]] void raise_parse_error(const template_parser::TemplateParseError& error);

// Syntax -> SyntaxError, Value -> ValueError, both "Compile error: {message}".
[[noreturn]] void raise_compile_error(const template_compiler::CompileError& error);

}  // namespace lumra::py
