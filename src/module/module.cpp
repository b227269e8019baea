// Module entry point: PyInit__rust builds the module once per process and
// hands the same object to every later import.
#include <array>
#include <atomic>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <optional>
#include <thread>

#include "hashing/keyed_hash.h"
#include "module/classes.h"
#include "module/convert.h"
#include "module/functions.h"
#include "module/refs.h"
#include "module/tag_rules_class.h"
#include "template/ast/names.h"

namespace lumra::py {
namespace {

PyModuleDef rust_module_def = {
    .m_base = PyModuleDef_HEAD_INIT,
    .m_name = "_rust",
    .m_doc =
        "The single Python interface of lumra_core's native libraries.\n\n"
        "Each library is exposed as a submodule: html_transform, safe_eval and\n"
        "template_parser. The module's name must match the module name configured\n"
        "in the build settings of the lumra_core package.",
    .m_size = 0,
    .m_methods = nullptr,
    .m_slots = nullptr,
    .m_traverse = nullptr,
    .m_clear = nullptr,
    .m_free = nullptr,
};

// Appends `name` to module.__all__ (creating the list when missing) and sets
// the attribute.
void add_to_module(PyObject* module, PyObject* name, PyObject* value) {
  OwnedRef all = OwnedRef::steal_nullable(PyObject_GetAttrString(module, "__all__"));
  if (!all) {
    if (!PyErr_ExceptionMatches(PyExc_AttributeError)) throw PyErrAlreadySet{};
    PyErr_Clear();
    all = OwnedRef::steal(PyList_New(0));
    check(PyObject_SetAttrString(module, "__all__", all.get()));
  } else if (!PyList_Check(all.get())) {
    raise_cast_error(all.get(), "list");
  }
  if (PyList_Append(all.get(), name) < 0) {
    PyErr_Clear();
    internal_fault("could not append __name__ to __all__");
  }
  check(PyObject_SetAttr(module, name, value));
}

void add_named(PyObject* module, const char* name, PyObject* value) {
  OwnedRef key = OwnedRef::steal(PyUnicode_InternFromString(name));
  add_to_module(module, key.get(), value);
}

OwnedRef add_submodule(PyObject* parent, const char* name) {
  OwnedRef sub = OwnedRef::steal(PyModule_New(name));
  OwnedRef sub_name = OwnedRef::steal(PyObject_GetAttrString(sub.get(), "__name__"));
  add_to_module(parent, sub_name.get(), sub.get());
  return sub;
}

void add_function(PyObject* module, PyMethodDef* def) {
  OwnedRef module_name = OwnedRef::steal(PyModule_GetNameObject(module));
  OwnedRef fn = OwnedRef::steal(PyCFunction_NewEx(def, module, module_name.get()));
  OwnedRef fn_name = OwnedRef::steal(PyObject_GetAttrString(fn.get(), "__name__"));
  add_to_module(module, fn_name.get(), fn.get());
}

void add_class(PyObject* module, const char* name, PyTypeObject* type) {
  add_named(module, name, reinterpret_cast<PyObject*>(type));
}

template <std::size_t N>
void add_frozenset(PyObject* module, const char* name, const std::array<std::string_view, N>& items) {
  OwnedRef set = OwnedRef::steal(PyFrozenSet_New(nullptr));
  for (std::string_view item : items) {
    OwnedRef s = OwnedRef::steal(PyUnicode_FromStringAndSize(item.data(), static_cast<Py_ssize_t>(item.size())));
    check(PySet_Add(set.get(), s.get()));
  }
  add_named(module, name, set.get());
}

void build_module(PyObject* m) {
  {
    OwnedRef html = add_submodule(m, "html_transform");
    add_function(html.get(), &transform_html_method);
    add_function(html.get(), &mark_html_method);
  }
  {
    OwnedRef safe = add_submodule(m, "safe_eval");
    add_function(safe.get(), &safe_eval_method);
  }
  OwnedRef tp = add_submodule(m, "template_parser");
  PyObject* t = tp.get();
  add_function(t, &parse_template_method);
  add_function(t, &compile_template_method);
  add_class(t, "Token", token_type());
  add_class(t, "Comment", comment_type());
  add_class(t, "HtmlAttrKind", html_attr_kind_type());
  add_class(t, "FillDataField", fill_data_field_type());
  add_class(t, "FillDataPattern", fill_data_pattern_type());
  add_class(t, "HtmlAttr", html_attr_type());
  add_class(t, "HtmlStartTag", html_start_tag_type());
  add_class(t, "HtmlEndTag", html_end_tag_type());
  add_class(t, "Expr", expr_type());
  add_class(t, "Text", text_type());
  add_class(t, "Node", node_type());
  add_class(t, "TemplateElement", template_element_type());
  add_class(t, "StaticNamedSlot", static_named_slot_type());
  add_class(t, "Template", template_type());
  add_class(t, "TagRules", tag_rules_type());
  add_frozenset(t, "HTML_VOID_ELEMENTS", template_ast::kHtmlVoidElements);
  add_frozenset(t, "RESERVED_TAG_NAMES", template_ast::kReservedTagNames);
}

// The core's tables keyed by input hash under a key of their own, drawn from
// the system when the library loads. It is never taken from hash() of a
// str or bytes where that is random: an application that shows such a hash
// (an ETag, a cache key) would give the key away. Where PYTHONHASHSEED fixes
// hash(), the key follows it, so that a run can be repeated; hash() is then
// no secret anyway.

// The seed PYTHONHASHSEED names, unless the interpreter ignores the environment
// (-E, -I) or the variable is unset, "random" or not a seed.
std::optional<std::uint32_t> named_hash_seed() {
  PyObject* flags = PySys_GetObject("flags");  // borrowed
  if (flags == nullptr) return std::nullopt;
  OwnedRef ignore = OwnedRef::steal_nullable(PyObject_GetAttrString(flags, "ignore_environment"));
  const int ignored = ignore ? PyObject_IsTrue(ignore.get()) : -1;
  if (ignored != 0) {
    PyErr_Clear();
    return std::nullopt;
  }
  const char* text = std::getenv("PYTHONHASHSEED");
  if (text == nullptr || *text == '\0') return std::nullopt;
  std::uint64_t seed = 0;
  for (const char* c = text; *c != '\0'; ++c) {
    if (*c < '0' || *c > '9') return std::nullopt;
    seed = seed * 10 + static_cast<std::uint64_t>(*c - '0');
    if (seed > UINT32_MAX) return std::nullopt;
  }
  return static_cast<std::uint32_t>(seed);
}

void fix_hash_key() {
  const auto hash_of = [](const char* text) {
    OwnedRef bytes = OwnedRef::steal(PyBytes_FromString(text));
    const Py_hash_t hash = PyObject_Hash(bytes.get());
    if (hash == -1) throw PyErrAlreadySet{};
    return static_cast<std::uint64_t>(hash);
  };
  const std::optional<std::uint32_t> seed = named_hash_seed();
  if (!seed) return;
  // The variable may not be what the interpreter started with (it may have
  // been set since, or the interpreter configured otherwise): the key follows
  // the seed only if hash() is the hash that seed gives.
  constexpr const char* kFirst = "lumra_core table key, first half";
  std::uint64_t expected = hashing::siphash13(hashing::python_seed_key(*seed), kFirst);
  if (expected == static_cast<std::uint64_t>(-1)) expected = static_cast<std::uint64_t>(-2);
  const std::uint64_t first = hash_of(kFirst);
  if (first != expected) return;
  hashing::set_process_key({first, hash_of("lumra_core table key, second half")});
}

// The interpreter that first imported the module; -1 until then.
std::atomic<std::int64_t> owner_interpreter{-1};

// The built module (one strong reference kept for the life of the process).
// Building is serialised by build_mutex; a failed build leaves the slot
// empty so that the next import starts over.
PyObject* module_slot = nullptr;
std::mutex build_mutex;
std::atomic<std::thread::id> builder_thread{};

OwnedRef get_or_build_module() {
  if (module_slot != nullptr) return OwnedRef::incref(module_slot);
  if (builder_thread.load() == std::this_thread::get_id()) {
    raise(PyExc_ImportError, "_rust was imported again while it was being initialised");
  }
  std::unique_lock<std::mutex> lock(build_mutex, std::try_to_lock);
  if (!lock.owns_lock()) {
    // Another thread is building: wait for it without holding the GIL. The
    // GIL is taken back before anything (even a failed lock) goes further.
    PyThreadState* saved = PyEval_SaveThread();
    try {
      lock.lock();
    } catch (...) {
      PyEval_RestoreThread(saved);
      throw;
    }
    PyEval_RestoreThread(saved);
  }
  if (module_slot != nullptr) return OwnedRef::incref(module_slot);
  builder_thread.store(std::this_thread::get_id());
  struct ResetBuilder {
    ~ResetBuilder() { builder_thread.store(std::thread::id{}); }
  } reset;
  fix_hash_key();
  OwnedRef module = OwnedRef::steal(PyModule_Create2(&rust_module_def, 1013));
  build_module(module.get());
  module_slot = OwnedRef::incref(module.get()).release();
  return module;
}

}  // namespace

PyObject* init_rust_module() {
  return entry([]() -> OwnedRef {
    PyInterpreterState* interp = PyInterpreterState_Get();
    const std::int64_t id = PyInterpreterState_GetID(interp);
    if (id == -1) {
      if (!PyErr_Occurred()) {
        PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
      }
      throw PyErrAlreadySet{};
    }
    std::int64_t expected = -1;
    if (!owner_interpreter.compare_exchange_strong(expected, id) && expected != id) {
      raise(PyExc_ImportError,
            "PyO3 modules do not yet support subinterpreters, see https://github.com/PyO3/pyo3/issues/576");
    }
    return get_or_build_module();
  });
}

}  // namespace lumra::py

PyMODINIT_FUNC PyInit__rust() { return lumra::py::init_rust_module(); }
