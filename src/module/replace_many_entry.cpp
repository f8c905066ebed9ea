/*
 * The _replace_many(a, olds, news, pairwise) entry point behind
 * fennick.replace_many, which has already turned its forms into sequences
 * of scalars: a tuple of objects, or a one-dimensional array of bools,
 * integers or floats.  olds[i] becomes news[i] when `pairwise`, else
 * news[0].  Numeric arrays in either byte order are served by the native
 * loops; every other array goes to the reference module with the same
 * arguments.
 *
 * All arguments are borrowed.  The call holds one reference of its own to
 * `a` while it works.
 */
#include "../kernels/kernels.h"
#include "../reference/reference.h"
#include "entry.h"
#include "many_call.h"

/* Hands the call to fennick.slow._replace_many.  Returns its result, or
   NULL with an exception set. */
static PyObject *
reference_many(PyObject *const *args)
{
    PyObject *tuple = PyTuple_Pack(4, args[0], args[1], args[2], args[3]);
    if (tuple == NULL) {
        return NULL;
    }
    PyObject *result = call_reference("_replace_many", tuple, NULL);
    Py_DECREF(tuple);
    return result;
}

PyObject *
replace_many_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                   Py_ssize_t nargs)
{
    bool pairwise;
    if (many_arguments(args, nargs, "_replace_many", &pairwise) < 0) {
        return NULL;
    }
    if (!PyArray_Check(args[0])) {
        PyErr_SetString(
            PyExc_TypeError,
            "works in place so input must be an array, not (e.g.) a list");
        return NULL;
    }
    PyArrayObject *arr = (PyArrayObject *)args[0];
    Py_INCREF(arr); /* held until the route returns */
    PyObject *result = array_route(arr) != ROUTE_NUMPY
                           ? replace_many_with_table(arr, args[1], args[2],
                                                     pairwise, walk_table)
                           : Py_NewRef(Py_NotImplemented);
    if (result == Py_NotImplemented) {
        Py_DECREF(result);
        result = reference_many(args);
    }
    Py_DECREF(arr);
    return result;
}
