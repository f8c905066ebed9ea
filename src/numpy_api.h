/*
 * One way into NumPy's C API for every unit of the extension.
 *
 * The C-API table is a single process-wide pointer filled by import_array()
 * in the module's init unit; every other unit defines NO_IMPORT_ARRAY before
 * including this header and so shares that table.  NPY_TARGET_VERSION and the
 * table's name come from the build, identically for every unit.
 */
#ifndef FENNICK_NUMPY_API_H
#define FENNICK_NUMPY_API_H

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef NPY_TARGET_VERSION
#error "NPY_TARGET_VERSION must be set by the build"
#endif

#include <numpy/arrayobject.h>

#ifndef NO_IMPORT_ARRAY
/* Fills the C-API table, in a module's init unit.  import_array() returns
   from its caller on failure, so it gets a caller of its own.  Returns 0,
   or -1 with ImportError set. */
static int
import_numpy(void)
{
    import_array1(-1);
    return 0;
}
#endif

#endif /* FENNICK_NUMPY_API_H */
