// Module entry point (placeholder until the binding layer lands).
#define PY_SSIZE_T_CLEAN
#include <Python.h>

static PyModuleDef rust_module = {
    PyModuleDef_HEAD_INIT, "_rust", nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
};

PyMODINIT_FUNC PyInit__rust() { return PyModule_Create(&rust_module); }
