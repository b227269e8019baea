// Declarative argument binding, shared by every function and constructor.
//
// One Signature per function describes its parameters; bind() matches the
// call's positional and keyword arguments against it and raises the standard
// TypeErrors (too many positional arguments, unexpected or duplicate keyword,
// missing required arguments). The result holds borrowed references (the
// caller's arguments outlive the call); an absent argument is null.
// BoundArgs::convert() runs a conversion and, when it fails with exactly
// TypeError, re-raises it as "argument '{name}': {message}".
#pragma once

#include <array>
#include <cstddef>
#include <span>
#include <string_view>

#include "module/refs.h"

namespace lumra::py {

enum class Arg : unsigned char {
  Required,   // must be given; None is an ordinary value
  Optional,   // may be omitted; None counts as omitted
  Defaulted,  // may be omitted (the caller supplies the default); None is a value
};

struct Param {
  const char* name;
  Arg kind = Arg::Required;
  bool keyword_only = false;
};

// Parameter list as the binder core sees it (the templates below wrap it).
struct SignatureView {
  const char* display_name;  // "parse_template()" or "TagRules.__new__()"
  std::span<const Param> params;
  std::span<PyObject*> interned;  // per-parameter interned names, filled lazily
};

// Binds into `out` (one borrowed slot per parameter; null for absent).
void bind_fastcall(const SignatureView& sig, PyObject* const* args, Py_ssize_t nargs,
                   PyObject* kwnames, PyObject** out);
void bind_tuple_dict(const SignatureView& sig, PyObject* args, PyObject* kwargs, PyObject** out);

// Re-raises a pending exact TypeError as "argument '{name}': {message}",
// carrying the original's cause; any other pending error is left as it is.
void prefix_argument_error(const char* name) noexcept;

template <std::size_t N>
class Signature;

template <std::size_t N>
class BoundArgs {
 public:
  // Borrowed value of parameter i, or null when absent (or None for an
  // Optional parameter).
  PyObject* operator[](std::size_t i) const noexcept { return values_[i]; }
  bool has(std::size_t i) const noexcept { return values_[i] != nullptr; }
  const char* name(std::size_t i) const noexcept { return params_[i].name; }

  // Converts parameter i with `conv(PyObject*)`; a TypeError from it gets the
  // argument prefix. The parameter must be present.
  template <class Conv>
  auto convert(std::size_t i, Conv&& conv) const -> decltype(conv(static_cast<PyObject*>(nullptr))) {
    try {
      return conv(values_[i]);
    } catch (const PyErrAlreadySet&) {
      prefix_argument_error(params_[i].name);
      throw;
    }
  }

  // Like convert(), returning `fallback` when the parameter is absent.
  template <class Conv, class T>
  auto convert_or(std::size_t i, Conv&& conv, T&& fallback) const
      -> decltype(conv(static_cast<PyObject*>(nullptr))) {
    if (!has(i)) return std::forward<T>(fallback);
    return convert(i, std::forward<Conv>(conv));
  }

 private:
  template <std::size_t M>
  friend class Signature;
  std::array<PyObject*, N> values_{};
  const Param* params_ = nullptr;
};

template <std::size_t N>
class Signature {
 public:
  template <class... P>
  constexpr Signature(const char* display_name, P... params)
      : display_name_(display_name), params_{params...} {
    static_assert(sizeof...(P) == N);
  }

  // Entry of a METH_FASTCALL | METH_KEYWORDS function.
  BoundArgs<N> bind(PyObject* const* args, Py_ssize_t nargs, PyObject* kwnames) const {
    BoundArgs<N> bound;
    bound.params_ = params_.data();
    bind_fastcall(view(), args, nargs, kwnames, bound.values_.data());
    return bound;
  }

  // Entry of a tp_new slot.
  BoundArgs<N> bind(PyObject* args, PyObject* kwargs) const {
    BoundArgs<N> bound;
    bound.params_ = params_.data();
    bind_tuple_dict(view(), args, kwargs, bound.values_.data());
    return bound;
  }

 private:
  SignatureView view() const {
    return SignatureView{display_name_, std::span<const Param>(params_), std::span<PyObject*>(interned_)};
  }
  const char* display_name_;
  std::array<Param, N> params_;
  // Interned parameter names, for the pointer comparison that usually
  // matches keyword names (the interpreter interns identifiers).
  mutable std::array<PyObject*, N> interned_{};
};

template <class... P>
Signature(const char*, P...) -> Signature<sizeof...(P)>;

}  // namespace lumra::py
