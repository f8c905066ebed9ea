/*
 * `old` and `new` as the loops see them: the double every element type
 * starts from, and for integers the exact value as well.
 *
 * A Python int (bool included) or a NumPy integer scalar is read exactly, so
 * that an integer loop can match 2**53 + 1 or write 2**63 - 1; every other
 * number is only a double, which an integer loop takes when it is exactly
 * one of its values.
 */
#ifndef FENNICK_SCALAR_SCALAR_H
#define FENNICK_SCALAR_SCALAR_H

#include <stdint.h>

#include "../numpy_api.h"

struct Scalar {
    double value;    /* the interpreter's float conversion */
    bool is_integer; /* an int or NumPy integer: the fields below hold it */
    bool fits_64;    /* |exact value| < 2**64 */
    bool negative;
    uint64_t magnitude; /* |exact value| when fits_64 */
};

/* How a message names a scalar: "`old`", or "`old[2]`" for index 2. */
struct ScalarName {
    const char *what;
    npy_intp index; /* -1 for none */
};

/* Raises `type` with the message "<before><name><after>". */
void scalar_raise(PyObject *type, const char *before, ScalarName name,
                  const char *after);

/* Converts `obj` (borrowed) as the interpreter converts to float, reading
   any `__float__` once; complex numbers are refused.  On failure replaces
   the conversion's own error with TypeError "<name> must be a number" (an
   interrupt or other non-Exception passes through).  Returns 0, or -1 with
   an exception set. */
int scalar_from_object(PyObject *obj, Scalar *out, ScalarName name);

/* `s` for an integer read exactly: negative, with |value| `magnitude`. */
void scalar_from_integer(bool negative, uint64_t magnitude, Scalar *s);

/* The bits of `s` as an integer of `size` bytes (1, 2, 4 or 8; two's
   complement when `is_signed`), in the low bytes of *bits.  An exact
   integer must lie in the type's range; a double must also be integral.
   Returns false when `s` is not exactly one of the type's values. */
bool scalar_as_integer(const Scalar *s, int size, bool is_signed,
                       uint64_t *bits);

#endif /* FENNICK_SCALAR_SCALAR_H */
