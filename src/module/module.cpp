/*
 * The dozudiror module: its definition, method table, docstrings and the
 * single-phase init that imports NumPy's C API and interns the keyword names.
 * All state is process-wide and lives until the process ends.
 */
#include "../numpy_api.h"
#include "entry.h"

/* Exported (the build hides everything else by default). */
extern "C" {
__attribute__((visibility("default"))) PyObject *pystr_a = NULL;
__attribute__((visibility("default"))) PyObject *pystr_old = NULL;
__attribute__((visibility("default"))) PyObject *pystr_new = NULL;
}

/* import_array() returns from its caller on failure, so it gets a caller of
   its own; returns -1 with ImportError set on failure. */
static int
import_numpy(void)
{
    import_array1(-1);
    return 0;
}

PyDoc_STRVAR(replace_doc,
"replace(a, old, new)\n"
"\n"
"Replace (inplace) given scalar values of an array with new values.\n"
"\n"
"Equivalent to the NumPy statement ``a[a==old] = new``, or, when `old` is\n"
"NaN, to ``a[np.isnan(a)] = new``.\n"
"\n"
"Parameters\n"
"----------\n"
"a : numpy.ndarray\n"
"    The input array, which is also the output array since the function\n"
"    works in place.\n"
"old : scalar\n"
"    Every element of `a` with this value is replaced by `new`.\n"
"new : scalar\n"
"    The replacement value.\n"
"\n"
"Returns\n"
"-------\n"
"out : numpy.ndarray\n"
"    A view of the input array after the replacements, if any.\n"
"\n"
"Examples\n"
"--------\n"
">>> import numpy as np\n"
">>> import fennick\n"
">>> a = np.array([1, 2, 0])\n"
">>> _ = fennick.replace(a, 0, 3)\n"
">>> a\n"
"array([1, 2, 3])\n"
">>> a = np.array([1, 2, np.nan])\n"
">>> _ = fennick.replace(a, np.nan, 0)\n"
">>> a\n"
"array([1., 2., 0.])\n");

static PyMethodDef dozudiror_methods[] = {
    {"replace", (PyCFunction)(void (*)(void))replace_entry,
     METH_VARARGS | METH_KEYWORDS, replace_doc},
    {NULL, NULL, 0, NULL} /* sentinel */
};

PyDoc_STRVAR(module_doc, "Fennick nonreducing functions.");

static struct PyModuleDef dozudiror_module_def = {
    PyModuleDef_HEAD_INIT,
    "dozudiror",        /* m_name */
    module_doc,         /* m_doc */
    -1,                 /* m_size: single-phase, process-wide state */
    dozudiror_methods,  /* m_methods */
    NULL,               /* m_slots */
    NULL,               /* m_traverse */
    NULL,               /* m_clear */
    NULL,               /* m_free */
};

PyMODINIT_FUNC
PyInit_dozudiror(void)
{
    PyObject *m = PyModule_Create(&dozudiror_module_def);
    if (m == NULL) {
        return NULL;
    }
    if (import_numpy() < 0) {
        Py_DECREF(m);
        return NULL;
    }
    pystr_a = PyUnicode_InternFromString("a");
    pystr_old = PyUnicode_InternFromString("old");
    pystr_new = PyUnicode_InternFromString("new");
    if (pystr_a == NULL || pystr_old == NULL || pystr_new == NULL) {
        Py_DECREF(m);
        return NULL;
    }
    return m;
}
