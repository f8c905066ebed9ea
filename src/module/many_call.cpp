/*
 * What the module does with fennick.replace_many's tuples (or 1-d
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

/* The `count` elements of `items`, a one-dimensional array of bools,
   integers or floats of up to 8 bytes, as their NumPy scalars would be
   read: integers exactly, floats as doubles.  Returns 0, or -1 with an
   exception set (also when the array no longer holds `count`). */
static int
numeric_items(PyArrayObject *items, Py_ssize_t count, Scalar *out)
{
    if (PyArray_DIM(items, 0) != count) {
        PyErr_SetString(PyExc_RuntimeError,
                        "an array of olds or news changed size during the "
                        "call");
        return -1;
    }
    const char kind = PyArray_DESCR(items)->kind;
    const int type = kind == 'f'                                   ? NPY_DOUBLE
                     : kind == 'u' && PyArray_ITEMSIZE(items) == 8 ? NPY_UINT64
                                                                   : NPY_INT64;
    /* A base-class array: a subclass's hooks run no code of the user's. */
    PyArrayObject *wide = (PyArrayObject *)PyArray_FROM_OTF(
        (PyObject *)items, type, NPY_ARRAY_IN_ARRAY | NPY_ARRAY_ENSUREARRAY);
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

/* Reads the scalars of the tuple `items` into `out`; a failed conversion
   names the item ("`old[2]` must be a number"), or `what` alone when
   `indexed` is false.  Returns 0, or -1 with an exception set. */
static int
scalars_of(PyObject *items, const char *what, bool indexed, Scalar *out)
{
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
    /* Arrays first: converting a tuple's items runs the user's code, which
       may resize an array of olds or news; a tuple's length is fixed. */
    int status = 0;
    if (!PyTuple_Check(olds)) {
        status = numeric_items((PyArrayObject *)olds, n_olds, scalars);
    }
    if (status == 0 && !PyTuple_Check(news)) {
        status =
            numeric_items((PyArrayObject *)news, n_news, scalars + n_olds);
    }
    if (status == 0 && PyTuple_Check(olds)) {
        status = scalars_of(olds, "old", true, scalars);
    }
    if (status == 0 && PyTuple_Check(news)) {
        status = scalars_of(news, "new", pairwise, scalars + n_olds);
    }
    PyObject *result = NULL;
    if (status == 0) {
        /* The conversions may have run Python code that changed the
           array's dtype. */
        result = array_route(arr) != ROUTE_NUMPY
                     ? replace_many_numeric(arr, n_olds, scalars,
                                            scalars + n_olds, pairwise, table)
                     : Py_NewRef(Py_NotImplemented);
    }
    PyMem_Free(scalars);
    return result;
}
