/*
 * float64 and float32 replacement.
 *
 *     a[i] = new where a[i] == old    (isnan(a[i]) when old is NaN)
 *
 * IEEE equality: +0.0 and -0.0 match each other and a NaN never equals
 * anything, so NaN `old` has its own mode.  For float32, `old` and `new` are
 * first rounded to float32 (to nearest even; out-of-range values become
 * infinities, tiny ones zeros) and compared and written in float32.
 */
#define NO_IMPORT_ARRAY
#include <float.h>

#include "kernels.h"
#include "replace_walk.h"

/* The smallest positive normal value of T. */
template <typename T>
constexpr T kMinNormal = sizeof(T) == sizeof(float) ? FLT_MIN : DBL_MIN;

/* Returns `a` with a new reference, or NULL if `a` is read-only. */
template <typename T>
static PyObject *
replace_float(PyArrayObject *a, double old_value, double new_value)
{
    ElemIter it;
    elem_iter_init(&it, a);
    if (PyArray_FailUnlessWriteable(a, "assignment destination") < 0) {
        return NULL;
    }
    const T old_t = (T)old_value;
    const T new_t = (T)new_value;

    /* One loop per mode.  A normal or infinite `old` is matched only by
       its own bits; a zero or subnormal one by more than one pattern. */
    PyThreadState *save = PyEval_SaveThread();
    if (old_value != old_value) {
        replace_walk<T>(&it, SetNan<T>(new_t));
    }
    else if (old_t >= kMinNormal<T> || old_t <= -kMinNormal<T>) {
        replace_walk<T>(&it, FlipEqual<T>(old_t, new_t));
    }
    else {
        replace_walk<T>(&it, SetEqual<T>(old_t, new_t));
    }
    PyEval_RestoreThread(save);

    Py_INCREF(a);
    return (PyObject *)a;
}

PyObject *
replace_f64(PyArrayObject *a, double old_value, double new_value)
{
    return replace_float<double>(a, old_value, new_value);
}

PyObject *
replace_f32(PyArrayObject *a, double old_value, double new_value)
{
    return replace_float<float>(a, old_value, new_value);
}
