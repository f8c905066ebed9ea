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
 *       the type; a NaN `old` matches nothing and the call does nothing.
 *   bool: `old` of 0 matches false, of 1 every nonzero byte (as NumPy
 *       reads a bool), anything else nothing; `new` is stored as its truth.
 *
 * Byte-swapped data is compared and written in its own byte order: the
 * patterns are swapped instead of the array.
 */
#include "plan.h"

#include "kernels.h"

#include <string.h>

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

static uint64_t
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

/* The bit walk for elements of `size` bytes. */
static WalkKind
bits_walk(npy_intp size, bool masked)
{
    const int log2_size = size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
    return (WalkKind)((masked ? WALK_BITS8_MASKED : WALK_BITS8_EQUAL)
                      + log2_size);
}

static void
set_masked(MatchPattern *s, uint64_t and_mask, uint64_t and_bits,
           uint64_t not_mask, uint64_t not_bits)
{
    s->and_mask = and_mask;
    s->and_bits = and_bits;
    s->not_mask = not_mask;
    s->not_bits = not_bits;
}

static PlanOutcome
plan_float(npy_intp size, bool swapped, const Scalar *old_s,
           const Scalar *new_s, ReplacePlan *plan)
{
    MatchPattern *s = &plan->pattern;
    const bool nan_old = old_s->value != old_s->value;
    s->new_bits = float_from_double(new_s->value, size);
    if (!nan_old) {
        s->old_bits = float_from_double(old_s->value, size);
    }
    if (!swapped && size != 2) {
        plan->walk = size == 8 ? (nan_old ? WALK_F64_NAN : WALK_F64_EQUAL)
                               : (nan_old ? WALK_F32_NAN : WALK_F32_EQUAL);
        return PLAN_WALK;
    }
    const FloatLayout f = float_layout(size);
    const bool zero_old = !nan_old && (s->old_bits & ~f.sign) == 0;
    plan->walk = bits_walk(size, nan_old || zero_old);
    if (nan_old) {
        set_masked(s, f.exponent, f.exponent, f.fraction, 0);
    }
    else if (zero_old) {
        set_masked(s, f.exponent | f.fraction, 0, 0, 1);
    }
    if (swapped) {
        s->old_bits = swap_bytes(s->old_bits, size);
        s->new_bits = swap_bytes(s->new_bits, size);
        s->and_mask = swap_bytes(s->and_mask, size);
        s->and_bits = swap_bytes(s->and_bits, size);
        s->not_mask = swap_bytes(s->not_mask, size);
        s->not_bits = swap_bytes(s->not_bits, size);
    }
    return PLAN_WALK;
}

static PlanOutcome
plan_integer(npy_intp size, bool is_signed, bool swapped, const Scalar *old_s,
             const Scalar *new_s, ReplacePlan *plan)
{
    if (old_s->value != old_s->value) {
        return PLAN_RETURN; /* `new` is never looked at */
    }
    MatchPattern *s = &plan->pattern;
    if (!scalar_as_integer(old_s, (int)size, is_signed, &s->old_bits)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `old` to int");
        return PLAN_RAISE;
    }
    if (!scalar_as_integer(new_s, (int)size, is_signed, &s->new_bits)) {
        PyErr_SetString(PyExc_ValueError, "Cannot safely cast `new` to int");
        return PLAN_RAISE;
    }
    if (swapped) {
        s->old_bits = swap_bytes(s->old_bits, size);
        s->new_bits = swap_bytes(s->new_bits, size);
    }
    plan->walk = bits_walk(size, false);
    return PLAN_WALK;
}

static PlanOutcome
plan_bool(const Scalar *old_s, const Scalar *new_s, ReplacePlan *plan)
{
    MatchPattern *s = &plan->pattern;
    s->new_bits = new_s->value != 0.0; /* NaN is true */
    if (old_s->value == 0.0) {
        plan->walk = WALK_BITS8_EQUAL;
        s->old_bits = 0;
        return PLAN_WALK;
    }
    if (old_s->value == 1.0) {
        plan->walk = WALK_BITS8_MASKED;
        set_masked(s, 0, 0, 0xff, 0); /* any nonzero byte */
        return PLAN_WALK;
    }
    return PLAN_CHECK_ONLY;
}

bool
replace_serves(PyArrayObject *a)
{
    const npy_intp size = PyArray_ITEMSIZE(a);
    switch (PyArray_DESCR(a)->kind) {
    case 'b':
        return size == 1;
    case 'i':
    case 'u':
        return size == 1 || size == 2 || size == 4 || size == 8;
    case 'f':
        return size == 2 || size == 4 || size == 8;
    default:
        return false;
    }
}

PlanOutcome
plan_replace(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s,
             ReplacePlan *plan)
{
    const PyArray_Descr *descr = PyArray_DESCR(a);
    const npy_intp size = PyArray_ITEMSIZE(a);
    const bool swapped = descr->byteorder == NPY_OPPBYTE;
    plan->pattern = MatchPattern{0, 0, 0, 0, 1, 0};
    switch (descr->kind) {
    case 'b':
        return plan_bool(old_s, new_s, plan);
    case 'f':
        return plan_float(size, swapped, old_s, new_s, plan);
    default:
        return plan_integer(size, descr->kind == 'i', swapped, old_s, new_s,
                            plan);
    }
}
