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

/* A call's olds or news read as integers: `data` points into `array` (a
   new reference) or `buffer` (owned). */
struct IntegerItems {
    const int64_t *data;
    npy_intp count;
    PyArrayObject *array;
    int64_t *buffer;
};

static void
integer_items_free(IntegerItems *items)
{
    Py_XDECREF(items->array);
    PyMem_Free(items->buffer);
}

/* Reads `items` into *out when it is a 1-d array of bools or of integers
   other than uint64, or a tuple of exact ints that int64 holds (whose
   conversion runs no code of the user's).  Returns 1 when read, 0 when
   `items` is none of these, or -1 with an exception set. */
static int
integer_items(PyObject *items, IntegerItems *out)
{
    *out = IntegerItems{NULL, 0, NULL, NULL};
    if (PyTuple_Check(items)) {
        const Py_ssize_t n = PyTuple_GET_SIZE(items);
        out->buffer =
            (int64_t *)PyMem_Malloc(sizeof(int64_t) * (size_t)(n + 1));
        if (out->buffer == NULL) {
            PyErr_NoMemory();
            return -1;
        }
        for (Py_ssize_t i = 0; i < n; i++) {
            PyObject *item = PyTuple_GET_ITEM(items, i);
            int overflow = 0;
            if (!PyLong_CheckExact(item)) {
                return 0;
            }
            out->buffer[i] = PyLong_AsLongLongAndOverflow(item, &overflow);
            if (overflow != 0) {
                return 0;
            }
        }
        out->data = out->buffer;
        out->count = n;
        return 1;
    }
    if (!PyArray_Check(items)) {
        return 0;
    }
    PyArrayObject *arr = (PyArrayObject *)items;
    const char kind = PyArray_DESCR(arr)->kind;
    if (PyArray_NDIM(arr) != 1
        || !(kind == 'b' || kind == 'i'
             || (kind == 'u' && PyArray_ITEMSIZE(arr) < 8))) {
        return 0;
    }
    out->array = (PyArrayObject *)PyArray_FROM_OTF(
        items, NPY_INT64, NPY_ARRAY_IN_ARRAY | NPY_ARRAY_ENSUREARRAY);
    if (out->array == NULL) {
        return -1;
    }
    out->data = (const int64_t *)PyArray_DATA(out->array);
    out->count = PyArray_DIM(out->array, 0);
    return 1;
}

/* Replaces straight from the integers when the olds and news are all
   integers (integer_items) and so are the array's elements
   (replace_many_integers): no scalar is made of each.  Returns its
   result, or NULL with *by_scalars set and no exception when the call is
   to be planned from the scalars. */
static PyObject *
replace_from_integers(PyArrayObject *arr, PyObject *olds, PyObject *news,
                      bool pairwise, const WalkTable *table, bool *by_scalars)
{
    *by_scalars = true;
    const char kind = PyArray_DESCR(arr)->kind;
    if (kind != 'i' && kind != 'u') {
        return NULL;
    }
    IntegerItems old_ints, new_ints = {NULL, 0, NULL, NULL};
    PyObject *result = NULL;
    int status = integer_items(olds, &old_ints);
    if (status > 0) {
        status = integer_items(news, &new_ints);
    }
    if (status < 0) {
        *by_scalars = false; /* the conversion's error */
    }
    else if (status > 0 && new_ints.count == (pairwise ? old_ints.count : 1)) {
        const IntegerPairs pairs = {old_ints.count, old_ints.data,
                                    new_ints.data, pairwise};
        result = replace_many_integers(arr, pairs, table, by_scalars);
    }
    integer_items_free(&old_ints);
    integer_items_free(&new_ints);
    return result;
}

int
many_arguments(PyObject *const *args, Py_ssize_t nargs, const char *name,
               bool *pairwise)
{
    const Py_ssize_t n_olds = nargs == 4 ? many_count(args[1]) : -1;
    const Py_ssize_t n_news = nargs == 4 ? many_count(args[2]) : -1;
    if (n_olds < 0 || n_news < 0) {
        PyErr_Format(PyExc_TypeError,
                     "%s takes (a, olds, news, pairwise) with olds and news "
                     "as tuples or 1-d numeric arrays",
                     name);
        return -1;
    }
    const int truth = PyObject_IsTrue(args[3]);
    if (truth < 0) {
        return -1;
    }
    *pairwise = truth != 0;
    if (*pairwise ? n_news != n_olds : n_news != 1) {
        PyErr_SetString(PyExc_ValueError,
                        "`old` and `new` must have the same length");
        return -1;
    }
    return 0;
}

/* replace_many_with_table's work, or replaced_many_with_table's when
   `copying`. */
static PyObject *
many_with_table(PyArrayObject *arr, PyObject *olds, PyObject *news,
                bool pairwise, const WalkTable *table, bool copying)
{
    if (!copying) {
        bool by_scalars;
        PyObject *done = replace_from_integers(arr, olds, news, pairwise,
                                               table, &by_scalars);
        if (!by_scalars) {
            return done;
        }
    }
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
        if (array_route(arr) == ROUTE_NUMPY) {
            result = Py_NewRef(Py_NotImplemented);
        }
        else if (copying) {
            result = replaced_many_numeric(arr, n_olds, scalars,
                                           scalars + n_olds, pairwise, table);
        }
        else {
            result = replace_many_numeric(arr, n_olds, scalars,
                                          scalars + n_olds, pairwise, table);
        }
    }
    PyMem_Free(scalars);
    return result;
}

PyObject *
replace_many_with_table(PyArrayObject *arr, PyObject *olds, PyObject *news,
                        bool pairwise, const WalkTable *table)
{
    return many_with_table(arr, olds, news, pairwise, table, false);
}

PyObject *
replaced_many_with_table(PyArrayObject *arr, PyObject *olds, PyObject *news,
                         bool pairwise, const WalkTable *table)
{
    return many_with_table(arr, olds, news, pairwise, table, true);
}
