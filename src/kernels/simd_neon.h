/*
 * Vector primitives for AArch64 (ASIMD, which every such processor has):
 * 16-byte vectors of the compiler's generic kind, with NEON's horizontal
 * operations for the questions a mask answers.  No masked loads or stores,
 * no gathers.
 *
 *     V, M, kLanes, load, store, splat_bits, equal, unordered, bit_and, blend,
 *     from_lanes
 *             as in simd_vector_ext.h
 *     any, all
 *             whether a lane of M is set, whether every lane is (a
 *             horizontal maximum, a horizontal minimum)
 *     lanes   M as a bit per lane (each lane's weight, summed across)
 *     shuffle_bytes (8-bit lanes: kByteShuffle)
 *             each lane of `index` below 16 picks that byte of `table`;
 *             from 16 up it gives zero (tbl)
 *     store_where, store_block, kMaskedTail, kGather, kMaskedStores,
 *     kCheapMaskedStores
 *             scalar stores of the lanes M selects, and no masked loads or
 *             stores (LaneStores, simd_vector_ext.h)
 */
#ifndef FENNICK_KERNELS_SIMD_NEON_H
#define FENNICK_KERNELS_SIMD_NEON_H

#include <arm_neon.h>

#include "simd_vector_ext.h"

namespace {

template <typename T>
struct Simd : LaneStores<Simd<T>, T> {
    typedef VectorExt<T, 16> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    using Base::kLanes;
    static constexpr bool kByteShuffle = true;

    /* The mask as NEON's own unsigned vector type, bit for bit. */
    template <typename U>
    static U
    as(M m)
    {
        U u;
        memcpy(&u, &m, sizeof u);
        return u;
    }
    /* A lane is all ones or all zeros, so 32-bit words answer for any
       lane width. */
    static bool
    any(M m)
    {
        return vmaxvq_u32(as<uint32x4_t>(m)) != 0;
    }
    static bool
    all(M m)
    {
        return vminvq_u32(as<uint32x4_t>(m)) == 0xffffffffu;
    }
    static V
    shuffle_bytes(V table, V index)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        uint8x16_t t, i;
        memcpy(&t, &table, sizeof t);
        memcpy(&i, &index, sizeof i);
        const uint8x16_t r = vqtbl1q_u8(t, i);
        V v;
        memcpy(&v, &r, sizeof v);
        return v;
    }
    static uint64_t
    lanes(M m)
    {
        switch (sizeof(T)) {
        case 1: {
            static const uint8_t w[16] = {1, 2, 4, 8, 16, 32, 64, 128,
                                          1, 2, 4, 8, 16, 32, 64, 128};
            const uint8x16_t b = vandq_u8(as<uint8x16_t>(m), vld1q_u8(w));
            return vaddv_u8(vget_low_u8(b))
                   | (uint64_t)vaddv_u8(vget_high_u8(b)) << 8;
        }
        case 2: {
            static const uint16_t w[8] = {1, 2, 4, 8, 16, 32, 64, 128};
            return vaddvq_u16(vandq_u16(as<uint16x8_t>(m), vld1q_u16(w)));
        }
        case 4: {
            static const uint32_t w[4] = {1, 2, 4, 8};
            return vaddvq_u32(vandq_u32(as<uint32x4_t>(m), vld1q_u32(w)));
        }
        default: {
            static const uint64_t w[2] = {1, 2};
            return vaddvq_u64(vandq_u64(as<uint64x2_t>(m), vld1q_u64(w)));
        }
        }
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_NEON_H */
