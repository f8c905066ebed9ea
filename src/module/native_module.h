/*
 * What every native module of the package does first at initialisation.
 */
#ifndef FENNICK_MODULE_NATIVE_MODULE_H
#define FENNICK_MODULE_NATIVE_MODULE_H

#include "../numpy_api.h"

/* Creates the module of `def` (single-phase, process-wide state), imports
   NumPy's C API and chooses the kernels' vector width.  Returns a new
   reference, or NULL with an exception set (ImportError when NumPy is
   missing or too old). */
PyObject *native_module_create(PyModuleDef *def);

#endif /* FENNICK_MODULE_NATIVE_MODULE_H */
