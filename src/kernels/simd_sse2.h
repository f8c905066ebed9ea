/*
 * Vector primitives for baseline x86-64 (SSE2): 16-byte vectors of the
 * compiler's generic kind, no masked loads or stores, no gathers.
 *
 *     V, M, kLanes, load, store, splat_bits, equal, unordered, bit_and, blend
 *             as in simd_vector_ext.h; equal of 64-bit integers built
 *             from 32-bit compares
 *     any, all
 *             whether a lane of M is set; whether every lane is
 *     lanes, from_lanes
 *             M as a bit per lane, and back
 *     store_where, store_block, kMaskedTail, kGather, kMaskedStores,
 *     kCheapMaskedStores
 *             scalar stores of the lanes M selects, and no masked loads or
 *             stores (LaneStores, simd_vector_ext.h)
 */
#ifndef FENNICK_KERNELS_SIMD_SSE2_H
#define FENNICK_KERNELS_SIMD_SSE2_H

#include <immintrin.h>

#include "simd_vector_ext.h"

namespace {

template <typename T>
struct Simd : LaneStores<Simd<T>, T> {
    typedef VectorExt<T, 16> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    using Base::kLanes;

    static M
    equal(V a, V b)
    {
#ifndef __SSE4_1__
        if (!kIsFloat<T> && sizeof(T) == 8) {
            /* No 64-bit integer equality before SSE4.1 (GCC would fall
               back to scalar compares): compare the 32-bit halves and
               let each half's mask require the other's. */
            typedef int32_t H __attribute__((vector_size(16)));
            const H e = (H)a == (H)b;
            const H s = (H)_mm_shuffle_epi32((__m128i)e, 0xb1);
            return (M)(e & s);
        }
#endif
        return Base::equal(a, b);
    }
    /* Unsigned integer lanes: a <= b, in SSE2's own instructions (GCC
       falls back to scalar compares for some widths): min(a, b) == a for
       bytes, a - b saturated to zero for 16 bits, for wider lanes signed
       compares past a flipped top bit, 64-bit lanes from their halves (a
       > b where the high half is greater, or equal with the low half
       greater). */
    static M
    at_most(V a, V b)
    {
        const __m128i x = (__m128i)a, y = (__m128i)b;
        if (sizeof(T) == 1) {
            return (M)_mm_cmpeq_epi8(_mm_min_epu8(x, y), x);
        }
        if (sizeof(T) == 2) {
            return (M)_mm_cmpeq_epi16(_mm_subs_epu16(x, y),
                                      _mm_setzero_si128());
        }
        const __m128i flip = _mm_set1_epi32(INT32_MIN);
        const __m128i gt =
            _mm_cmpgt_epi32(_mm_xor_si128(x, flip), _mm_xor_si128(y, flip));
        if (sizeof(T) == 4) {
            return ~(M)gt;
        }
        const __m128i eq = _mm_cmpeq_epi32(x, y);
        const __m128i high_gt = _mm_shuffle_epi32(gt, 0xf5);
        const __m128i low_gt = _mm_shuffle_epi32(gt, 0xa0);
        const __m128i high_eq = _mm_shuffle_epi32(eq, 0xf5);
        return ~(M)_mm_or_si128(high_gt, _mm_and_si128(high_eq, low_gt));
    }
    static bool
    any(M m)
    {
        return _mm_movemask_epi8((__m128i)m) != 0;
    }
    static bool
    all(M m)
    {
        return _mm_movemask_epi8((__m128i)m) == 0xffff;
    }
    static uint64_t
    lanes(M m)
    {
        switch (sizeof(T)) {
        case 1:
            return (uint32_t)_mm_movemask_epi8((__m128i)m);
        case 2:
            return (uint32_t)_mm_movemask_epi8(
                       _mm_packs_epi16((__m128i)m, (__m128i)m))
                   & 0xffu;
        case 4:
            return (uint32_t)_mm_movemask_ps((__m128)m);
        default:
            return (uint32_t)_mm_movemask_pd((__m128d)m);
        }
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_SSE2_H */
