/*
 * The replace(a, old, new) entry point: argument parsing by counts and
 * dictionary look-ups, the array test, and the choice of route (a native
 * kernel by element type, or the reference module).
 *
 * All arguments are borrowed.  From the array test on, the call holds one
 * reference of its own to `a`, released exactly once on every path.
 */
#include "entry.h"
#include "../kernels/kernels.h"
#include "../reference/reference.h"
#include "../scalar/scalar.h"

/* Looks up one keyword; on a miss raises TypeError `missing`.
   Returns a borrowed reference, or NULL with the exception set. */
static PyObject *
lookup_keyword(PyObject *kwargs, PyObject *key, const char *missing)
{
    PyObject *value = PyDict_GetItem(kwargs, key);
    if (value == NULL) {
        PyErr_SetString(PyExc_TypeError, missing);
    }
    return value;
}

/* Splits the call into a, old and new (all borrowed).
   Returns 0, or -1 with TypeError set. */
static int
parse_replace_args(PyObject *args, PyObject *kwargs, PyObject **a,
                   PyObject **old, PyObject **new_)
{
    Py_ssize_t n = PyTuple_GET_SIZE(args);
    Py_ssize_t k = kwargs == NULL ? 0 : PyDict_GET_SIZE(kwargs);

    if (k == 0) {
        if (n != 3) {
            PyErr_SetString(PyExc_TypeError, "wrong number of arguments 4");
            return -1;
        }
        *a = PyTuple_GET_ITEM(args, 0);
        *old = PyTuple_GET_ITEM(args, 1);
        *new_ = PyTuple_GET_ITEM(args, 2);
        return 0;
    }
    if (n >= 3) {
        PyErr_SetString(PyExc_TypeError, "wrong number of arguments 1");
        return -1;
    }
    /* The first n parameters come by position, the rest by keyword. */
    PyObject **slots[3] = {a, old, new_};
    PyObject *keys[3] = {pystr_a, pystr_old, pystr_new};
    static const char *const missing[3] = {
        "Cannot find `a` keyword input",
        "Cannot find `old` keyword input",
        "Cannot find `new` keyword input",
    };
    for (Py_ssize_t i = 0; i < n; i++) {
        *slots[i] = PyTuple_GET_ITEM(args, i);
    }
    for (Py_ssize_t i = n; i < 3; i++) {
        *slots[i] = lookup_keyword(kwargs, keys[i], missing[i]);
        if (*slots[i] == NULL) {
            return -1;
        }
    }
    /* Catches unknown keywords and keywords that repeat a positional. */
    if (3 - n != k) {
        PyErr_SetString(PyExc_TypeError,
                        "wrong number of keyword arguments 3");
        return -1;
    }
    return 0;
}

/* Chooses what serves the call.  `a`, `old`, `new`, args and kwargs are
   borrowed; args and kwargs travel unchanged to the reference module.
   Returns a new reference, or NULL with an exception set. */
static PyObject *
replace_dispatch(PyObject *args, PyObject *kwargs, PyObject *a, PyObject *old,
                 PyObject *new_)
{
    if (!PyArray_Check(a)) {
        PyErr_SetString(
            PyExc_TypeError,
            "works in place so input must be an array, not (e.g.) a list");
        return NULL;
    }
    PyArrayObject *arr = (PyArrayObject *)a;
    Py_INCREF(arr); /* held until the route returns */

    /* Non-native byte order, dates and durations: the scalars are the
       reference module's business (it reads date-time scalars in the
       array's unit), so they are not looked at here. */
    if (PyArray_DESCR(arr)->byteorder == NPY_OPPBYTE
        || PyTypeNum_ISDATETIME(PyArray_TYPE(arr))) {
        Py_DECREF(arr);
        return call_reference("replace", args, kwargs);
    }

    Scalar old_s, new_s;
    if (scalar_from_object(old, &old_s, ScalarName{"old", -1}) < 0
        || scalar_from_object(new_, &new_s, ScalarName{"new", -1}) < 0) {
        Py_DECREF(arr);
        return NULL;
    }

    /* The conversions may have run Python code (__float__) that changed
       the array's dtype, so the route is read afresh. */
    PyObject *result = array_route(arr) == ROUTE_DIRECT
                           ? replace_numeric(arr, &old_s, &new_s, walk_table)
                           : call_reference("replace", args, kwargs);
    Py_DECREF(arr);
    return result;
}

PyObject *
replace_entry(PyObject *Py_UNUSED(self), PyObject *args, PyObject *kwargs)
{
    PyObject *a, *old, *new_;
    if (parse_replace_args(args, kwargs, &a, &old, &new_) < 0) {
        return NULL;
    }
    return replace_dispatch(args, kwargs, a, old, new_);
}
