/*
 * Hands a call to the reference module fennick.slow.  The module is imported
 * on first need and kept for the life of the process (the interpreter lock
 * guards the cache); the function is fetched anew on every call so that the
 * module's current attribute is always the one called.
 */
#include "reference.h"

/* One owned reference once imported; never released. */
static PyObject *reference_module = NULL;

/* The last name asked for, interned: the look-up is made on every call,
   and the interned string spares making and hashing a fresh one each
   time. */
static const char *cached_name = NULL;
static PyObject *cached_name_object = NULL;

/* module.<name>: a new reference, or NULL with an exception set. */
static PyObject *
get_attribute(PyObject *module, const char *name)
{
    if (name != cached_name) {
        PyObject *interned = PyUnicode_InternFromString(name);
        if (interned == NULL) {
            return NULL;
        }
        Py_XSETREF(cached_name_object, interned);
        cached_name = name;
    }
    return PyObject_GetAttr(module, cached_name_object);
}

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

    PyObject *func = get_attribute(reference_module, name);
    if (func == NULL) {
        PyErr_Format(PyExc_RuntimeError, "Cannot import %s from fennick.slow",
                     name);
        return NULL;
    }
    if (!PyCallable_Check(func)) {
        Py_DECREF(func);
        PyErr_Format(PyExc_RuntimeError, "fennick.slow.%s is not callable",
                     name);
        return NULL;
    }
    PyObject *result = PyObject_Call(func, args, kwargs);
    Py_DECREF(func);
    return result;
}
