/*
 * Vector primitives for x86-64 with AVX2 (and BMI1, BMI2): 32-byte vectors
 * of the compiler's generic kind; masked loads and stores for 32- and 64-bit
 * lanes only.  Built twice: with masked stores (vmaskmov), and with
 * FENNICK_AVX2_SCALAR_STORES defined, without them, for processors on which
 * they are microcoded (AMD's before Zen 4).  Its gathers are not used: on
 * AMD's processors before Zen 4 they are slower than scalar loads.
 *
 *     V, M, kLanes, load, store, splat_bits, equal, unordered, bit_and, blend,
 *     from_lanes
 *             as in simd_vector_ext.h
 *     any, all
 *             whether a lane of M is set; whether every lane is
 *     lanes   M as a bit per lane
 *     store_where
 *             the lanes of `v` that M selects: with masked stores, one
 *             vmaskmov for 32- and 64-bit lanes, and for narrower ones,
 *             where nearly every lane matches, one for the 32-bit words
 *             whose lanes all match; the other lanes, and every lane
 *             without masked stores, with scalar stores (store_selected,
 *             simd_lanes.h)
 *     store_block
 *             the same for four vectors from p, of which some but not all
 *             lanes match; a vector without a match stores nothing
 *     first, load_first (32- and 64-bit lanes: kMaskedTail)
 *             the lanes below n, and a masked load of them that touches
 *             nothing past the run
 *     kMaskedStores
 *             whether store_where is one masked store
 *     shuffle_bytes (8-bit lanes: kByteShuffle)
 *             each lane of `index` below 16 picks that byte of the
 *             16-byte `table` (repeated in every 16 bytes); from 128 up
 *             it gives zero (vpshufb)
 *     kGather, kCheapMaskedStores
 *             false: strided runs load element by element or as whole
 *             vectors, and a vector without a match stores nothing
 */
#ifndef FENNICK_KERNELS_SIMD_AVX2_H
#define FENNICK_KERNELS_SIMD_AVX2_H

#include <immintrin.h>

#include "simd_vector_ext.h"

namespace {

#ifdef FENNICK_AVX2_SCALAR_STORES
constexpr bool kAvx2MaskedStores = false;
#else
constexpr bool kAvx2MaskedStores = true;
#endif

template <typename T>
struct Simd : VectorExt<T, 32> {
    typedef VectorExt<T, 32> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    typedef typename Base::L L;
    typedef typename Base::I I;
    using Base::kLanes;
    static constexpr bool kMaskedTail = sizeof(T) >= 4;
    static constexpr bool kGather = false;
    static constexpr bool kMaskedStores = kAvx2MaskedStores && sizeof(T) >= 4;
    static constexpr bool kCheapMaskedStores = false;
    static constexpr bool kByteShuffle = true;

    static V
    shuffle_bytes(V table, V index)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        return (V)_mm256_shuffle_epi8((__m256i)table, (__m256i)index);
    }
    static bool
    any(M m)
    {
        return !_mm256_testz_si256((__m256i)m, (__m256i)m);
    }
    static bool
    all(M m)
    {
        return _mm256_movemask_epi8((__m256i)m) == -1;
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
    masked_store(char *p, __m256i m, V v)
    {
        if (sizeof(T) == 8) {
            _mm256_maskstore_epi64((long long *)p, m, (__m256i)v);
        }
        else {
            _mm256_maskstore_epi32((int *)p, m, (__m256i)v);
        }
    }
    /* For 8- and 16-bit lanes with masked stores: stores the 32-bit words
       of `v` whose lanes all match in one vmaskmov (into `scratch` where
       none does) and returns the other matching lanes as bits. */
    static uint64_t
    store_whole_words(char *p, M m, V v, char *scratch)
    {
        typedef int32_t W __attribute__((vector_size(32)));
        const W whole = (W)m == -1;
        const __m256i w = (__m256i)whole;
        masked_store(_mm256_testz_si256(w, w) ? scratch : p, w, v);
        return lanes((M)((W)m & ~whole));
    }
    template <bool kUniform>
    static void
    store_where(char *p, M m, V v, char *scratch)
    {
        uint64_t rest = lanes(m);
        if constexpr (kMaskedStores) {
            masked_store(p, (__m256i)m, v);
            return;
        }
        else if constexpr (kAvx2MaskedStores) {
            if (4 * count_lanes(rest) >= 3 * kLanes) {
                rest = store_whole_words(p, m, v, scratch);
            }
        }
        store_selected<T, kUniform>(p, (npy_intp)sizeof(T), rest, kLanes, &v,
                                    scratch);
    }
    template <bool kUniform>
    static void
    store_block(char *p, const M m[4], const V v[4], char *scratch)
    {
        if constexpr (kMaskedStores) {
            for (int i = 0; i < 4; i++) {
                char *at = p + i * (npy_intp)sizeof(V);
                masked_store(any(m[i]) ? at : scratch, (__m256i)m[i], v[i]);
            }
        }
        else if constexpr (kAvx2MaskedStores) {
            // where nearly every lane matches, whole 32-bit words
            constexpr int kPer = 64 / kLanes;
#pragma GCC unroll 4
            for (int g = 0; g < 4; g += kPer) {
                char *q = p + g * (npy_intp)sizeof(V);
                uint64_t lanes = 0;
#pragma GCC unroll 4
                for (int i = 0; i < kPer; i++) {
                    lanes |= Simd::lanes(m[g + i]) << (i * kLanes);
                }
                if (4 * count_lanes(lanes) < 3 * 64) {
                    store_selected<T, kUniform>(q, (npy_intp)sizeof(T), lanes,
                                                kPer * kLanes, v + g, scratch);
                    continue;
                }
                uint64_t rest = 0;
#pragma GCC unroll 4
                for (int i = 0; i < kPer; i++) {
                    rest |= store_whole_words(q + i * (npy_intp)sizeof(V),
                                              m[g + i], v[g + i], scratch)
                            << (i * kLanes);
                }
                store_selected<T, kUniform>(q, (npy_intp)sizeof(T), rest,
                                            kPer * kLanes, v + g, scratch);
            }
        }
        else {
            store_block_lanes<Simd, T, kUniform>(p, m, v, scratch);
        }
    }
    /* n < kLanes */
    static M
    first(npy_intp n)
    {
        L iota;
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
