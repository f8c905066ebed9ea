/*
 * The steps every native module's init shares, and the definition of
 * NumPy's C-API table: this unit is linked into each module, so each has
 * its own table, filled by its own init.
 */
#define FENNICK_OWNS_NUMPY_API
#include "native_module.h"

#include "../kernels/kernels.h"

/* import_array() returns from its caller on failure, so it gets a caller
   of its own.  Returns 0, or -1 with ImportError set. */
static int
import_numpy(void)
{
    import_array1(-1);
    return 0;
}

PyObject *
native_module_create(PyModuleDef *def)
{
    PyObject *m = PyModule_Create(def);
    if (m == NULL) {
        return NULL;
    }
    if (import_numpy() < 0) {
        Py_DECREF(m);
        return NULL;
    }
    kernels_init();
    return m;
}
