/*
 * Conversion of `old` and `new`: the interpreter's float conversion for
 * every number, plus an exact reading of Python ints and NumPy integer
 * scalars for the integer loops; and the test that a scalar is exactly a
 * value of a given integer type.
 */
#include "scalar.h"

#include <string.h>

/* Complex numbers have no value as a double: NumPy's complex scalars would
   convert with only a ComplexWarning, dropping the imaginary part. */
static bool
is_complex(PyObject *obj)
{
    return PyComplex_Check(obj) || PyArray_IsScalar(obj, ComplexFloating);
}

static void
set_exact(Scalar *out, bool negative, uint64_t magnitude)
{
    out->is_integer = true;
    out->fits_64 = true;
    out->negative = negative && magnitude != 0;
    out->magnitude = magnitude;
}

/* An int's own value, whatever its type's __float__ or __index__ do (for a
   PyLong neither is called).  Returns 0, or -1 with an exception set. */
static int
read_long(PyObject *obj, Scalar *out)
{
    int overflow;
    long long v = PyLong_AsLongLongAndOverflow(obj, &overflow);
    if (v == -1 && PyErr_Occurred()) {
        return -1;
    }
    if (overflow == 0) {
        set_exact(out, v < 0, v < 0 ? 0 - (uint64_t)v : (uint64_t)v);
        return 0;
    }
    out->is_integer = true;
    out->fits_64 = false;
    out->negative = overflow < 0;
    out->magnitude = 0;
    if (overflow > 0) {
        unsigned long long u = PyLong_AsUnsignedLongLong(obj);
        if (u == (unsigned long long)-1 && PyErr_Occurred()) {
            if (!PyErr_ExceptionMatches(PyExc_OverflowError)) {
                return -1;
            }
            PyErr_Clear(); /* 2**64 or more: no integer type holds it */
            return 0;
        }
        set_exact(out, false, u);
    }
    return 0;
}

/* A NumPy integer scalar's stored value, read from its data.  Signedness
   comes from the scalar's type: timedelta64 is a signed integer, though
   its type number is not among those PyTypeNum_ISSIGNED knows.
   Returns 0, or -1 with an exception set. */
static int
read_numpy_integer(PyObject *obj, Scalar *out)
{
    PyArray_Descr *descr = PyArray_DescrFromScalar(obj);
    if (descr == NULL) {
        return -1;
    }
    const npy_intp size = PyDataType_ELSIZE(descr);
    Py_DECREF(descr);
    const bool is_signed = PyArray_IsScalar(obj, SignedInteger);
    if (size < 1 || size > 8) {
        out->is_integer = false; /* no such integer type today */
        return 0;
    }
    unsigned char raw[16] = {0};
    PyArray_ScalarAsCtype(obj, raw);
    uint64_t u = 0;
    memcpy(&u, raw, (size_t)size); /* little-endian: the low bytes */
    const int unused = 64 - 8 * (int)size;
    if (is_signed) {
        /* Sign-extend through the top bit of the element. */
        const int64_t v = (int64_t)(u << unused) >> unused;
        set_exact(out, v < 0, v < 0 ? 0 - (uint64_t)v : (uint64_t)v);
    }
    else {
        set_exact(out, false, u);
    }
    return 0;
}

void
scalar_raise(PyObject *type, const char *before, ScalarName name,
             const char *after)
{
    if (name.index < 0) {
        PyErr_Format(type, "%s`%s`%s", before, name.what, after);
    }
    else {
        PyErr_Format(type, "%s`%s[%zd]`%s", before, name.what,
                     (Py_ssize_t)name.index, after);
    }
}

void
scalar_from_integer(bool negative, uint64_t magnitude, Scalar *s)
{
    /* As the interpreter converts an int: to the nearest double. */
    s->value = negative ? -(double)magnitude : (double)magnitude;
    set_exact(s, negative, magnitude);
}

int
scalar_from_object(PyObject *obj, Scalar *out, ScalarName name)
{
    out->is_integer = false;
    if (PyFloat_CheckExact(obj)) {
        out->value = PyFloat_AS_DOUBLE(obj);
        return 0;
    }
    double value;
    if (PyLong_CheckExact(obj)) {
        /* The general conversion would build a float object first: an
           allocation and a release on every call with an int. */
        value = PyLong_AsDouble(obj);
    }
    else if (is_complex(obj)) {
        scalar_raise(PyExc_TypeError, "", name, " must be a number");
        return -1;
    }
    else {
        value = PyFloat_AsDouble(obj);
    }
    if (value == -1.0 && PyErr_Occurred()) {
        /* KeyboardInterrupt and the like are not a bad number. */
        if (PyErr_ExceptionMatches(PyExc_Exception)) {
            scalar_raise(PyExc_TypeError, "", name, " must be a number");
        }
        return -1;
    }
    out->value = value;
    int status = 0;
    if (PyLong_Check(obj)) {
        status = read_long(obj, out);
    }
    else if (PyArray_IsScalar(obj, Integer)) {
        status = read_numpy_integer(obj, out);
    }
    if (status < 0 && PyErr_ExceptionMatches(PyExc_Exception)) {
        scalar_raise(PyExc_TypeError, "", name, " must be a number");
    }
    return status;
}

bool
scalar_as_integer(const Scalar *s, int size, bool is_signed, uint64_t *bits)
{
    const int width = 8 * size;
    const uint64_t keep =
        width == 64 ? ~(uint64_t)0 : ((uint64_t)1 << width) - 1;
    if (s->is_integer) {
        if (!s->fits_64) {
            return false;
        }
        /* Signed: -2**(w-1) <= v < 2**(w-1); unsigned: 0 <= v < 2**w. */
        const uint64_t limit = (uint64_t)1 << (width - 1);
        const bool ok = is_signed ? (s->negative ? s->magnitude <= limit
                                                 : s->magnitude < limit)
                                  : !s->negative && s->magnitude <= keep;
        if (!ok) {
            return false;
        }
        *bits = (s->negative ? 0 - s->magnitude : s->magnitude) & keep;
        return true;
    }
    /* Powers of two, exact as doubles: the type's range is [lo, hi). */
    const double half = (double)((uint64_t)1 << (width - 1));
    const double lo = is_signed ? -half : 0.0;
    const double hi = is_signed ? half : 2.0 * half;
    const double v = s->value;
    /* Range first: converting an out-of-range double is undefined. */
    if (!(v >= lo && v < hi)) {
        return false;
    }
    if (is_signed) {
        const int64_t t = (int64_t)v;
        if ((double)t != v) {
            return false;
        }
        *bits = (uint64_t)t & keep;
    }
    else {
        const uint64_t t = (uint64_t)v;
        if ((double)t != v) {
            return false;
        }
        *bits = t;
    }
    return true;
}
