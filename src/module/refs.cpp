#include "module/refs.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

#include "text/utf8.h"

namespace lumra::py {

void raise(PyObject* exc_type, std::string_view message) {
  PyObject* text = PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace");
  if (text != nullptr) {
    PyErr_SetObject(exc_type, text);
    Py_DECREF(text);
  }
  throw PyErrAlreadySet{};
}

namespace {

template <class Unit>
bool decode_into_str(std::string_view utf8, PyObject* text, std::size_t chars) {
  return text::utf8::decode_into(utf8, static_cast<Unit*>(PyUnicode_DATA(text)), chars) == chars;
}

}  // namespace

OwnedRef new_str(std::string_view utf8) {
  // Short texts gain nothing from sizing first. Longer ones (generated code,
  // rewritten expressions, whole pages) are measured, then decoded straight
  // into a str of their exact kind: CPython's decoder widens its buffer
  // and copies when the first wide character turns up.
  if (utf8.size() >= 64) {
    const text::utf8::Measure m = text::utf8::measure(utf8);
    if (m.max_byte < 0x80) {
      OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(utf8.size()), 127));
      if (text) std::memcpy(PyUnicode_DATA(text.get()), utf8.data(), utf8.size());
      return text;
    }
    const Py_UCS4 max_char = m.max_byte < 0xC4 ? 0xFF : m.max_byte < 0xF0 ? 0xFFFF : 0x10FFFF;
    OwnedRef text = OwnedRef::steal(PyUnicode_New(static_cast<Py_ssize_t>(m.chars), max_char));
    if (!text) return text;
    bool decoded = false;
    switch (PyUnicode_KIND(text.get())) {
      case PyUnicode_1BYTE_KIND: decoded = decode_into_str<Py_UCS1>(utf8, text.get(), m.chars); break;
      case PyUnicode_2BYTE_KIND: decoded = decode_into_str<Py_UCS2>(utf8, text.get(), m.chars); break;
      default: decoded = decode_into_str<Py_UCS4>(utf8, text.get(), m.chars); break;
    }
    if (decoded) return text;
    // Not valid UTF-8: CPython's decoder raises the error.
  }
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
