/*
 * What every target's vector primitives share: one element loaded or
 * stored at an unaligned address, a bit pattern taken as an element, and
 * the store of the matching lanes one by one.
 */
#ifndef FENNICK_KERNELS_SIMD_LANES_H
#define FENNICK_KERNELS_SIMD_LANES_H

#include <stddef.h>
#include <stdint.h>
#include <string.h>

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

/* Stores `v` at p + i * stride for every set bit i of `lanes`. */
template <typename T>
static inline void
store_lanes(char *p, npy_intp stride, uint64_t lanes, T v)
{
    for (; lanes != 0; lanes &= lanes - 1) {
        store_one<T>(p + (npy_intp)__builtin_ctzll(lanes) * stride, v);
    }
}

template <typename T>
constexpr bool kIsFloat = (T)0.5 != (T)0;

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_LANES_H */
