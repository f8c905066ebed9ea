/*
 * What both native modules do with fennick.replace_many's tuples (or 1-d
 * numeric arrays) of olds and news: count them, convert them as replace
 * converts a scalar, and replace with the walks of a given width.
 */
#include <string.h>

#include "../kernels/kernels.h"
#include "../scalar/scalar.h"
#include "many_call.h"

/* How many scalars `items` holds, or -1 if it is neither a tuple nor a
   one-dimensional array of a kind that numeric_items reads. */
Py_ssize_t
many_count(PyObject *items)
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

PyObject *
replace_many_with_table(PyArrayObject *arr, PyObject *olds, PyObject *news,
                        bool pairwise, const WalkTable *table)
{
    const Py_ssize_t n_olds = many_count(olds);
    const Py_ssize_t n_news = many_count(news);
    Scalar *scalars =
        (Scalar *)PyMem_Malloc(sizeof(Scalar) * (size_t)(n_olds + n_news + 1));
    if (scalars == NULL) {
        return PyErr_NoMemory();
    }
    PyObject *result = NULL;
    if (scalars_of(olds, "old", true, scalars) == 0
        && scalars_of(news, "new", pairwise, scalars + n_olds) == 0) {
        /* The conversions may have run Python code that changed the
           array's dtype. */
        result = replace_serves(arr)
                     ? replace_many_numeric(arr, n_olds, scalars,
                                            scalars + n_olds, pairwise, table)
                     : Py_NewRef(Py_NotImplemented);
    }
    PyMem_Free(scalars);
    return result;
}
