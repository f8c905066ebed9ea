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
 *     store_where
 *             the lanes of `v` that M selects, with scalar stores
 *             (store_selected, simd_lanes.h)
 *     store_block
 *             the same for four vectors from p, of which some but not all
 *             lanes match (simd_vector_ext.h)
 *     kMaskedTail, kGather, kMaskedStores, kCheapMaskedStores
 *             false: a run's last elements go one at a time, strided runs
 *             load element by element or as whole vectors, and a vector
 *             without a match stores nothing
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
    static constexpr bool kMaskedStores = false;
    static constexpr bool kCheapMaskedStores = false;

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
    template <bool kUniform>
    static void
    store_where(char *p, M m, V v, char *scratch)
    {
        store_selected<T, kUniform>(p, (npy_intp)sizeof(T), lanes(m), kLanes,
                                    &v, scratch);
    }
    template <bool kUniform>
    static void
    store_block(char *p, const M m[4], const V v[4], char *scratch)
    {
        store_block_lanes<Simd, T, kUniform>(p, m, v, scratch);
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_GENERIC_H */
