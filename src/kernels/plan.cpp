/*
 * What each element type compares and writes.
 *
 *   float64, float32 in native byte order: IEEE equality in the element
 *       type (the processor's own compare), `old` and `new` rounded to it;
 *       a NaN `old` matches every NaN.
 *   float16, and floats in either order otherwise: the same rules on the
 *       stored bits.  A rounded `old` of zero matches both zeros, a NaN
 *       `old` every pattern with all exponent bits set and a nonzero
 *       fraction, any other `old` only its own bits.
 *   integers of 8 to 64 bits: `old` and `new` must be exactly values of
 *       the type (an int or NumPy integer by its own value, any other
 *       number when integral); a NaN `old` matches nothing and the call
 *       does nothing.
 *   bool: `old` of 0 matches false, of 1 every nonzero byte (as NumPy
 *       reads a bool), anything else nothing; `new` is stored as its truth.
 *       Ints and NumPy integers count by their own value here too.
 *
 * Byte-swapped data is compared and written in its own byte order: the
 * patterns are swapped instead of the array.
 */
#include "plan.h"

#include <string.h>

#include "kernels.h"

/* The fields of an IEEE float of `size` bytes. */
struct FloatLayout {
    uint64_t sign, exponent, fraction;
};

static FloatLayout
float_layout(npy_intp size)
{
    switch (size) {
    case 2:
        return {0x8000, 0x7c00, 0x03ff};
    case 4:
        return {0x80000000u, 0x7f800000u, 0x007fffffu};
    default:
        return {(uint64_t)1 << 63, (uint64_t)0x7ff << 52,
                ((uint64_t)1 << 52) - 1};
    }
}

/* `v` rounded to float16 (to nearest, ties to even; too large becomes
   infinity, too small zero), as bits.  A NaN keeps the top of its payload,
   and at least one bit of it. */
static uint64_t
half_from_double(double v)
{
    uint64_t b;
    memcpy(&b, &v, sizeof b);
    const uint64_t sign = (b >> 48) & 0x8000;
    const int exponent = (int)((b >> 52) & 0x7ff);
    const uint64_t fraction = b & (((uint64_t)1 << 52) - 1);
    if (exponent == 0x7ff) {
        if (fraction == 0) {
            return sign | 0x7c00;
        }
        const uint64_t payload = fraction >> 42;
        return sign | 0x7c00 | (payload != 0 ? payload : 1);
    }
    /* The significand with its leading bit, and how many of its 53 bits
       fall below float16's last place: 42 for a normal float16, more for a
       subnormal one. */
    const uint64_t significand = fraction | ((uint64_t)(exponent != 0) << 52);
    const int half_exponent = exponent - 1023 + 15;
    const int dropped = half_exponent >= 1 ? 42 : 42 + 1 - half_exponent;
    if (half_exponent >= 31) {
        return sign | 0x7c00;
    }
    if (dropped >= 54) {
        return sign; /* below half the smallest subnormal */
    }
    uint64_t kept = significand >> dropped;
    const uint64_t rest = significand & (((uint64_t)1 << dropped) - 1);
    const uint64_t halfway = (uint64_t)1 << (dropped - 1);
    if (rest > halfway || (rest == halfway && (kept & 1))) {
        kept++; /* may carry into the exponent, up to infinity: right */
    }
    if (half_exponent >= 1) {
        /* The leading bit of `kept` adds one to the exponent field. */
        return sign | (((uint64_t)(half_exponent - 1) << 10) + kept);
    }
    return sign | kept;
}

/* `v` rounded to the float type of `size` bytes, as bits. */
static uint64_t
float_from_double(double v, npy_intp size)
{
    uint64_t bits = 0;
    if (size == 8) {
        memcpy(&bits, &v, 8);
    }
    else if (size == 4) {
        const float f = (float)v;
        memcpy(&bits, &f, 4);
    }
    else {
        bits = half_from_double(v);
    }
    return bits;
}

uint64_t
swap_bytes(uint64_t bits, npy_intp size)
{
    switch (size) {
    case 2:
        return __builtin_bswap16((uint16_t)bits);
    case 4:
        return __builtin_bswap32((uint32_t)bits);
    case 8:
        return __builtin_bswap64(bits);
    default:
        return bits;
    }
}

WalkKind
bits_walk(npy_intp size, bool masked)
{
    const int log2_size = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
    return (WalkKind)((masked ? WALK_BITS8_MASKED : WALK_BITS8_EQUAL)
                      + log2_size);
}

static bool
is_nan(const Scalar *s)
{
    return s->value != s->value;
}

ElementType
element_type(PyArrayObject *a)
{
    const PyArray_Descr *descr = PyArray_DESCR(a);
    return {descr->kind, PyArray_ITEMSIZE(a), descr->byteorder == NPY_OPPBYTE};
}

