/*
 * The native replacement kernels, one per element type.
 *
 * Each takes an array of its own type (borrowed; the caller holds a
 * reference) and `old` and `new` (as doubles for floats, as scalars that
 * may carry an exact integer for integers), replaces in place with the
 * interpreter lock released during the walk, and returns the array with a
 * new reference, or NULL with an exception set (a read-only array, or for
 * integers a value that is not exactly one of the type's values).
 */
#ifndef FENNICK_KERNELS_KERNELS_H
#define FENNICK_KERNELS_KERNELS_H

#include "../numpy_api.h"
#include "../scalar/scalar.h"

PyObject *
replace_f64(PyArrayObject *a, double old_value, double new_value);
PyObject *
replace_f32(PyArrayObject *a, double old_value, double new_value);
PyObject *
replace_i64(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s);
PyObject *
replace_i32(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s);

#endif /* FENNICK_KERNELS_KERNELS_H */
