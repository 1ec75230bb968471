// Placeholder module until the Python layer lands.
#include <Python.h>

static PyModuleDef vellum_module = {PyModuleDef_HEAD_INIT, "_vellum", "The native extension module (`vellum._vellum`).", -1, nullptr};

PyMODINIT_FUNC PyInit__vellum(void) { return PyModule_Create(&vellum_module); }
