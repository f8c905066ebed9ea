/*
 * Hands a call to the reference module fennick.slow.  The module is imported
 * on first need and kept for the life of the process (the interpreter lock
 * guards the cache); the function is fetched anew on every call so that the
 * module's current attribute is always the one called.
 */
#include "reference.h"

/* One owned reference once imported; never released. */
static PyObject *reference_module = NULL;

PyObject *
call_reference(const char *name, PyObject *args, PyObject *kwargs)
{
    if (reference_module == NULL) {
        PyObject *module = PyImport_ImportModule("fennick.slow");
        if (module == NULL) {
            /* Left NULL so that the next call tries again. */
            PyErr_SetString(PyExc_RuntimeError, "Cannot import fennick.slow");
            return NULL;
        }
        /* An overlapping first call may have stored one already. */
        Py_XSETREF(reference_module, module);
    }

    PyObject *func = PyObject_GetAttrString(reference_module, name);
    if (func == NULL) {
        PyErr_Format(PyExc_RuntimeError,
                     "Cannot import %s from fennick.slow", name);
        return NULL;
    }
    if (!PyCallable_Check(func)) {
        Py_DECREF(func);
        PyErr_Format(PyExc_RuntimeError,
                     "fennick.slow.%s is not callable", name);
        return NULL;
    }
    PyObject *result = PyObject_Call(func, args, kwargs);
    Py_DECREF(func);
    return result;
}
