// The binding layer driven inside an embedded interpreter: the mapping of
// every error kind to its exception (through stand-in errors), the entry
// guard's translation of C++ exceptions, and binder rules that no module
// function exercises.
#include <gtest/gtest.h>

#include <functional>
#include <new>
#include <optional>
#include <stdexcept>
#include <string>

#include "module/binder.h"
#include "module/refs.h"
#include "module/template_functions.h"

// The embedded interpreter is never finalized, so what it allocates for itself
// stays allocated at exit. Visible by name: the sanitizer runtime looks it up.
extern "C" __attribute__((visibility("default"))) const char* __asan_default_options() {
  return "detect_leaks=0";
}

namespace lumra::py {
namespace {

class PythonEnvironment : public ::testing::Environment {
 public:
  void SetUp() override { Py_InitializeEx(0); }
};
const auto* const python_env = ::testing::AddGlobalTestEnvironment(new PythonEnvironment);

struct Raised {
  std::string type;  // qualified "module.name" for non-builtins
  std::string message;
  bool is_exception_subclass = false;
};

// Takes the pending exception out of the interpreter.
Raised take_error() {
  Raised r;
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) return r;
  PyTypeObject* tp = Py_TYPE(exc);
  PyObject* mod = PyObject_GetAttrString(reinterpret_cast<PyObject*>(tp), "__module__");
  std::string module = mod && PyUnicode_Check(mod) ? PyUnicode_AsUTF8(mod) : "";
  Py_XDECREF(mod);
  r.type = module == "builtins" ? tp->tp_name : module + "." + tp->tp_name;
  if (PyObject* s = PyObject_Str(exc)) {
    r.message = PyUnicode_AsUTF8(s);
    Py_DECREF(s);
  }
  r.is_exception_subclass = PyObject_IsSubclass(reinterpret_cast<PyObject*>(tp), PyExc_Exception) == 1;
  Py_DECREF(exc);
  PyErr_Clear();
  return r;
}

template <class F>
Raised raised_by(F&& f) {
  try {
    f();
  } catch (const PyErrAlreadySet&) {
    return take_error();
  }
  ADD_FAILURE() << "no Python error raised";
  return {};
}

namespace tp = template_parser;
namespace tc = template_compiler;

TEST(ErrorMapping, ParseErrors) {
  const grammar::GrammarError positioned = grammar::GrammarError::at_pos("<c-if>", 1, "stand-in message");
  const std::string rendered = positioned.render();
  struct Case {
    tp::TemplateParseError error;
    const char* type;
    std::string message;
  };
  const Case cases[] = {
      {tp::TemplateParseError::from_grammar(positioned), "SyntaxError", "Parse error: " + rendered},
      {tp::TemplateParseError::from_message("Unclosed tag (line 1, column 2)"), "ValueError",
       "Parse error: Unclosed tag (line 1, column 2)"},
  };
  for (const Case& c : cases) {
    Raised r = raised_by([&] { raise_parse_error(c.error); });
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.message, c.message);
  }
  EXPECT_NE(rendered.find("stand-in message"), std::string::npos);
}

TEST(ErrorMapping, CompileErrors) {
  using K = tc::CompileError::Kind;
  const struct {
    K kind;
    const char* message;
    const char* type;
    std::string expected;
  } cases[] = {
      {K::Syntax, "<c-element>: 1x is not a valid HTML tag name", "SyntaxError",
       "Compile error: <c-element>: 1x is not a valid HTML tag name"},
      {K::Value, "Go code generation is not yet implemented", "ValueError",
       "Compile error: Go code generation is not yet implemented"},
      {K::Value, "Internal error: bad shape", "ValueError", "Compile error: Internal error: bad shape"},
  };
  for (const auto& c : cases) {
    Raised r = raised_by([&] { raise_compile_error(tc::CompileError{c.kind, c.message}); });
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.message, c.expected);
  }
}

TEST(LanguageSelection, Names) {
  const struct {
    std::optional<std::string_view> name;
    tc::Language lang;
  } good[] = {
      {std::nullopt, tc::Language::Python}, {"python", tc::Language::Python}, {"php", tc::Language::Php},
      {"js", tc::Language::JavaScript},     {"javascript", tc::Language::JavaScript},
      {"go", tc::Language::Go},             {"rust", tc::Language::Rust},
  };
  for (const auto& c : good) EXPECT_EQ(select_language(c.name), c.lang);
  for (std::string_view bad : {"Python", " python", "", "ts", "rust\n"}) {
    Raised r = raised_by([&] { select_language(bad); });
    EXPECT_EQ(r.type, "ValueError");
    EXPECT_EQ(r.message, "Unknown language: '" + std::string(bad) + "'. Supported: python, js, php, go, rust");
  }
}

