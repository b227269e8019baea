// Argument conversions shared by the syntax-tree classes (classes_*.cpp).
//
// Every conversion copies what it reads at once and keeps a strong reference
// to anything it still needs, so Python code that runs meanwhile (a
// sequence's __iter__, a __index__, ...) cannot pull an object away under it.
#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <vector>

#include "module/binder.h"
#include "module/classes.h"
#include "module/convert.h"
#include "module/pyclass.h"

namespace lumra::py {

// Strong references to the bound arguments for the duration of a
// constructor, on top of the borrowed ones the binder hands out.
template <std::size_t N>
class HeldArgs {
 public:
  explicit HeldArgs(const BoundArgs<N>& bound) {
    for (std::size_t i = 0; i < N; ++i) refs_[i] = OwnedRef::incref(bound[i]);
  }

 private:
  std::array<OwnedRef, N> refs_;
};

// An instance of T's class (or a subclass); the stored value is copied.
template <HasPyClass T>
T record_arg(PyObject* obj) {
  return copy_of<T>(obj);
}

// None, or an instance of T's class.
template <HasPyClass T>
std::optional<T> optional_record_arg(PyObject* obj) {
  if (obj == Py_None) return std::nullopt;
  return copy_of<T>(obj);
}

// A sequence (not a str) whose items are all instances of T's class.
template <HasPyClass T>
template_ast::List<T> records_arg(PyObject* obj) {
  return to_vector<T, template_ast::List<T>>(obj, [](PyObject* item) { return copy_of<T>(item); });
}

// True or False; a NumPy boolean scalar is also taken through its __bool__.
bool bool_arg(PyObject* obj);

// None, True or False.
std::optional<bool> optional_bool_arg(PyObject* obj);

// A str of exactly one character: ValueError "expected a string of length 1"
// otherwise (no argument prefix: it is not a TypeError).
char32_t char_arg(PyObject* obj);

// Getter body: a new object built from `make(value_of<T>(self))`.
template <class T, class F>
PyObject* getter(PyObject* self, F&& make) {
  return entry([&] { return make(value_of<T>(self)); });
}

}  // namespace lumra::py
