/*
 * The native loops on fennick.slow's behalf, for the numeric element types
 * that replace hands it (bool, integers of 8 to 64 bits, float16, and data
 * in non-native byte order), planned by the same rules: _replace_numeric,
 * which fennick.slow calls first, keeping its NumPy code for whatever this
 * returns NotImplemented for; and _settle and _settle_many, which convert
 * the scalars once, by the same rules, for fennick.parallel and
 * fennick.dask.
 *
 * All arguments are borrowed; a replacement holds one reference of its own
 * to the array while it works.
 */
#include "../kernels/kernels.h"
#include "entry.h"

PyObject *
numeric_replace(const WalkTable *table, PyObject *a, PyObject *old,
                PyObject *new_)
{
    if (!PyArray_Check(a) || array_route((PyArrayObject *)a) == ROUTE_NUMPY) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *arr = (PyArrayObject *)a;
    Py_INCREF(arr); /* held until the walk has returned */
    Scalar old_s, new_s;
    PyObject *result = NULL;
    if (scalar_from_object(old, &old_s, ScalarName{"old", -1}) == 0
        && scalar_from_object(new_, &new_s, ScalarName{"new", -1}) == 0) {
        /* A __float__ may have changed the array's dtype. */
        if (array_route(arr) != ROUTE_NUMPY) {
            result = replace_numeric(arr, &old_s, &new_s, table);
        }
        else {
            result = Py_NewRef(Py_NotImplemented);
        }
    }
    Py_DECREF(arr);
    return result;
}

PyObject *
numeric_replace_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                      Py_ssize_t nargs)
{
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError,
                        "_replace_numeric takes (a, old, new)");
        return NULL;
    }
    return numeric_replace(walk_table, args[0], args[1], args[2]);
}

/* Whether settle serves arrays of `kind`: those whose every route reads a
   scalar only as its exact integer value or its double. */
static bool
settles_kind(char kind)
{
    return kind == 'b' || kind == 'i' || kind == 'u' || kind == 'f';
}

/* `obj`, read as `s`, as a plain int or float that the loops read as they
   read `s` in an array of `kind`: an int's exact value for bool and
   integer arrays, else the double.  Returns a new reference, or NULL with
   an exception set. */
static PyObject *
settled_number(PyObject *obj, const Scalar *s, char kind)
{
    if (kind == 'f' || !s->is_integer) {
        return PyFloat_FromDouble(s->value);
    }
    if (PyLong_Check(obj)) {
        /* An int of the exact type with the same value; for a subclass
           none of its own methods run. */
        return PyNumber_Index(obj);
    }
    /* A NumPy integer, which always fits in 64 bits. */
    if (s->negative) {
        return PyLong_FromLongLong((long long)(0 - s->magnitude));
    }
    return PyLong_FromUnsignedLongLong(s->magnitude);
}

PyObject *
settle_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
             Py_ssize_t nargs)
{
    if (nargs != 3) {
        PyErr_SetString(PyExc_TypeError, "_settle takes (a, old, new)");
        return NULL;
    }
    PyObject *a = args[0];
    if (!PyArray_Check(a)
        || !settles_kind(PyArray_DESCR((PyArrayObject *)a)->kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    Scalar old_s, new_s;
    if (scalar_from_object(args[1], &old_s, ScalarName{"old", -1}) < 0
        || scalar_from_object(args[2], &new_s, ScalarName{"new", -1}) < 0) {
        return NULL;
    }
    /* A __float__ may have changed the array's dtype. */
    const char kind = PyArray_DESCR((PyArrayObject *)a)->kind;
    if (!settles_kind(kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyObject *old = settled_number(args[1], &old_s, kind);
    if (old == NULL) {
        return NULL;
    }
    PyObject *new_ = settled_number(args[2], &new_s, kind);
    if (new_ == NULL) {
        Py_DECREF(old);
        return NULL;
    }
    PyObject *pair = PyTuple_Pack(2, old, new_);
    Py_DECREF(old);
    Py_DECREF(new_);
    return pair;
}

/* The tuple `items`, each converted (a failure names it `what[i]`, or
   `what` when `indexed` is false) and settled for arrays of `a`'s kind,
   into *out (a new tuple).  A 1-d numeric array of items is its own
   settled form.  Returns 1, 0 when `a`'s kind is not (or no longer) one
   that settles, or -1 with an exception set. */
static int
settle_items(PyArrayObject *a, PyObject *items, const char *what, bool indexed,
             PyObject **out)
{
    if (!PyTuple_Check(items)) {
        *out = Py_NewRef(items);
        return 1;
    }
    const Py_ssize_t n = PyTuple_GET_SIZE(items);
    Scalar *scalars = (Scalar *)PyMem_Malloc(sizeof(Scalar) * (size_t)(n + 1));
    if (scalars == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    int status = 1;
    for (Py_ssize_t i = 0; i < n && status == 1; i++) {
        if (scalar_from_object(PyTuple_GET_ITEM(items, i), &scalars[i],
                               ScalarName{what, indexed ? i : -1})
            < 0) {
            status = -1;
        }
    }
    /* A __float__ may have changed the array's dtype. */
    const char kind = PyArray_DESCR(a)->kind;
    if (status == 1 && !settles_kind(kind)) {
        status = 0;
    }
    *out = status == 1 ? PyTuple_New(n) : NULL;
    if (status == 1 && *out == NULL) {
        status = -1;
    }
    for (Py_ssize_t i = 0; i < n && status == 1; i++) {
        PyObject *number =
            settled_number(PyTuple_GET_ITEM(items, i), &scalars[i], kind);
        if (number == NULL) {
            Py_CLEAR(*out);
            status = -1;
            break;
        }
        PyTuple_SET_ITEM(*out, i, number);
    }
    PyMem_Free(scalars);
    return status;
}

PyObject *
settle_many_entry(PyObject *Py_UNUSED(self), PyObject *const *args,
                  Py_ssize_t nargs)
{
    if (nargs != 4) {
        PyErr_SetString(PyExc_TypeError,
                        "_settle_many takes (a, olds, news, pairwise)");
        return NULL;
    }
    const int pairwise = PyObject_IsTrue(args[3]);
    if (pairwise < 0) {
        return NULL;
    }
    if (!PyArray_Check(args[0])
        || !settles_kind(PyArray_DESCR((PyArrayObject *)args[0])->kind)) {
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *a = (PyArrayObject *)args[0];
    PyObject *olds = NULL, *news = NULL, *result = NULL;
    int status = settle_items(a, args[1], "old", true, &olds);
    if (status == 1) {
        status = settle_items(a, args[2], "new", pairwise, &news);
    }
    if (status == 1) {
        result = PyTuple_Pack(3, olds, news, args[3]);
    }
    else if (status == 0) {
        result = Py_NewRef(Py_NotImplemented);
    }
    Py_XDECREF(olds);
    Py_XDECREF(news);
    return result;
}
