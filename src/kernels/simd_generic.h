/*
 * Vector primitives for any other processor: 16-byte vectors of the
 * compiler's generic kind, which GCC and Clang lower to the target's own
 * instructions where it has them and to scalar code where it does not.
 *
 *     V, M, kLanes, load, splat_bits, equal, unordered, bit_and
 *             as in simd_vector_ext.h
 *     any     whether a lane of M is set
 *     lanes   M as a bit per lane
 *     store_where
 *             `value` into the lanes of M, one scalar store per lane
 *     store_block
 *             the same for four vectors from p, one loop over their lanes
 *     kMaskedTail, kGather, kCheapMaskedStores
 *             false: a run's last elements go one at a time, strided runs
 *             load element by element, and a vector without a match
 *             stores nothing
 */
#ifndef FENNICK_KERNELS_SIMD_GENERIC_H
#define FENNICK_KERNELS_SIMD_GENERIC_H

#include "simd_vector_ext.h"

namespace {

template <typename T>
struct Simd : VectorExt<T, 16> {
    typedef VectorExt<T, 16> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    using Base::kLanes;
    static constexpr bool kMaskedTail = false;
    static constexpr bool kGather = false;
    static constexpr bool kCheapMaskedStores = false;

    static bool
    any(M m)
    {
        return lanes(m) != 0;
    }
    static uint64_t
    lanes(M m)
    {
        uint64_t bits = 0;
        for (npy_intp i = 0; i < kLanes; i++) {
            bits |= (uint64_t)(m[i] != 0) << i;
        }
        return bits;
    }
    static void
    store_where(char *p, M m, V, T value)
    {
        store_lanes<T>(p, (npy_intp)sizeof(T), lanes(m), value);
    }
    static void
    store_block(char *p, const M m[4], V, T value)
    {
        store_block_lanes<Simd>(p, m, value);
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_GENERIC_H */
