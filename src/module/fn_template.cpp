// template_parser.parse_template and template_parser.compile_template: the
// order in which arguments are converted, language selection, and the
// mapping of parser and compiler errors to Python exceptions.
#include <fmt/format.h>

#include <optional>
#include <string>
#include <string_view>

#include "module/binder.h"
#include "module/classes.h"
#include "module/convert.h"
#include "module/functions.h"
#include "module/tag_rules_class.h"
#include "module/template_functions.h"
#include "template/compiler/backend.h"
#include "template/compiler/compiler.h"
#include "template/parser/parser.h"

namespace lumra::py {

namespace tc = template_compiler;
namespace tp = template_parser;

tc::Language select_language(std::optional<std::string_view> lang) {
  if (!lang) return tc::Language::Python;
  const std::string_view name = *lang;
  if (name == "python") return tc::Language::Python;
  if (name == "php") return tc::Language::Php;
  if (name == "js" || name == "javascript") return tc::Language::JavaScript;
  if (name == "go") return tc::Language::Go;
  if (name == "rust") return tc::Language::Rust;
  raise(PyExc_ValueError, fmt::format("Unknown language: '{}'. Supported: python, js, php, go, rust", name));
}

void raise_parse_error(const tp::TemplateParseError& error) {
  switch (error.kind()) {
    case tp::TemplateParseError::Kind::Grammar:
      raise(PyExc_SyntaxError, fmt::format("Parse error: {}", error.text()));
    case tp::TemplateParseError::Kind::Message:
      raise(PyExc_ValueError, fmt::format("Parse error: {}", error.text()));
  }
  internal_fault("Internal error: unknown template parse error kind");
}

void raise_compile_error(const tc::CompileError& error) {
  switch (error.kind) {
    case tc::CompileError::Kind::Syntax:
      raise(PyExc_SyntaxError, fmt::format("Compile error: {}", error.message));
    case tc::CompileError::Kind::Value:
      raise(PyExc_ValueError, fmt::format("Compile error: {}", error.message));
  }
  internal_fault("Internal error: unknown compile error kind");
}

namespace {

std::optional<std::string_view> optional_text(PyObject* obj) {
  return as_utf8(obj);
}

// Deep copy of the caller's rules. The entries are snapshotted first, so a
// dict changed while it is read (by a TagRules-like object's hooks, or by a
// str subclass' methods) gives a consistent copy rather than a fault.
tp::UserRules to_user_rules(PyObject* obj) {
  check_dict(obj);
  OwnedRef items = OwnedRef::steal(PyDict_Items(obj));
  tp::UserRules rules;
  const Py_ssize_t n = PyList_GET_SIZE(items.get());
  for (Py_ssize_t i = 0; i < n; ++i) {
    PyObject* pair = PyList_GET_ITEM(items.get(), i);
    std::string tag = to_string(PyTuple_GET_ITEM(pair, 0));
    template_ast::TagRules value = copy_of<template_ast::TagRules>(PyTuple_GET_ITEM(pair, 1));
    rules.insert_or_assign(std::move(tag), std::move(value));
  }
  return rules;
}

PyObject* parse_template(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"parse_template()", Param{"input"}, Param{"lang", Arg::Optional},
                             Param{"user_rules", Arg::Optional}};
  return entry([&]() -> OwnedRef {
    auto a = sig.bind(args, nargs, kwnames);
    const std::string_view input = a.convert(0, as_utf8);
    const std::optional<std::string_view> lang = a.convert_or(1, optional_text, std::nullopt);
    auto user_rules = std::make_shared<tp::UserRules>();
    if (a.has(2)) *user_rules = a.convert(2, to_user_rules);
    // The language is checked only after user_rules: a bad user_rules wins.
    const tc::Language language = select_language(lang);

    tp::ParserContext context;
    context.user_rules = std::move(user_rules);
    context.backend = tc::language_backend_for(language);
    context.source = template_ast::TokenText(input);
    tp::ParseResult result = tp::parse_template_text(context.source, context);
    if (auto* error = std::get_if<tp::TemplateParseError>(&result)) raise_parse_error(*error);
    return wrap(std::move(std::get<template_ast::Template>(result)));
  });
}

PyObject* compile_template(PyObject*, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) {
  static const Signature sig{"compile_template()", Param{"template"}, Param{"lang", Arg::Optional}};
  return entry([&]() -> OwnedRef {
    auto a = sig.bind(args, nargs, kwnames);
    // The compiler reads the tree in place: it never writes to it, and nothing
    // below runs Python code that could change it meanwhile.
    const template_ast::Template& tree = a.convert(0, unwrap<template_ast::Template>);
    const std::optional<std::string_view> lang = a.convert_or(1, optional_text, std::nullopt);
    const tc::Language language = select_language(lang);

    auto backend = tc::language_backend_for(language);
    tc::IrArena arena;
    tc::CompileResult compiled = tc::compile_elements(tree, arena);
    if (auto* error = std::get_if<tc::CompileError>(&compiled)) raise_compile_error(*error);
    tc::GenerateResult source = backend->generate_code(std::move(std::get<std::vector<tc::IrNode>>(compiled)));
    if (auto* error = std::get_if<tc::CompileError>(&source)) raise_compile_error(*error);
    return to_py(std::get<std::string>(source));
  });
}

}  // namespace

PyMethodDef parse_template_method = {
    "parse_template",
    fastcall_function(parse_template),
    METH_FASTCALL | METH_KEYWORDS,
    "parse_template(input, lang=None, user_rules=None)\n--\n\n"
    "Parse a Lumra template string into a Template AST.\n\n"
    "Args:\n"
    "    input (str): The template text.\n"
    "    lang (str, optional): The expression language, one of \"python\" (default),\n"
    "        \"js\", \"php\", \"go\", \"rust\".\n"
    "    user_rules (dict[str, TagRules], optional): Custom validation rules keyed by tag name.\n\n"
    "Returns:\n"
    "    Template: The parsed template.\n\n"
    "Raises:\n"
    "    SyntaxError: If the template syntax is invalid.\n"
    "    ValueError: If the language is unknown or the template breaks a rule of the\n"
    "        template language.",
};

PyMethodDef compile_template_method = {
    "compile_template",
    fastcall_function(compile_template),
    METH_FASTCALL | METH_KEYWORDS,
    "compile_template(template, lang=None)\n--\n\n"
    "Compile a parsed Template AST into host-language source code.\n\n"
    "For Python (the default) the output is the source of a function\n"
    "generate_template() that returns a list of runtime node objects.\n\n"
    "Args:\n"
    "    template (Template): The parsed tree from parse_template().\n"
    "    lang (str, optional): The target language, one of \"python\" (default), \"js\",\n"
    "        \"php\", \"go\", \"rust\".\n\n"
    "Returns:\n"
    "    str: The generated source code.\n\n"
    "Raises:\n"
    "    ValueError: If compilation fails or the language is unknown.",
};

}  // namespace lumra::py
