#include "module/refs.h"

#include <cstdio>
#include <cstdlib>
#include <new>

namespace lumra::py {

void raise(PyObject* exc_type, std::string_view message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text != nullptr) {
    PyErr_SetObject(exc_type, text);
    Py_DECREF(text);
  }
  throw PyErrAlreadySet{};
}

OwnedRef new_str(std::string_view utf8) {
  return OwnedRef::steal(PyUnicode_DecodeUTF8(utf8.data(), static_cast<Py_ssize_t>(utf8.size()), "strict"));
}

std::string type_qualname(PyObject* obj) {
  PyObject* name = PyType_GetQualName(Py_TYPE(obj));
  if (name != nullptr) {
    Py_ssize_t size = 0;
    const char* utf8 = PyUnicode_AsUTF8AndSize(name, &size);
    if (utf8 != nullptr) {
      std::string out(utf8, static_cast<std::size_t>(size));
      Py_DECREF(name);
      return out;
    }
    Py_DECREF(name);
  }
  // Only a broken type object gets here; a message without its name is still useful.
  PyErr_Clear();
  return "<unknown>";
}

PyObject* panic_exception_type() {
  static PyObject* type = nullptr;
  if (type == nullptr) {
    type = PyErr_NewExceptionWithDoc(
        "pyo3_runtime.PanicException",
        "The exception raised when an internal fault stops a computation inside the native module.\n\n"
        "Like SystemExit, this exception is derived from BaseException so that\n"
        "it will typically propagate all the way through the stack and cause the\n"
        "Python interpreter to exit.",
        PyExc_BaseException, nullptr);
  }
  return type;
}

namespace {

[[noreturn]] void abort_at_boundary() noexcept {
  std::fputs("uncaught panic at ffi boundary\n", stderr);
  std::abort();
}

void raise_panic(const char* message) noexcept {
  // The only place the module writes to standard error: an internal fault.
  std::fprintf(stderr, "lumra_core: internal fault: %s\n", message);
  PyObject* type = panic_exception_type();
  if (type == nullptr) abort_at_boundary();
  PyObject* text = PyUnicode_DecodeUTF8(message, static_cast<Py_ssize_t>(std::char_traits<char>::length(message)),
                                        "replace");
  if (text == nullptr) abort_at_boundary();
  PyErr_SetObject(type, text);
  Py_DECREF(text);
}

}  // namespace

void translate_current_exception() noexcept {
  try {
    throw;
  } catch (const PyErrAlreadySet&) {
    if (!PyErr_Occurred()) {
      PyErr_SetString(PyExc_SystemError, "attempted to fetch exception but none was set");
    }
  } catch (const std::bad_alloc&) {
    PyErr_NoMemory();
  } catch (const std::exception& e) {
    try {
      raise_panic(e.what());
    } catch (...) {
      abort_at_boundary();
    }
  } catch (...) {
    raise_panic("unknown C++ exception");
  }
}

}  // namespace lumra::py
