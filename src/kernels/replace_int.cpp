/*
 * int64 and int32 replacement.
 *
 *     a[i] = new where a[i] == old
 *
 * `old` and `new` must be exactly values of the element type: an int or
 * NumPy integer inside the type's range, or a double without a fraction
 * inside it.  A NaN `old` matches no integer, so that call does nothing at
 * all.
 */
#define NO_IMPORT_ARRAY
#include <stdint.h>

#include "kernels.h"
#include "replace_walk.h"

/* Returns `a` with a new reference, or NULL with ValueError set. */
template <typename T>
static PyObject *
replace_int(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    ElemIter it;
    elem_iter_init(&it, a);
    if (old_s->value != old_s->value) {
        Py_INCREF(a);
        return (PyObject *)a;
    }
    uint64_t old_bits, new_bits;
    if (!scalar_as_integer(old_s, sizeof(T), true, &old_bits)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `old` to int");
        return NULL;
    }
    if (!scalar_as_integer(new_s, sizeof(T), true, &new_bits)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `new` to int");
        return NULL;
    }
    const T old_t = (T)old_bits;  /* the low bytes, two's complement */
    const T new_t = (T)new_bits;
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
replace_i64(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_int<int64_t>(a, old_s, new_s);
}

PyObject *
replace_i32(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_int<int32_t>(a, old_s, new_s);
}
