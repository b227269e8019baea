// Reference ownership and error propagation for the binding layer.
//
// Conventions (the rest of src/module/ relies on them):
// - OwnedRef holds one strong reference and releases it on destruction. A new
//   reference returned by the C API is taken over with OwnedRef::steal(); a
//   borrowed one is kept alive with OwnedRef::incref(). Handing the reference
//   to the C API (which steals it) is spelled out with release().
// - A C API call that fails has already set a Python exception: C++ code then
//   throws PyErrAlreadySet, and the slot or entry function that called it
//   returns its error value through entry()/entry_int().
// - Wrapper types never appear in slot signatures; slots take PyObject*.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#include <exception>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

namespace lumra::py {

// "A Python exception is set": thrown after the C API (or our own code) has
// set the interpreter's error indicator. Deliberately not a std::exception, so
// that no handler for C++ errors can swallow it by accident.
struct PyErrAlreadySet {};

// A broken invariant inside the module. Reaches Python as
// pyo3_runtime.PanicException carrying the message.
class InternalFault : public std::exception {
 public:
  explicit InternalFault(std::string message) : message_(std::move(message)) {}
  const char* what() const noexcept override { return message_.c_str(); }

 private:
  std::string message_;
};

[[noreturn]] inline void internal_fault(std::string message) {
  throw InternalFault(std::move(message));
}

// One strong reference.
class OwnedRef {
 public:
  OwnedRef() noexcept = default;
  OwnedRef(const OwnedRef&) = delete;
  OwnedRef& operator=(const OwnedRef&) = delete;
  OwnedRef(OwnedRef&& other) noexcept : ptr_(other.ptr_) { other.ptr_ = nullptr; }
  OwnedRef& operator=(OwnedRef&& other) noexcept {
    if (this != &other) {
      PyObject* old = ptr_;
      ptr_ = other.ptr_;
      other.ptr_ = nullptr;
      Py_XDECREF(old);
    }
    return *this;
  }
  ~OwnedRef() { Py_XDECREF(ptr_); }

  // Takes over a new reference returned by the C API. Null means the call
  // failed with an exception set: throws PyErrAlreadySet.
  static OwnedRef steal(PyObject* new_reference) {
    if (new_reference == nullptr) throw PyErrAlreadySet{};
    return OwnedRef(new_reference);
  }
  // Takes over a new reference that may be null without an error meaning
  // "absent" (for example PyDict_GetItemWithError's counterparts).
  static OwnedRef steal_nullable(PyObject* new_reference) noexcept {
    return OwnedRef(new_reference);
  }
  // Adds a strong reference to a borrowed one.
  static OwnedRef incref(PyObject* borrowed) noexcept {
    Py_XINCREF(borrowed);
    return OwnedRef(borrowed);
  }

  PyObject* get() const noexcept { return ptr_; }
  explicit operator bool() const noexcept { return ptr_ != nullptr; }

  // Gives the reference away (to a C API that steals it, or as a return value).
  [[nodiscard]] PyObject* release() noexcept {
    PyObject* p = ptr_;
    ptr_ = nullptr;
    return p;
  }

 private:
  explicit OwnedRef(PyObject* p) noexcept : ptr_(p) {}
  PyObject* ptr_ = nullptr;
};

// A reference someone else keeps alive; documents intent in signatures.
class BorrowedRef {
 public:
  BorrowedRef(PyObject* p) noexcept : ptr_(p) {}  // NOLINT: implicit by design
  PyObject* get() const noexcept { return ptr_; }
  OwnedRef to_owned() const noexcept { return OwnedRef::incref(ptr_); }

 private:
  PyObject* ptr_;
};

// Result check for C API calls that return -1 on error.
inline int check(int rc) {
  if (rc < 0) throw PyErrAlreadySet{};
  return rc;
}
inline Py_ssize_t check_size(Py_ssize_t n) {
  if (n < 0) throw PyErrAlreadySet{};
  return n;
}

// Sets `type(message)` as the current exception and throws PyErrAlreadySet.
[[noreturn]] void raise(PyObject* exc_type, std::string_view message);

// `str` from UTF-8 text (the text is trusted to be valid UTF-8).
OwnedRef new_str(std::string_view utf8);

// The class pyo3_runtime.PanicException (a BaseException subclass), created
// once per process. Never null after the first successful call.
PyObject* panic_exception_type();

// Maps the exception in flight to a Python error. Must be called from inside
// a catch block. PyErrAlreadySet keeps the pending error, std::bad_alloc
// becomes MemoryError, anything else pyo3_runtime.PanicException.
void translate_current_exception() noexcept;

// Runs `body` for a C entry point returning a new reference or null.
// `body` returns OwnedRef.
template <class F>
PyObject* entry(F&& body) noexcept {
  try {
    OwnedRef result = std::forward<F>(body)();
    return result.release();
  } catch (...) {
    translate_current_exception();
    return nullptr;
  }
}

// Runs `body` for a C entry point returning int (or Py_ssize_t) with -1 for
// an error.
template <class F>
auto entry_int(F&& body) noexcept -> decltype(std::forward<F>(body)()) {
  using R = decltype(std::forward<F>(body)());
  static_assert(std::is_integral_v<R>);
  try {
    return std::forward<F>(body)();
  } catch (...) {
    translate_current_exception();
    return R(-1);
  }
}

// The qualified name of an object's type ("int", "NoneType", ...).
std::string type_qualname(PyObject* obj);

}  // namespace lumra::py
