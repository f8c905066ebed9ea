/*
 * Vector primitives for any other processor: 16-byte vectors of the
 * compiler's generic kind, which GCC and Clang lower to the target's own
 * instructions where it has them and to scalar code where it does not.
 *
 *     V, M, kLanes, load, store, splat_bits, equal, unordered, bit_and, blend,
 *     from_lanes
 *             as in simd_vector_ext.h
 *     any, all
 *             whether a lane of M is set; whether every lane is
 *     lanes   M as a bit per lane
 *     store_where, store_block, kMaskedTail, kGather, kMaskedStores,
 *     kCheapMaskedStores
 *             scalar stores of the lanes M selects, and no masked loads or
 *             stores (LaneStores, simd_vector_ext.h)
 */
#ifndef FENNICK_KERNELS_SIMD_GENERIC_H
#define FENNICK_KERNELS_SIMD_GENERIC_H

#include "simd_vector_ext.h"

namespace {

template <typename T>
struct Simd : LaneStores<Simd<T>, T> {
    typedef VectorExt<T, 16> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    using Base::kLanes;

    static bool
    any(M m)
    {
        return lanes(m) != 0;
    }
    static bool
    all(M m)
    {
        return lanes(m) == ((uint64_t)1 << kLanes) - 1;
    }
    static uint64_t
    lanes(M m)
    {
        const typename Base::L l = (typename Base::L)m;
        uint64_t bits = 0;
        for (npy_intp i = 0; i < kLanes; i++) {
            bits |= (uint64_t)(l[i] != 0) << i;
        }
        return bits;
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_GENERIC_H */
