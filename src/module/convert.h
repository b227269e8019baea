// Conversions between Python objects and native values.
//
// Python -> native: functions named as_*/to_* take a borrowed PyObject* and
// throw PyErrAlreadySet with the usual message on a wrong type:
// TypeError "'{type}' object cannot be cast as '{expected}'". Run them
// through BoundArgs::convert() to get the "argument '{name}': " prefix.
//
// native -> Python: the to_py() overloads return an OwnedRef to a new object
// built from a copy of the value (text -> str, unsigned -> int, bool -> bool,
// optional -> value or None, vector -> list, pair -> tuple, map -> dict, and
// every record that has a PyClass<T> -> a new instance of its class).
#pragma once

#include <algorithm>
#include <concepts>
#include <cstdint>
#include <map>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "module/refs.h"

namespace lumra::template_ast {
template <class T>
class HeapOptional;
template <class T>
class SharedList;
struct Token;
}  // namespace lumra::template_ast

namespace lumra::py {

// TypeError "'{qualname of obj's type}' object cannot be cast as '{expected}'".
[[noreturn]] void raise_cast_error(PyObject* obj, std::string_view expected);

// ---- Python -> native ------------------------------------------------------

// The object itself when it is a str (or subclass), for callers that read its
// storage in place; else the cast error naming 'str'.
PyObject* as_str(PyObject* obj);

// UTF-8 text of a str (or subclass). The view lives as long as `obj`. A lone
// surrogate raises the interpreter's UnicodeEncodeError.
std::string_view as_utf8(PyObject* obj);
inline std::string to_string(PyObject* obj) { return std::string(as_utf8(obj)); }

// Exactly True or False; anything else: cast error naming 'bool'.
bool to_bool(PyObject* obj);

// Any object with __index__ whose value fits 0..2^64-1. A non-integer raises
// the interpreter's TypeError; out of range raises its OverflowError.
std::uint64_t to_u64(PyObject* obj);

// A tuple (or subclass) of exactly two integers. Wrong length:
// ValueError "expected tuple of length 2, but got tuple of length {n}".
std::pair<std::uint64_t, std::uint64_t> to_u64_pair(PyObject* obj);

// Sequence conversion: a str is refused ("Can't extract `str` to `Vec`"),
// anything failing the interpreter's sequence check gives the cast error
// naming 'Sequence'; items are taken by iteration and converted with `item`.
void check_sequence(PyObject* obj);
Py_ssize_t length_hint_or_zero(PyObject* obj) noexcept;

// Most items reserved up front from a sequence's reported length: __len__ is
// Python code and may claim far more items than iteration gives.
inline constexpr Py_ssize_t kMaxReservedItems = 4096;

template <class T, class Out = std::vector<T>, class ItemConv>
Out to_vector(PyObject* obj, ItemConv&& item) {
  check_sequence(obj);
  Out out;
  out.reserve(static_cast<std::size_t>(std::min(length_hint_or_zero(obj), kMaxReservedItems)));
  OwnedRef iter = OwnedRef::steal(PyObject_GetIter(obj));
  while (PyObject* raw = PyIter_Next(iter.get())) {
    OwnedRef element = OwnedRef::steal(raw);
    out.push_back(item(element.get()));
  }
  if (PyErr_Occurred()) throw PyErrAlreadySet{};
  return out;
}

std::vector<std::string> to_string_vector(PyObject* obj);
std::vector<std::vector<std::string>> to_string_groups(PyObject* obj);

// A dict (or subclass), else the cast error naming 'dict'.
void check_dict(PyObject* obj);

// ---- native -> Python ------------------------------------------------------

inline OwnedRef none() { return OwnedRef::incref(Py_None); }

OwnedRef to_py(std::string_view text);
inline OwnedRef to_py(const std::string& text) { return to_py(std::string_view(text)); }
inline OwnedRef to_py(const char* text) { return to_py(std::string_view(text)); }
OwnedRef to_py(std::uint64_t value);
template <class B>
  requires std::same_as<B, bool>
OwnedRef to_py(B value) {
  return OwnedRef::incref(value ? Py_True : Py_False);
}

// A native record with a Python class: specialise PyClass<T> (see pyclass.h).
template <class T>
struct PyClass;
template <class T>
concept HasPyClass = requires { PyClass<T>::type(); };
template <HasPyClass T>
OwnedRef to_py(const T& value);

template <class T>
OwnedRef to_py(const std::optional<T>& value);
template <class T>
OwnedRef to_py(const template_ast::HeapOptional<T>& value);
template <class T, class A>
OwnedRef to_py(const std::vector<T, A>& values);
template <class A, class B>
OwnedRef to_py(const std::pair<A, B>& value);
template <class K, class V, class C>
OwnedRef to_py(const std::map<K, V, C>& values);

template <class T>
OwnedRef to_py(const std::optional<T>& value) {
  if (!value) return none();
  return to_py(*value);
}

template <class T>
OwnedRef to_py(const template_ast::HeapOptional<T>& value) {
  if (!value) return none();
  return to_py(*value);
}

// A Python list of the items.
template <class T>
OwnedRef to_py_list(std::span<const T> values) {
  OwnedRef list = OwnedRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
  for (std::size_t i = 0; i < values.size(); ++i) {
    PyList_SET_ITEM(list.get(), static_cast<Py_ssize_t>(i), to_py(values[i]).release());
  }
  return list;
}

template <class T, class A>
OwnedRef to_py(const std::vector<T, A>& values) {
  return to_py_list(std::span<const T>(values));
}

template <class T>
OwnedRef to_py(const template_ast::SharedList<T>& values) {
  // A list that leaves names out is built here, when Python reads it.
  const template_ast::SharedList<T> flat = values.flat();
  return to_py_list(flat.span());
}

template <class A, class B>
OwnedRef to_py(const std::pair<A, B>& value) {
  OwnedRef first = to_py(value.first);
  OwnedRef second = to_py(value.second);
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(2));
  PyTuple_SET_ITEM(tuple.get(), 0, first.release());
  PyTuple_SET_ITEM(tuple.get(), 1, second.release());
  return tuple;
}

template <class K, class V, class C>
OwnedRef to_py(const std::map<K, V, C>& values) {
  OwnedRef dict = OwnedRef::steal(PyDict_New());
  for (const auto& [key, value] : values) {
    OwnedRef k = to_py(key);
    OwnedRef v = to_py(value);
    check(PyDict_SetItem(dict.get(), k.get(), v.get()));
  }
  return dict;
}

}  // namespace lumra::py
