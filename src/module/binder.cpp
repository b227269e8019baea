#include "module/binder.h"

#include <fmt/format.h>

#include <string>
#include <vector>

namespace lumra::py {
namespace {

std::size_t positional_capacity(const SignatureView& sig) {
  std::size_t n = 0;
  for (const Param& p : sig.params) {
    if (!p.keyword_only) ++n;
  }
  return n;
}

std::size_t required_positional(const SignatureView& sig) {
  std::size_t n = 0;
  for (const Param& p : sig.params) {
    if (!p.keyword_only && p.kind == Arg::Required) ++n;
  }
  return n;
}

[[noreturn]] void too_many_positional(const SignatureView& sig, Py_ssize_t given) {
  const std::size_t capacity = positional_capacity(sig);
  const std::size_t required = required_positional(sig);
  const char* verb = given == 1 ? "was" : "were";
  std::string msg =
      required == capacity
          ? fmt::format("{} takes {} positional arguments but {} {} given", sig.display_name, capacity, given, verb)
          : fmt::format("{} takes from {} to {} positional arguments but {} {} given", sig.display_name, required,
                        capacity, given, verb);
  raise(PyExc_TypeError, msg);
}

// 'a'; 'a' and 'b'; 'a', 'b', and 'c'
std::string join_names(const std::vector<const char*>& names) {
  std::string out;
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (i != 0) {
      if (names.size() > 2) out += ',';
      out += i + 1 == names.size() ? " and " : " ";
    }
    out += '\'';
    out += names[i];
    out += '\'';
  }
  return out;
}

[[noreturn]] void missing_arguments(const SignatureView& sig, const char* kind, const std::vector<const char*>& names) {
  raise(PyExc_TypeError, fmt::format("{} missing {} required {} {}: {}", sig.display_name, names.size(), kind,
                                     names.size() == 1 ? "argument" : "arguments", join_names(names)));
}

// Index of the parameter named `key`, or -1. Interned names match by pointer.
Py_ssize_t find_param(const SignatureView& sig, PyObject* key) {
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    if (sig.interned[i] == nullptr) {
      sig.interned[i] = PyUnicode_InternFromString(sig.params[i].name);
      if (sig.interned[i] == nullptr) throw PyErrAlreadySet{};
    }
    if (sig.interned[i] == key) return static_cast<Py_ssize_t>(i);
  }
  if (!PyUnicode_Check(key)) return -1;
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    // Both sides are str; the comparison cannot fail.
    if (PyUnicode_Compare(sig.interned[i], key) == 0) return static_cast<Py_ssize_t>(i);
  }
  if (PyErr_Occurred()) throw PyErrAlreadySet{};
  return -1;
}

void place_keyword(const SignatureView& sig, PyObject* key, PyObject* value, PyObject** out) {
  Py_ssize_t i = find_param(sig, key);
  if (i < 0) {
    // str() of a str subclass may run Python code; the key is only borrowed.
    OwnedRef keep = OwnedRef::incref(key);
    OwnedRef text = OwnedRef::steal(PyObject_Str(key));
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(text.get(), &size);
    if (utf8 == nullptr) throw PyErrAlreadySet{};
    raise(PyExc_TypeError, fmt::format("{} got an unexpected keyword argument '{}'", sig.display_name,
                                       std::string_view(utf8, static_cast<std::size_t>(size))));
  }
  if (out[i] != nullptr) {
    raise(PyExc_TypeError,
          fmt::format("{} got multiple values for argument '{}'", sig.display_name, sig.params[i].name));
  }
  out[i] = value;
}

void finish(const SignatureView& sig, PyObject** out) {
  std::vector<const char*> missing;
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    const Param& p = sig.params[i];
    if (!p.keyword_only && p.kind == Arg::Required && out[i] == nullptr) missing.push_back(p.name);
  }
  if (!missing.empty()) missing_arguments(sig, "positional", missing);
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    const Param& p = sig.params[i];
    if (p.keyword_only && p.kind == Arg::Required && out[i] == nullptr) missing.push_back(p.name);
  }
  if (!missing.empty()) missing_arguments(sig, "keyword", missing);
  for (std::size_t i = 0; i < sig.params.size(); ++i) {
    if (sig.params[i].kind == Arg::Optional && out[i] == Py_None) out[i] = nullptr;
  }
}

void place_positional(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs, PyObject** out) {
  const std::size_t capacity = positional_capacity(sig);
  if (static_cast<std::size_t>(nargs) > capacity) too_many_positional(sig, nargs);
  // Positional parameters come first in declaration order.
  for (Py_ssize_t i = 0; i < nargs; ++i) out[i] = args[i];
}

}  // namespace

void bind_fastcall(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames,
                   PyObject** out) {
  nargs = PyVectorcall_NARGS(nargs);
  for (std::size_t i = 0; i < sig.params.size(); ++i) out[i] = nullptr;
  place_positional(sig, args, nargs, out);
  if (kwnames != nullptr) {
    const Py_ssize_t nkw = PyTuple_GET_SIZE(kwnames);
    for (Py_ssize_t k = 0; k < nkw; ++k) {
      place_keyword(sig, PyTuple_GET_ITEM(kwnames, k), args[nargs + k], out);
    }
  }
  finish(sig, out);
}

void bind_tuple_dict(const SignatureView& sig, PyObject* args, PyObject* kwargs, PyObject** out) {
  for (std::size_t i = 0; i < sig.params.size(); ++i) out[i] = nullptr;
  const Py_ssize_t nargs = PyTuple_GET_SIZE(args);
  place_positional(sig, &PyTuple_GET_ITEM(args, 0), nargs, out);
  if (kwargs != nullptr) {
    Py_ssize_t pos = 0;
    PyObject* key = nullptr;
    PyObject* value = nullptr;
    while (PyDict_Next(kwargs, &pos, &key, &value)) place_keyword(sig, key, value, out);
  }
  finish(sig, out);
}

void prefix_argument_error(const char* name) noexcept {
  PyObject* exc = PyErr_GetRaisedException();
  if (exc == nullptr) return;
  if (Py_TYPE(exc) != reinterpret_cast<PyTypeObject*>(PyExc_TypeError)) {
    PyErr_SetRaisedException(exc);
    return;
  }
  PyObject* text = PyObject_Str(exc);
  if (text == nullptr) {
    // Reporting the original beats losing both.
    PyErr_Clear();
    PyErr_SetRaisedException(exc);
    return;
  }
  PyObject* message = PyUnicode_FromFormat("argument '%s': %U", name, text);
  Py_DECREF(text);
  if (message == nullptr) {
    Py_DECREF(exc);
    return;
  }
  PyObject* wrapped = PyObject_CallOneArg(PyExc_TypeError, message);
  Py_DECREF(message);
  if (wrapped == nullptr) {
    Py_DECREF(exc);
    return;
  }
  // Setting the cause (even an absent one) also sets __suppress_context__,
  // as `raise ... from cause` does.
  PyException_SetCause(wrapped, PyException_GetCause(exc));  // steals the new reference (or null)
  Py_DECREF(exc);
  PyErr_SetRaisedException(wrapped);
}

}  // namespace lumra::py
