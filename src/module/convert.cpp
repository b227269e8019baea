#include "module/convert.h"

#include <fmt/format.h>

namespace lumra::py {

void raise_cast_error(PyObject* obj, std::string_view expected) {
  raise(PyExc_TypeError, fmt::format("'{}' object cannot be cast as '{}'", type_qualname(obj), expected));
}

PyObject* as_str(PyObject* obj) {
  if (!PyUnicode_Check(obj)) raise_cast_error(obj, "str");
  return obj;
}

std::string_view as_utf8(PyObject* obj) {
  as_str(obj);
  Py_ssize_t size = 0;
  const char* data = PyUnicode_AsUTF8AndSize(obj, &size);
  if (data == nullptr) throw PyErrAlreadySet{};
  return std::string_view(data, static_cast<std::size_t>(size));
}

bool to_bool(PyObject* obj) {
  if (obj == Py_True) return true;
  if (obj == Py_False) return false;
  raise_cast_error(obj, "bool");
}

std::uint64_t to_u64(PyObject* obj) {
  OwnedRef index = OwnedRef::steal(PyNumber_Index(obj));
  unsigned long long value = PyLong_AsUnsignedLongLong(index.get());
  if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) throw PyErrAlreadySet{};
  return static_cast<std::uint64_t>(value);
}

std::pair<std::uint64_t, std::uint64_t> to_u64_pair(PyObject* obj) {
  if (!PyTuple_Check(obj)) raise_cast_error(obj, "tuple");
  const Py_ssize_t n = PyTuple_GET_SIZE(obj);
  if (n != 2) {
    raise(PyExc_ValueError, fmt::format("expected tuple of length 2, but got tuple of length {}", n));
  }
  std::uint64_t first = to_u64(PyTuple_GET_ITEM(obj, 0));
  std::uint64_t second = to_u64(PyTuple_GET_ITEM(obj, 1));
  return {first, second};
}

void check_sequence(PyObject* obj) {
  if (PyUnicode_Check(obj)) raise(PyExc_TypeError, "Can't extract `str` to `Vec`");
  if (!PySequence_Check(obj)) raise_cast_error(obj, "Sequence");
}

Py_ssize_t length_hint_or_zero(PyObject* obj) noexcept {
  Py_ssize_t n = PySequence_Size(obj);
  if (n < 0) {
    PyErr_Clear();
    return 0;
  }
  return n;
}

std::vector<std::string> to_string_vector(PyObject* obj) {
  return to_vector<std::string>(obj, [](PyObject* item) { return to_string(item); });
}

std::vector<std::vector<std::string>> to_string_groups(PyObject* obj) {
  return to_vector<std::vector<std::string>>(obj, [](PyObject* item) { return to_string_vector(item); });
}

void check_dict(PyObject* obj) {
  if (!PyDict_Check(obj)) raise_cast_error(obj, "dict");
}

OwnedRef to_py(std::string_view text) { return new_str(text); }

OwnedRef to_py(std::uint64_t value) {
  return OwnedRef::steal(PyLong_FromUnsignedLongLong(static_cast<unsigned long long>(value)));
}

}  // namespace lumra::py
