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
#include <string.h>

#include "../kernels/kernels.h"
#include "../reference/reference.h"
#include "../scalar/scalar.h"
#include "entry.h"

/* How many scalars `items` holds, or -1 if it is neither a tuple nor a
   one-dimensional array of a kind that numeric_items reads. */
static Py_ssize_t
count_of(PyObject *items)
{
    if (PyTuple_Check(items)) {
        return PyTuple_GET_SIZE(items);
    }
    if (PyArray_Check(items)) {
        PyArrayObject *arr = (PyArrayObject *)items;
        const char kind = PyArray_DESCR(arr)->kind;
        if (PyArray_NDIM(arr) == 1 && PyArray_ITEMSIZE(arr) <= 8
            && (kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f')) {
            return PyArray_DIM(arr, 0);
        }
    }
    return -1;
}

/* The elements of `items`, a one-dimensional array of bools, integers or
   floats of up to 8 bytes, as their NumPy scalars would be read: integers
   exactly, floats as doubles.  Returns 0, or -1 with an exception set. */
static int
numeric_items(PyArrayObject *items, Scalar *out)
{
    const char kind = PyArray_DESCR(items)->kind;
    const int type = kind == 'f'                                   ? NPY_DOUBLE
                     : kind == 'u' && PyArray_ITEMSIZE(items) == 8 ? NPY_UINT64
                                                                   : NPY_INT64;
    PyArrayObject *wide = (PyArrayObject *)PyArray_FROM_OTF(
        (PyObject *)items, type, NPY_ARRAY_IN_ARRAY);
    if (wide == NULL) {
        return -1;
    }
    const char *data = PyArray_BYTES(wide);
    for (npy_intp i = 0; i < PyArray_DIM(wide, 0); i++) {
        if (type == NPY_DOUBLE) {
            memcpy(&out[i].value, data + 8 * i, 8);
            out[i].is_integer = false;
            continue;
        }
        uint64_t u;
        memcpy(&u, data + 8 * i, 8);
        const bool negative = type == NPY_INT64 && (int64_t)u < 0;
        scalar_from_integer(negative, negative ? 0 - u : u, &out[i]);
    }
    Py_DECREF(wide);
    return 0;
}

/* Reads the scalars of `items` into `out`; a failed conversion names the
   item ("`old[2]` must be a number"), or `what` alone when `indexed` is
   false.  Returns 0, or -1 with an exception set. */
static int
scalars_of(PyObject *items, const char *what, bool indexed, Scalar *out)
{
    if (!PyTuple_Check(items)) {
        return numeric_items((PyArrayObject *)items, out);
    }
    for (Py_ssize_t i = 0; i < PyTuple_GET_SIZE(items); i++) {
        const ScalarName name = {what, indexed ? i : -1};
        if (scalar_from_object(PyTuple_GET_ITEM(items, i), &out[i], name)
            < 0) {
            return -1;
        }
    }
    return 0;
}

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

/* Converts the scalars and replaces in `arr`, a numeric array.  Returns a
   new reference, or NULL with an exception set. */
static PyObject *
replace_many_converted(PyArrayObject *arr, PyObject *const *args,
                       Py_ssize_t n_olds, Py_ssize_t n_news, bool pairwise)
{
    Scalar *scalars =
        (Scalar *)PyMem_Malloc(sizeof(Scalar) * (size_t)(n_olds + n_news + 1));
    if (scalars == NULL) {
        return PyErr_NoMemory();
    }
    PyObject *result = NULL;
    if (scalars_of(args[1], "old", true, scalars) == 0
        && scalars_of(args[2], "new", pairwise, scalars + n_olds) == 0) {
        /* The conversions may have run Python code that changed the
           array's dtype. */
        result =
            replace_serves(arr)
                ? replace_many_numeric(arr, n_olds, scalars, scalars + n_olds,
                                       pairwise, walk_table)
                : reference_many(args);
    }
    PyMem_Free(scalars);
    return result;
}

PyObject *
replace_many_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                   Py_ssize_t nargs)
{
    const Py_ssize_t n_olds = nargs == 4 ? count_of(args[1]) : -1;
    const Py_ssize_t n_news = nargs == 4 ? count_of(args[2]) : -1;
    if (n_olds < 0 || n_news < 0) {
        PyErr_SetString(PyExc_TypeError,
                        "_replace_many takes (a, olds, news, pairwise) with "
                        "olds and news as tuples or 1-d numeric arrays");
        return NULL;
    }
    const int pairwise = PyObject_IsTrue(args[3]);
    if (pairwise < 0) {
        return NULL;
    }
    if (pairwise ? n_news != n_olds : n_news != 1) {
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
    PyObject *result =
        replace_serves(arr)
            ? replace_many_converted(arr, args, n_olds, n_news, pairwise)
            : reference_many(args);
    Py_DECREF(arr);
    return result;
}
