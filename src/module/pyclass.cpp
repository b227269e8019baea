#include "module/pyclass.h"

#include <fmt/format.h>

namespace lumra::py {

PyTypeObject* create_class(PyType_Spec* spec, PyTypeObject* base, const char* class_name) {
  PyObject* type = PyType_FromSpecWithBases(spec, reinterpret_cast<PyObject*>(base));
  if (type == nullptr) {
    PyErr_WriteUnraisable(nullptr);
    internal_fault(fmt::format("failed to create type object for `{}`", class_name));
  }
  // Class objects live for the rest of the process: the reference is kept.
  return reinterpret_cast<PyTypeObject*>(type);
}

void set_class_attr(PyTypeObject* type, const char* class_name, const char* attr, PyObject* value) {
  if (PyObject_SetAttrString(reinterpret_cast<PyObject*>(type), attr, value) == 0) return;
  PyObject* cause = PyErr_GetRaisedException();
  PyObject* wrapper = PyObject_CallFunction(
      PyExc_RuntimeError, "s", fmt::format("An error occurred while initializing `{}.__dict__`", class_name).c_str());
  if (wrapper != nullptr) {
    PyException_SetCause(wrapper, cause);  // steals cause
    PyErr_SetRaisedException(wrapper);
  } else {
    Py_XDECREF(cause);
  }
  PyErr_WriteUnraisable(nullptr);
  internal_fault(fmt::format("failed to create type object for `{}`", class_name));
}

OwnedRef match_args(std::initializer_list<const char*> names) {
  OwnedRef tuple = OwnedRef::steal(PyTuple_New(static_cast<Py_ssize_t>(names.size())));
  Py_ssize_t i = 0;
  for (const char* name : names) {
    PyObject* s = PyUnicode_InternFromString(name);
    if (s == nullptr) throw PyErrAlreadySet{};
    PyTuple_SET_ITEM(tuple.get(), i++, s);
  }
  return tuple;
}

}  // namespace lumra::py
