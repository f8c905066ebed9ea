/*
 * int64 and int32 replacement.
 *
 *     a[i] = new where a[i] == old
 *
 * `old` and `new` arrive as doubles and must be exactly values of the
 * element type: no fraction, inside the type's range.  A NaN `old` matches
 * no integer, so that call does nothing at all.
 */
#define NO_IMPORT_ARRAY
#include <stdint.h>

#include "kernels.h"
#include "replace_walk.h"

/* Stores `v` in *out when it is exactly a value of T.  Returns false for a
   fraction, NaN, an infinity or anything outside [-2**(b-1), 2**(b-1)). */
template <typename T>
static bool
exact_integer(double v, T *out)
{
    /* A power of two, so exact as a double. */
    constexpr double kLimit = (double)((uint64_t)1 << (sizeof(T) * 8 - 1));
    /* Range first: converting an out-of-range double is undefined. */
    if (!(v >= -kLimit && v < kLimit)) {
        return false;
    }
    T t = (T)v;
    if ((double)t != v) {
        return false;
    }
    *out = t;
    return true;
}

/* Returns `a` with a new reference, or NULL with ValueError set. */
template <typename T>
static PyObject *
replace_int(PyArrayObject *a, double old_value, double new_value)
{
    ElemIter it;
    elem_iter_init(&it, a);
    if (old_value != old_value) {
        Py_INCREF(a);
        return (PyObject *)a;
    }
    T old_t, new_t;
    if (!exact_integer<T>(old_value, &old_t)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `old` to int");
        return NULL;
    }
    if (!exact_integer<T>(new_value, &new_t)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `new` to int");
        return NULL;
    }
    if (PyArray_FailUnlessWriteable(a, "assignment destination") < 0) {
        return NULL;
    }

    PyThreadState *save = PyEval_SaveThread();
    replace_walk<T>(&it, FlipEqual<T>(old_t, new_t));
    PyEval_RestoreThread(save);

    Py_INCREF(a);
    return (PyObject *)a;
}

PyObject *
replace_i64(PyArrayObject *a, double old_value, double new_value)
{
    return replace_int<int64_t>(a, old_value, new_value);
}

PyObject *
replace_i32(PyArrayObject *a, double old_value, double new_value)
{
    return replace_int<int32_t>(a, old_value, new_value);
}
