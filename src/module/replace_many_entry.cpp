/*
 * The _replace_many(a, olds, news, pairwise) entry point behind
 * fennick.replace_many, which has already turned its forms into tuples:
 * `olds`, and `news` of the same length when `pairwise` is true, else one
 * new for every old.  Numeric arrays in either byte order are served by the
 * native loops; every other array goes to the reference module with the
 * same arguments.
 *
 * All arguments are borrowed.  The call holds one reference of its own to
 * `a` while it works.
 */
#include <stdio.h>

#include "../kernels/kernels.h"
#include "../reference/reference.h"
#include "../scalar/scalar.h"
#include "entry.h"

/* Converts the `n` items of the tuple `items` into `out`; the message of a
   failure names the item ("`old[2]` must be a number"), or `what` alone
   when `indexed` is false.  Returns 0, or -1 with an exception set. */
static int
convert_all(PyObject *items, const char *what, bool indexed, Scalar *out)
{
    char message[64];
    const Py_ssize_t n = PyTuple_GET_SIZE(items);
    for (Py_ssize_t i = 0; i < n; i++) {
        if (indexed) {
            snprintf(message, sizeof message, "`%s[%zd]` must be a number",
                     what, i);
        }
        else {
            snprintf(message, sizeof message, "`%s` must be a number", what);
        }
        if (scalar_from_object(PyTuple_GET_ITEM(items, i), &out[i], message)
            < 0) {
            return -1;
        }
    }
    return 0;
}

/* Converts the scalars and replaces in `arr`, a numeric array.  Returns a
   new reference, or NULL with an exception set. */
static PyObject *
replace_many_converted(PyArrayObject *arr, PyObject *const *args,
                       PyObject *olds, PyObject *news, bool pairwise)
{
    const Py_ssize_t n = PyTuple_GET_SIZE(olds);
    Scalar *scalars = (Scalar *)PyMem_Malloc(
        sizeof(Scalar) * (size_t)(n + PyTuple_GET_SIZE(news) + 1));
    if (scalars == NULL) {
        return PyErr_NoMemory();
    }
    PyObject *result = NULL;
    if (convert_all(olds, "old", true, scalars) == 0
        && convert_all(news, "new", pairwise, scalars + n) == 0) {
        /* The conversions may have run Python code that changed the
           array's dtype. */
        if (replace_serves(arr)) {
            result = replace_many_numeric(arr, n, scalars, scalars + n,
                                          pairwise, walk_table);
        }
        else {
            PyObject *tuple =
                PyTuple_Pack(4, args[0], args[1], args[2], args[3]);
            if (tuple != NULL) {
                result = call_reference("_replace_many", tuple, NULL);
                Py_DECREF(tuple);
            }
        }
    }
    PyMem_Free(scalars);
    return result;
}

PyObject *
replace_many_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                   Py_ssize_t nargs)
{
    if (nargs != 4 || !PyTuple_Check(args[1]) || !PyTuple_Check(args[2])) {
        PyErr_SetString(PyExc_TypeError,
                        "_replace_many takes (a, olds, news, pairwise) with "
                        "tuples of olds and news");
        return NULL;
    }
    PyObject *olds = args[1], *news = args[2];
    const int pairwise = PyObject_IsTrue(args[3]);
    if (pairwise < 0) {
        return NULL;
    }
    if (pairwise ? PyTuple_GET_SIZE(news) != PyTuple_GET_SIZE(olds)
                 : PyTuple_GET_SIZE(news) != 1) {
        PyErr_SetString(PyExc_ValueError,
                        "`old` and `new` must have the same length");
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
    PyObject *result;
    if (replace_serves(arr)) {
        result = replace_many_converted(arr, args, olds, news, pairwise);
    }
    else {
        PyObject *tuple = PyTuple_Pack(4, args[0], olds, news, args[3]);
        result = tuple == NULL ? NULL
                               : call_reference("_replace_many", tuple, NULL);
        Py_XDECREF(tuple);
    }
    Py_DECREF(arr);
    return result;
}
