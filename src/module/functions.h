// Method definitions of the module's five functions (one file per area).
// Each is a METH_FASTCALL | METH_KEYWORDS function whose docstring starts with
// its signature line, "--" and an empty line.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

namespace lumra::py {

// The fast-call-with-keywords signature as a PyMethodDef entry.
inline PyCFunction fastcall_function(_PyCFunctionFastWithKeywords fn) {
  return reinterpret_cast<PyCFunction>(reinterpret_cast<void (*)()>(fn));
}

extern PyMethodDef transform_html_method;
extern PyMethodDef mark_html_method;
extern PyMethodDef safe_eval_method;
extern PyMethodDef parse_template_method;
extern PyMethodDef compile_template_method;

}  // namespace lumra::py