int
plan_old(const ElementType &e, const Scalar *old_s, ScalarName name,
         uint64_t *bits)
{
    *bits = 0;
    switch (e.kind) {
    case 'f': {
        if (is_nan(old_s)) {
            return OLD_NAN;
        }
        const uint64_t b = float_from_double(old_s->value, e.size);
        *bits = e.swapped ? swap_bytes(b, e.size) : b;
        return (b & ~float_layout(e.size).sign) == 0 ? OLD_ZERO : OLD_BITS;
    }
    case 'b': {
        bool zero, one;
        if (old_s->is_integer) {
            const bool small = old_s->fits_64 && !old_s->negative;
            zero = small && old_s->magnitude == 0;
            one = small && old_s->magnitude == 1;
        }
        else {
            zero = old_s->value == 0.0;
            one = old_s->value == 1.0;
        }
        return zero ? OLD_BITS : one ? OLD_NONZERO : OLD_NOTHING;
    }
    default:
        if (!old_s->is_integer && is_nan(old_s)) {
            return OLD_SKIP;
        }
        if (!scalar_as_integer(old_s, (int)e.size, e.kind == 'i', bits)) {
            scalar_raise(PyExc_ValueError, "Cannot safely cast ", name,
                         " to int");
            return -1;
        }
        *bits = e.swapped ? swap_bytes(*bits, e.size) : *bits;
        return OLD_BITS;
    }
}

int
plan_new(const ElementType &e, const Scalar *new_s, ScalarName name,
         uint64_t *bits)
{
    switch (e.kind) {
    case 'f':
        *bits = float_from_double(new_s->value, e.size);
        break;
    case 'b':
        /* NaN is true */
        *bits = new_s->is_integer ? !new_s->fits_64 || new_s->magnitude != 0
                                  : new_s->value != 0.0;
        return 0;
    default:
        if (!scalar_as_integer(new_s, (int)e.size, e.kind == 'i', bits)) {
            scalar_raise(PyExc_ValueError, "Cannot safely cast ", name,
                         " to int");
            return -1;
        }
        break;
    }
    *bits = e.swapped ? swap_bytes(*bits, e.size) : *bits;
    return 0;
}

void
class_pattern(const ElementType &e, OldClass c, MatchPattern *p)
{
    const FloatLayout f = float_layout(e.size);
    uint64_t and_mask = 0, and_bits = 0, not_mask = 0, not_bits = 1;
    if (c == OLD_NAN) {
        /* exponent all ones, fraction not zero */
        and_mask = and_bits = f.exponent;
        not_mask = f.fraction;
        not_bits = 0;
    }
    else if (c == OLD_ZERO) {
        and_mask = f.exponent | f.fraction; /* the sign is free */
    }
    else { /* OLD_NONZERO */
        not_mask = 0xff;
        not_bits = 0;
    }
    p->and_mask = e.swapped ? swap_bytes(and_mask, e.size) : and_mask;
    p->and_bits = e.swapped ? swap_bytes(and_bits, e.size) : and_bits;
    p->not_mask = e.swapped ? swap_bytes(not_mask, e.size) : not_mask;
    p->not_bits = e.swapped ? swap_bytes(not_bits, e.size) : not_bits;
}

ArrayRoute
array_route(PyArrayObject *a)
{
    const bool native = PyArray_DESCR(a)->byteorder != NPY_OPPBYTE;
    switch (PyArray_TYPE(a)) {
    case NPY_DOUBLE:
    case NPY_FLOAT:
    case NPY_LONG:
    case NPY_INT:
        return native ? ROUTE_DIRECT : ROUTE_LOOPS;
    default:
        break;
    }
    const npy_intp size = PyArray_ITEMSIZE(a);
    bool loops;
    switch (PyArray_DESCR(a)->kind) {
    case 'b':
        loops = size == 1;
        break;
    case 'i':
    case 'u':
        loops = size == 1 || size == 2 || size == 4 || size == 8;
        break;
    case 'f':
        loops = size == 2 || size == 4 || size == 8;
        break;
    default:
        loops = false;
    }
    return loops ? ROUTE_LOOPS : ROUTE_NUMPY;
}

PlanOutcome
plan_replace(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s,
             ReplacePlan *plan)
{
    const ElementType e = element_type(a);
    MatchPattern *s = &plan->pattern;
    *s = MatchPattern{0, 0, 0, 0, 1, 0};
    const int c = plan_old(e, old_s, ScalarName{"old", -1}, &s->old_bits);
    if (c < 0) {
        return PLAN_RAISE;
    }
    if (c == OLD_SKIP) {
        return PLAN_RETURN; /* `new` is never looked at */
    }
    if (plan_new(e, new_s, ScalarName{"new", -1}, &s->new_bits) < 0) {
        return PLAN_RAISE;
    }
    if (c == OLD_NOTHING) {
        return PLAN_CHECK_ONLY;
    }
    if (e.kind == 'f' && !e.swapped && e.size != 2) {
        /* The processor's own compares: IEEE equality takes both zeros. */
        const bool nan = c == OLD_NAN;
        plan->walk = e.size == 8 ? (nan ? WALK_F64_NAN : WALK_F64_EQUAL)
                                 : (nan ? WALK_F32_NAN : WALK_F32_EQUAL);
        return PLAN_WALK;
    }
    plan->walk = bits_walk(e.size, c != OLD_BITS);
    if (c != OLD_BITS) {
        class_pattern(e, (OldClass)c, s);
    }
    return PLAN_WALK;
}
