// The class mechanism: Python classes whose instances each own one native
// value, created as heap types from a PyType_Spec on first use.
//
// Layout: an instance is a PyObject header followed by the native value T
// (value_of<T>() finds it). Instances are immutable after construction, have
// no __dict__, no weak references and take no part in garbage collection.
//
// A class is declared in three pieces (see H1-api-ready.md for an example):
// - its slot functions (tp_new through a Signature, tp_repr, tp_richcompare
//   = value_richcompare<T> for value equality, tp_dealloc = value_dealloc<T>)
//   and its PyGetSetDef table (field_getter<&T::field> for plain fields);
// - one PyType_Spec with the name "builtins.{Class}", the docstring
//   "{Class}({params})\n--\n\n{doc}" and basicsize basic_size_of<T>;
// - a specialisation of PyClass<T> giving type() (created once through
//   lazy_type()/create_class()) and the class name used in cast errors.
#pragma once

#include <cstddef>
#include <initializer_list>
#include <new>
#include <type_traits>
#include <utility>

#include "module/convert.h"
#include "module/refs.h"

namespace lumra::py {

// ---- instance storage ------------------------------------------------------

template <class T>
inline constexpr std::size_t kValueOffset = (sizeof(PyObject) + alignof(T) - 1) / alignof(T) * alignof(T);

template <class T>
inline constexpr int basic_size_of = static_cast<int>(kValueOffset<T> + sizeof(T));

// The native value inside an instance whose class stores a T.
template <class T>
T& value_of(PyObject* self) noexcept {
  return *std::launder(reinterpret_cast<T*>(reinterpret_cast<char*>(self) + kValueOffset<T>));
}

// Allocates an instance of `cls` (or a subclass) and moves `value` in.
template <class T>
OwnedRef new_instance(PyTypeObject* cls, T&& value) {
  static_assert(std::is_nothrow_move_constructible_v<std::remove_cvref_t<T>>,
                "instance values are moved in after allocation and must not throw");
  PyObject* self = cls->tp_alloc(cls, 0);
  if (self == nullptr) throw PyErrAlreadySet{};
  using V = std::remove_cvref_t<T>;
  new (reinterpret_cast<char*>(self) + kValueOffset<V>) V(std::forward<T>(value));
  return OwnedRef::steal(self);
}

// tp_dealloc of every class: drops the value, frees the object, then releases
// the reference the instance held on its heap type.
template <class T>
void value_dealloc(PyObject* self) {
  PyTypeObject* tp = Py_TYPE(self);
  value_of<T>(self).~T();
  tp->tp_free(self);
  Py_DECREF(tp);
}

// ---- class registry --------------------------------------------------------

// Specialise for each native record with a Python class:
//   template <> struct PyClass<Token> {
//     static constexpr const char* name = "Token";       // used in cast errors
//     static PyTypeObject* type();                       // created once
//     // optional, for sum types: the class of this particular value
//     static PyTypeObject* type_for(const Token&);
//   };
// (Primary template declared in convert.h.)

template <class T>
PyTypeObject* class_for_value(const T& value) {
  if constexpr (requires { PyClass<T>::type_for(value); }) {
    return PyClass<T>::type_for(value);
  } else {
    (void)value;
    return PyClass<T>::type();
  }
}

// Native -> Python: a new instance owning `value`.
template <HasPyClass T>
OwnedRef wrap(T value) {
  return new_instance(class_for_value(value), std::move(value));
}

// Python -> native: read access to the value of an instance of T's class (or
// a subclass); otherwise the cast error naming PyClass<T>::name.
template <HasPyClass T>
bool is_instance(PyObject* obj) {
  return PyObject_TypeCheck(obj, PyClass<T>::type()) != 0;
}
template <HasPyClass T>
const T& unwrap(PyObject* obj) {
  if (!is_instance<T>(obj)) raise_cast_error(obj, PyClass<T>::name);
  return value_of<T>(obj);
}
// Copy of the value, as constructors store it.
template <HasPyClass T>
T copy_of(PyObject* obj) {
  return unwrap<T>(obj);
}

// Getters return a new object built from a copy of the field.
template <HasPyClass T>
OwnedRef to_py(const T& value) {
  return wrap<T>(T(value));
}

// Creates a class from its spec (base may be null). A failure is reported to
// the unraisable hook and becomes the internal fault
// "failed to create type object for `{Class}`".
PyTypeObject* create_class(PyType_Spec* spec, PyTypeObject* base, const char* class_name);

// Sets a class attribute (variant classes, enumeration members,
// __match_args__). A failure is wrapped in RuntimeError
// "An error occurred while initializing `{Class}.__dict__`", reported to the
// unraisable hook and becomes the same internal fault as above.
void set_class_attr(PyTypeObject* type, const char* class_name, const char* attr, PyObject* value);

// Tuple of str for __match_args__.
OwnedRef match_args(std::initializer_list<const char*> names);

// One-time creation of a class object; the GIL serialises callers. A failed
// creation leaves the slot empty, so the next request tries again.
template <class Create>
PyTypeObject* lazy_type(PyTypeObject*& slot, Create&& create) {
  if (slot == nullptr) slot = std::forward<Create>(create)();
  return slot;
}

// The class of a plain record, made from `Spec` on first use.
template <PyType_Spec& Spec>
PyTypeObject* lazy_class(const char* class_name) {
  static PyTypeObject* type = nullptr;
  return lazy_type(type, [class_name] { return create_class(&Spec, nullptr, class_name); });
}

// ---- slot helpers ----------------------------------------------------------

// tp_richcompare for value equality: == compares the native values when the
// other operand is an instance of this class, else NotImplemented; != is the
// negation of the full == protocol; ordering is NotImplemented.
template <class T>
PyObject* value_richcompare(PyObject* self, PyObject* other, int op) {
  return entry([&]() -> OwnedRef {
    if (op == Py_EQ) {
      if (!PyObject_TypeCheck(other, Py_TYPE(self))) return OwnedRef::incref(Py_NotImplemented);
      return to_py(value_of<T>(self) == value_of<T>(other));
    }
    if (op == Py_NE) {
      OwnedRef eq = OwnedRef::steal(PyObject_RichCompare(self, other, Py_EQ));
      int truth = check(PyObject_IsTrue(eq.get()));
      return to_py(truth == 0);
    }
    return OwnedRef::incref(Py_NotImplemented);
  });
}

template <class M>
struct member_traits;
template <class C, class F>
struct member_traits<F C::*> {
  using record = C;
  using field = F;
};

// Getter for a plain field: PyGetSetDef{"content", field_getter<&Token::content>, nullptr, "doc", nullptr}.
template <auto Member>
PyObject* field_getter(PyObject* self, void*) {
  using Record = typename member_traits<decltype(Member)>::record;
  return entry([&] { return to_py(value_of<Record>(self).*Member); });
}

}  // namespace lumra::py
