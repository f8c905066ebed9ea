/*
 * What every target's vector primitives share: one element loaded or
 * stored at an unaligned address, a bit pattern taken as an element, and
 * the ways to store the matching lanes of vectors without a masked store:
 * one by one, every lane with those that do not match sent to a scratch
 * slot, or a run of consecutive matches in a few wider moves.
 */
#ifndef FENNICK_KERNELS_SIMD_LANES_H
#define FENNICK_KERNELS_SIMD_LANES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

#if defined(__BMI2__)
#include <immintrin.h>
#endif

#include "../numpy_api.h"

namespace {

template <typename T>
static inline T
load_one(const char *p)
{
    T v;
    memcpy(&v, p, sizeof(T));
    return v;
}

template <typename T>
static inline void
store_one(char *p, T v)
{
    memcpy(p, &v, sizeof(T));
}

/* The low sizeof(T) bytes of `bits` as a T, bit for bit. */
template <typename T>
static inline T
from_bits(uint64_t bits)
{
    T v;
    memcpy(&v, &bits, sizeof(T));
    return v;
}

/* The first lane of a vector `v` of T. */
template <typename T, typename V>
static inline T
first_lane(V v)
{
    T t;
    memcpy(&t, &v, sizeof(T));
    return t;
}

/* Stores values[i] (values[0] for every i when kUniform) at
   p + i * stride for every set bit i of `lanes`. */
template <typename T, bool kUniform>
static inline void
store_lanes(char *p, npy_intp stride, uint64_t lanes, const T *values)
{
    for (; lanes != 0; lanes &= lanes - 1) {
        const int i = __builtin_ctzll(lanes);
        store_one<T>(p + (npy_intp)i * stride, values[kUniform ? 0 : i]);
    }
}

/* The same for the first `n` elements, without a branch on the bits:
   element i's value is values[i * value_step]; each element is stored,
   one whose bit is clear into `scratch` instead of the array (when every
   bit is set, each into the array without a select).  Faster than
   store_lanes where many bits are set and the end of its loop is hard to
   predict.  Eight elements per step, unrolled: told that the odds are
   even, GCC and Clang select each address with a conditional move, where
   in a loop of single elements GCC turns the select back into a branch. */
template <typename T, bool kUniform>
static inline void
store_lanes_redirected(char *p, npy_intp stride, npy_intp n, uint64_t lanes,
                       const T *values, npy_intp value_step, char *scratch)
{
    const T value = values[0];
    npy_intp i = 0;
    if (n == 64 ? lanes == ~(uint64_t)0 : lanes == ((uint64_t)1 << n) - 1) {
        // every bit set: every element, with nothing to select
#pragma GCC unroll 8
        for (; i < n; i++, p += stride) {
            store_one<T>(p, kUniform ? value : values[i * value_step]);
        }
        return;
    }
    for (; i + 8 <= n; i += 8, p += 8 * stride) {
        const uint64_t bits = lanes >> i;
        char *at = p;
#pragma GCC unroll 8
        for (int k = 0; k < 8; k++, at += stride) {
            const bool take =
                __builtin_expect_with_probability((bits >> k) & 1, 1, 0.5);
            store_one<T>(take ? at : scratch,
                         kUniform ? value : values[(i + k) * value_step]);
        }
    }
    // the last elements, fewer than eight (a bound the compiler can see)
    for (int k = 0; k < 8 && i + k < n; k++, p += stride) {
        store_one<T>((lanes >> (i + k)) & 1 ? p : scratch,
                     kUniform ? value : values[(i + k) * value_step]);
    }
}

/* Whether every_step_bits takes any step, or only 2 and 4. */
#if defined(__BMI2__)
constexpr bool kAnyStepBits = true;
#else
constexpr bool kAnyStepBits = false;
#endif

/* Bits 0, step, 2 step, ... of `x`, packed from bit 0; `spread` has those
   bits set.  Without BMI2 a step of 2 or 4 only. */
static inline uint64_t
every_step_bits(uint64_t x, npy_intp step, uint64_t spread)
{
#if defined(__BMI2__)
    (void)step;
    return _pext_u64(x, spread);
#else
    x &= spread;
    if (step == 4) {
        x = (x | x >> 3) & 0x0303030303030303u;
        x = (x | x >> 6) & 0x000f000f000f000fu;
        x = (x | x >> 12) & 0x000000ff000000ffu;
        return (x | x >> 24) & 0xffffu;
    }
    x = (x | x >> 1) & 0x3333333333333333u;
    x = (x | x >> 2) & 0x0f0f0f0f0f0f0f0fu;
    x = (x | x >> 4) & 0x00ff00ff00ff00ffu;
    x = (x | x >> 8) & 0x0000ffff0000ffffu;
    return (x | x >> 16) & 0xffffffffu;
#endif
}

/* The set bits of `x`.  Baseline x86-64 has no instruction for it, and
   the compiler's library call would cost more than these few steps. */
static inline int
count_lanes(uint64_t x)
{
#if defined(__x86_64__) && !defined(__POPCNT__)
    x -= (x >> 1) & 0x5555555555555555u;
    x = (x & 0x3333333333333333u) + ((x >> 2) & 0x3333333333333333u);
    x = (x + (x >> 4)) & 0x0f0f0f0f0f0f0f0fu;
    return (int)((x * 0x0101010101010101u) >> 56);
#else
    return __builtin_popcountll(x);
#endif
}

/* Stores `n` (1 to 64) consecutive elements from `p`: values[0], ...,
   values[n - 1], or values[0] in each for a uniform walk.  A few moves of
   fixed size, the last two overlapping where the length asks for it:
   every byte written belongs to the n elements. */
template <typename T, bool kUniform>
static inline void
store_run(char *p, npy_intp n, const T *values)
{
    const npy_intp bytes = n * (npy_intp)sizeof(T);
    unsigned char fill[16];
    if constexpr (kUniform) {
        for (size_t i = 0; i < sizeof(fill); i += sizeof(T)) {
            memcpy(fill + i, values, sizeof(T));
        }
    }
    /* The bytes from `at` on: any 16 of the fill, which repeats each
       element, when `at` is a multiple of the element's size. */
    auto from = [&](npy_intp at) {
        return kUniform ? (const void *)fill
                        : (const void *)((const char *)values + at);
    };
    if (bytes >= 16) {
        for (npy_intp at = 0; at + 16 < bytes; at += 16) {
            memcpy(p + at, from(at), 16);
        }
        memcpy(p + bytes - 16, from(bytes - 16), 16);
    }
    else if (bytes >= 8) {
        memcpy(p, from(0), 8);
        memcpy(p + bytes - 8, from(bytes - 8), 8);
    }
    else if (bytes >= 4) {
        memcpy(p, from(0), 4);
        memcpy(p + bytes - 4, from(bytes - 4), 4);
    }
    else if (bytes >= 2) {
        memcpy(p, from(0), 2);
        memcpy(p + bytes - 2, from(bytes - 2), 2);
    }
    else {
        memcpy(p, from(0), 1);
    }
}

/* Stores the lanes that `lanes` selects (bit i: lane i) of the `n` (at
   most 64) lanes of the vectors from `v`, at p, p + stride, ...; in a
   uniform walk each is the first lane of v[0].  32- and 64-bit lanes are
   all stored (unless one is selected), those not selected into `scratch`:
   a vector holds few of them, so that costs less than the mispredicted
   end of a loop over the selected ones.  Narrower lanes take that loop, unless the selected lanes
   one item apart are one or two runs of consecutive lanes (the edges of
   runs of matches), which a few wider moves store. */
template <typename T, bool kUniform, typename V>
static inline void
store_selected(char *p, npy_intp stride, uint64_t lanes, npy_intp n,
               const V *v, char *scratch)
{
    T values[kUniform ? 1 : 64];
    if constexpr (kUniform) {
        values[0] = first_lane<T>(v[0]);
    }
    else {
        // a vector at a time: a copy of n lanes, its length unknown to the
        // compiler where this is not inlined, became a rep movs, slower
        // than the stores that follow
        constexpr npy_intp kPer = (npy_intp)(sizeof(V) / sizeof(T));
        for (npy_intp i = 0; i * kPer < n; i++) {
            memcpy(values + i * kPer, &v[i], sizeof(V));
        }
    }
    if constexpr (sizeof(T) >= 4) {
        if ((lanes & (lanes - 1)) == 0) {
            store_lanes<T, kUniform>(p, stride, lanes, values);
        }
        else {
            store_lanes_redirected<T, kUniform>(p, stride, n, lanes, values, 1,
                                                scratch);
        }
        return;
    }
    if (stride == (npy_intp)sizeof(T) && (lanes & (lanes - 1)) != 0) {
        // the first run, and what is left
        const int a = __builtin_ctzll(lanes);
        const uint64_t from_a = lanes >> a;
        const int length = ~from_a == 0 ? 64 : __builtin_ctzll(~from_a);
        const uint64_t rest =
            length + a == 64 ? 0 : lanes >> (a + length) << (a + length);
        const int b = rest != 0 ? __builtin_ctzll(rest) : 0;
        const uint64_t from_b = rest >> b;
        if ((from_b & (from_b + 1)) == 0) {
            store_run<T, kUniform>(p + a * stride, length,
                                   values + (kUniform ? 0 : a));
            if (rest != 0) {
                store_run<T, kUniform>(p + b * stride,
                                       __builtin_ctzll(~from_b),
                                       values + (kUniform ? 0 : b));
            }
            return;
        }
    }
    store_lanes<T, kUniform>(p, stride, lanes, values);
}

template <typename T>
constexpr bool kIsFloat = (T)0.5 != (T)0;

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_LANES_H */
