/*
 * Vector primitives for x86-64 with AVX2 (and BMI1, BMI2): 32-byte vectors
 * of the compiler's generic kind; masked loads and stores for 32- and 64-bit
 * lanes only.  Its gathers are not used: on AMD's processors before Zen 4
 * they are slower than scalar loads.
 *
 *     V, M, kLanes, load, splat_bits, equal, unordered, bit_and
 *             as in simd_vector_ext.h
 *     any     whether a lane of M is set
 *     lanes   M as a bit per lane
 *     store_where
 *             `v` (or `value`) into the lanes of M only: vmaskmov for 32-
 *             and 64-bit lanes, one scalar store per lane for narrower ones
 *     store_block
 *             the same for four vectors from p; a block of one or two
 *             matches stores them one by one (vmaskmov is slow on some
 *             processors)
 *     first, load_first (32- and 64-bit lanes: kMaskedTail)
 *             the lanes below n, and a masked load of them that touches
 *             nothing past the run
 *     kGather, kCheapMaskedStores
 *             false: strided runs load element by element, and a vector
 *             without a match stores nothing
 */
#ifndef FENNICK_KERNELS_SIMD_AVX2_H
#define FENNICK_KERNELS_SIMD_AVX2_H

#include <immintrin.h>

#include "simd_vector_ext.h"

namespace {

template <typename T>
struct Simd : VectorExt<T, 32> {
    typedef VectorExt<T, 32> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    typedef typename Base::I I;
    using Base::kLanes;
    static constexpr bool kMaskedTail = sizeof(T) >= 4;
    static constexpr bool kGather = false;
    static constexpr bool kCheapMaskedStores = false;

    static bool
    any(M m)
    {
        return !_mm256_testz_si256((__m256i)m, (__m256i)m);
    }
    static uint64_t
    lanes(M m)
    {
        switch (sizeof(T)) {
        case 1:
            return (uint32_t)_mm256_movemask_epi8((__m256i)m);
        case 2:
            return _pext_u32((uint32_t)_mm256_movemask_epi8((__m256i)m),
                             0x55555555u);
        case 4:
            return (uint32_t)_mm256_movemask_ps((__m256)m);
        default:
            return (uint32_t)_mm256_movemask_pd((__m256d)m);
        }
    }
    static void
    store_where(char *p, M m, V v, T value)
    {
        if (sizeof(T) == 8) {
            _mm256_maskstore_epi64((long long *)p, (__m256i)m, (__m256i)v);
        }
        else if (sizeof(T) == 4) {
            _mm256_maskstore_epi32((int *)p, (__m256i)m, (__m256i)v);
        }
        else {
            store_lanes<T>(p, (npy_intp)sizeof(T), lanes(m), value);
        }
    }
    static void
    store_block(char *p, const M m[4], V v, T value)
    {
        if (sizeof(T) < 4) {
            store_block_lanes<Simd>(p, m, value);
            return;
        }
        uint64_t bits = 0;
        for (int i = 0; i < 4; i++) {
            bits |= lanes(m[i]) << (i * kLanes);
        }
        const uint64_t rest = bits & (bits - 1);
        if ((rest & (rest - 1)) == 0) {
            store_lanes<T>(p, (npy_intp)sizeof(T), bits, value);
            return;
        }
        for (int i = 0; i < 4; i++) {
            store_where(p + i * (npy_intp)sizeof(V), m[i], v, value);
        }
    }
    /* n < kLanes */
    static M
    first(npy_intp n)
    {
        M iota;
        for (npy_intp i = 0; i < kLanes; i++) {
            iota[i] = (I)i;
        }
        return (M)(iota < (I)n);
    }
    static V
    load_first(const char *p, M f)
    {
        if (sizeof(T) == 8) {
            return (V)_mm256_maskload_epi64((const long long *)p, (__m256i)f);
        }
        return (V)_mm256_maskload_epi32((const int *)p, (__m256i)f);
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_AVX2_H */
