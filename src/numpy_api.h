/*
 * One way into NumPy's C API for every unit of the extension.
 *
 * The C-API table is a single pointer, defined and filled by
 * module/module.cpp (which defines FENNICK_OWNS_NUMPY_API); every other
 * unit shares it.  NPY_TARGET_VERSION and the table's name come
 * from the build, identically for every unit.
 */
#ifndef FENNICK_NUMPY_API_H
#define FENNICK_NUMPY_API_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef NPY_TARGET_VERSION
#error "NPY_TARGET_VERSION must be set by the build"
#endif

#ifndef FENNICK_OWNS_NUMPY_API
#define NO_IMPORT_ARRAY
#endif
#include <numpy/arrayobject.h>

#endif /* FENNICK_NUMPY_API_H */
