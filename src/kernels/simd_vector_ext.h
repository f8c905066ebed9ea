/*
 * Vectors of the compiler's generic kind (GCC and Clang vector
 * extensions): the common ground of every target without AVX-512.  Loads,
 * broadcasts, compares and the store of a block's matches lane by lane are
 * written once here; each target's file adds what its instructions do
 * better (a mask's lanes as bits, masked loads and stores).
 *
 *     V    a vector of Bytes / sizeof(T) lanes of T
 *     M    which lanes match: a vector of all-ones (match) or zero lanes
 *          of the same width, combined with the operators & | ~
 */
#ifndef FENNICK_KERNELS_SIMD_VECTOR_EXT_H
#define FENNICK_KERNELS_SIMD_VECTOR_EXT_H

#include "simd_lanes.h"

namespace {

template <size_t Size>
struct SignedOfSize;
template <>
struct SignedOfSize<1> {
    typedef int8_t type;
};
template <>
struct SignedOfSize<2> {
    typedef int16_t type;
};
template <>
struct SignedOfSize<4> {
    typedef int32_t type;
};
template <>
struct SignedOfSize<8> {
    typedef int64_t type;
};

template <typename T, size_t Bytes>
struct VectorExt {
    typedef T V __attribute__((vector_size(Bytes)));
    typedef typename SignedOfSize<sizeof(T)>::type I;
    typedef I M __attribute__((vector_size(Bytes)));
    static constexpr npy_intp kLanes = Bytes / sizeof(T);

    /* Unaligned. */
    static V
    load(const char *p)
    {
        V v;
        memcpy(&v, p, sizeof(V));
        return v;
    }
    /* Integer lanes, so a -0.0 or a signalling NaN keeps its bits. */
    static V
    splat_bits(uint64_t bits)
    {
        M m;
        for (npy_intp i = 0; i < kLanes; i++) {
            m[i] = (I)bits;
        }
        return (V)m;
    }
    /* IEEE equality for floats, equal bits for integers. */
    static M
    equal(V a, V b)
    {
        return (M)(a == b);
    }
    static M
    unordered(V a)
    {
        return (M)(a != a);
    }
    static V
    bit_and(V a, V b)
    {
        return (V)((M)a & (M)b);
    }
};

/* Stores `value` into the matching lanes of the four vectors from `p`, one
   lane at a time.  The lanes of all four go into one bit mask (two for
   32 bytes), so that the loop over the matches ends, and mispredicts, once.
   S is the target's Simd<T>. */
template <typename S, typename T>
static inline void
store_block_lanes(char *p, const typename S::M m[4], T value)
{
    constexpr int kPer = 64 / S::kLanes < 4 ? 64 / S::kLanes : 4;
    for (int half = 0; half < 4; half += kPer) {
        uint64_t bits = 0;
        for (int i = 0; i < kPer; i++) {
            bits |= S::lanes(m[half + i]) << (i * S::kLanes);
        }
        store_lanes<T>(p + half * (npy_intp)sizeof(typename S::V),
                       (npy_intp)sizeof(T), bits, value);
    }
}

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_VECTOR_EXT_H */