TEST(LanguageSelection, BackendsOfOtherLanguagesRefuseToGenerate) {
  const struct {
    std::uint8_t code;
    const char* message;
  } cases[] = {
      {1, "PHP code generation is not yet implemented"},
      {2, "JavaScript code generation is not yet implemented"},
      {3, "Go code generation is not yet implemented"},
      {4, "Rust code generation is not yet implemented"},
      {200, "Rust code generation is not yet implemented"},
  };
  for (const auto& c : cases) {
    auto result = tc::language_backend_for(c.code)->generate_code({});
    const auto* error = std::get_if<tc::CompileError>(&result);
    ASSERT_NE(error, nullptr);
    EXPECT_EQ(error->kind, tc::CompileError::Kind::Value);
    EXPECT_EQ(error->message, c.message);
  }
}

TEST(EntryGuard, TranslatesCppExceptions) {
  const struct {
    std::function<void()> body;
    const char* type;
    const char* message;
    bool is_exception;
  } cases[] = {
      {[] { throw std::runtime_error("broken invariant"); }, "pyo3_runtime.PanicException", "broken invariant",
       false},
      {[] { internal_fault("could not append __name__ to __all__"); }, "pyo3_runtime.PanicException",
       "could not append __name__ to __all__", false},
      {[] { throw 42; }, "pyo3_runtime.PanicException", "unknown C++ exception", false},
      {[] { throw std::bad_alloc(); }, "MemoryError", "", true},
      {[] { throw PyErrAlreadySet{}; }, "SystemError", "attempted to fetch exception but none was set", true},
      {[] { raise(PyExc_KeyError, "k"); }, "KeyError", "'k'", true},
  };
  for (const auto& c : cases) {
    PyObject* result = entry([&]() -> OwnedRef {
      c.body();
      return OwnedRef::incref(Py_None);
    });
    EXPECT_EQ(result, nullptr);
    Raised r = take_error();
    EXPECT_EQ(r.type, c.type);
    EXPECT_EQ(r.message, c.message);
    EXPECT_EQ(r.is_exception_subclass, c.is_exception) << c.type;
  }
}

TEST(EntryGuard, IntEntryReturnsMinusOne) {
  EXPECT_EQ(entry_int([]() -> int { throw std::logic_error("x"); }), -1);
  EXPECT_EQ(take_error().type, "pyo3_runtime.PanicException");
  EXPECT_EQ(entry_int([] { return 7; }), 7);
  EXPECT_EQ(PyErr_Occurred(), nullptr);
}

TEST(EntryGuard, PanicExceptionIsOneBaseExceptionSubclass) {
  PyObject* type = panic_exception_type();
  ASSERT_NE(type, nullptr);
  EXPECT_EQ(type, panic_exception_type());
  EXPECT_EQ(PyObject_IsSubclass(type, PyExc_BaseException), 1);
  EXPECT_EQ(PyObject_IsSubclass(type, PyExc_Exception), 0);
}

// Signatures no module function has: keyword-only required parameters, and
// only keyword parameters.
TEST(Binder, KeywordOnlyRules) {
  static const Signature sig{"f()", Param{"a"}, Param{"k", Arg::Required, true}, Param{"j", Arg::Required, true}};
  OwnedRef one = OwnedRef::steal(PyLong_FromLong(1));
  PyObject* args[] = {one.get(), one.get()};
  Raised r = raised_by([&] { sig.bind(args, 1, nullptr); });
  EXPECT_EQ(r.message, "f() missing 2 required keyword arguments: 'k' and 'j'");
  r = raised_by([&] { sig.bind(args, 2, nullptr); });
  EXPECT_EQ(r.message, "f() takes 1 positional arguments but 2 were given");

  static const Signature kw_only{"g()", Param{"k", Arg::Optional, true}};
  r = raised_by([&] { kw_only.bind(args, 1, nullptr); });
  EXPECT_EQ(r.message, "g() takes 0 positional arguments but 1 was given");
}

TEST(Binder, OptionalNoneIsAbsentDefaultedNoneIsValue) {
  static const Signature sig{"h()", Param{"o", Arg::Optional}, Param{"d", Arg::Defaulted}};
  PyObject* args[] = {Py_None, Py_None};
  auto bound = sig.bind(args, 2, nullptr);
  EXPECT_FALSE(bound.has(0));
  EXPECT_TRUE(bound.has(1));
  EXPECT_EQ(bound[1], Py_None);
}

}  // namespace
}  // namespace lumra::py
