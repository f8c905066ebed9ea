/*
 * Vector primitives for x86-64 with AVX-512 F, BW and VL: 64-byte vectors,
 * a mask bit per lane, masked loads and stores for every lane width,
 * gathers and scatters for 32- and 64-bit lanes.
 *
 *     V       a vector of T;  M  a bit per lane (uint64_t), combined with
 *             the operators & | ~
 *     kLanes  lanes in a vector
 *     load, store
 *             an unaligned load of a whole vector, inside the run, and an
 *             unaligned store of one
 *     splat_bits, equal, unordered, bit_and, blend
 *             `bits` in every lane; IEEE equality for floats and equal bits
 *             for integers; the NaN lanes; bitwise and; `a` in the lanes of
 *             M and `b` in the others
 *     zero, least (integer lanes: kMinOfXor)
 *             the lanes that are zero; the unsigned least of two
 *     any, all, lanes, from_lanes
 *             whether a lane of M is set; whether every lane is; M as a
 *             bit per lane, and back
 *     store_where
 *             `v` into the lanes of M only (a masked store)
 *     kMaskedStores, kCheapMaskedStores
 *             true: store_where is one masked store, which costs little
 *             even when no lane is set
 *     first, full, load_first (kMaskedTail)
 *             the lanes below n, every lane, and a masked load that
 *             touches nothing past the run
 *     gathers, index, gather, scatter_where (kGather: 32/64-bit lanes)
 *             whether a stride's offsets fit; the offsets of a vector's
 *             elements `stride` bytes apart; a masked gather of them; a
 *             masked scatter of `v` into the lanes of M
 *     shuffle_bytes, high_nibbles (8-bit lanes: kByteShuffle)
 *             as AVX2's, within each 16 bytes (vpshufb); each lane's high
 *             four bits
 *     look_up_bytes (8-bit lanes: kBytePermutes, where
 *             walk_permutes_bytes): each lane of `index` picks that byte
 *             of the 256 of four vectors (VBMI's vpermi2b)
 */
#ifndef FENNICK_KERNELS_SIMD_AVX512_H
#define FENNICK_KERNELS_SIMD_AVX512_H

#include <immintrin.h>

#include "simd_lanes.h"

namespace {

/* Whether a gather of `lanes` elements `stride` bytes apart can address
   them: 64-bit lanes take 64-bit byte offsets, narrower lanes 32-bit ones,
   which must not overflow. */
template <typename T>
static inline bool
offsets_fit(npy_intp stride, npy_intp lanes)
{
    const npy_intp reach = stride < 0 ? -stride : stride;
    return sizeof(T) == 8 || reach <= INT32_MAX / (lanes - 1);
}

/* AVX-512: 64-byte vectors, a mask bit per lane, masked loads, stores,
   gathers and scatters. */
template <typename T>
struct Simd {
    typedef __m512i V;
    typedef uint64_t M;
    typedef __m512i Index;
    static constexpr npy_intp kLanes = 64 / sizeof(T);
    static constexpr bool kMaskedTail = true;
    static constexpr bool kMaskedStores = true;
    static constexpr bool kCheapMaskedStores = true;
    static constexpr bool kGather = sizeof(T) >= 4;
    static constexpr bool kByteShuffle = true;
    static constexpr bool kBytePermutes = true;

    /* 8-bit lanes: within each 16-byte quarter, as vpshufb at 32 bytes */
    static V
    shuffle_bytes(V table, V index)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        return _mm512_shuffle_epi8(table, index);
    }
    /* 8-bit lanes, where the processor permutes bytes (VBMI,
       walk_permutes_bytes): byte i is byte index[i] of the 256 of
       `table`. */
    __attribute__((target("avx512vbmi"))) static V
    look_up_bytes(const V table[4], V index)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        const V low = _mm512_permutex2var_epi8(table[0], index, table[1]);
        const V high = _mm512_permutex2var_epi8(table[2], index, table[3]);
        return _mm512_mask_blend_epi8(_mm512_movepi8_mask(index), low, high);
    }
    /* 8-bit lanes: x >> 4 */
    static V
    high_nibbles(V x)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        return _mm512_and_si512(_mm512_srli_epi16(x, 4), _mm512_set1_epi8(15));
    }
    static V
    load(const char *p)
    {
        return _mm512_loadu_si512(p);
    }
    static void
    store(char *p, V v)
    {
        _mm512_storeu_si512(p, v);
    }
    static V
    splat_bits(uint64_t bits)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_set1_epi8((char)bits);
        case 2:
            return _mm512_set1_epi16((short)bits);
        case 4:
            return _mm512_set1_epi32((int)bits);
        default:
            return _mm512_set1_epi64((long long)bits);
        }
    }
    static M
    equal(V a, V b)
    {
        if (kIsFloat<T> && sizeof(T) == 8) {
            return _mm512_cmp_pd_mask(_mm512_castsi512_pd(a),
                                      _mm512_castsi512_pd(b), _CMP_EQ_OQ);
        }
        if (kIsFloat<T>) {
            return _mm512_cmp_ps_mask(_mm512_castsi512_ps(a),
                                      _mm512_castsi512_ps(b), _CMP_EQ_OQ);
        }
        switch (sizeof(T)) {
        case 1:
            return _mm512_cmpeq_epi8_mask(a, b);
        case 2:
            return _mm512_cmpeq_epi16_mask(a, b);
        case 4:
            return _mm512_cmpeq_epi32_mask(a, b);
        default:
            return _mm512_cmpeq_epi64_mask(a, b);
        }
    }
    /* Unsigned integer lanes (kMinOfXor): the lanes of a that are zero,
       and the least of a and b in each lane.  Whether x equals one of many
       olds is whether the least of x ^ old is zero: a min is one vector
       operation where a compare into a mask and its `|` are two, of which
       mask registers take fewer a cycle (AMD Zen 4).  zero is a vptestnm,
       not equal() with a zero vector: 4 olds of 64 bits took 1.2 times as
       long that way. */
    static constexpr bool kMinOfXor = !kIsFloat<T>;
    static M
    zero(V a)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_testn_epi8_mask(a, a);
        case 2:
            return _mm512_testn_epi16_mask(a, a);
        case 4:
            return _mm512_testn_epi32_mask(a, a);
        default:
            return _mm512_testn_epi64_mask(a, a);
        }
    }
    static V
    least(V a, V b)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_min_epu8(a, b);
        case 2:
            return _mm512_min_epu16(a, b);
        case 4:
            return _mm512_min_epu32(a, b);
        default:
            return _mm512_min_epu64(a, b);
        }
    }
    static M
    unordered(V a)
    {
        if (sizeof(T) == 8) {
            const __m512d d = _mm512_castsi512_pd(a);
            return _mm512_cmp_pd_mask(d, d, _CMP_UNORD_Q);
        }
        const __m512 f = _mm512_castsi512_ps(a);
        return _mm512_cmp_ps_mask(f, f, _CMP_UNORD_Q);
    }
    static V
    bit_and(V a, V b)
    {
        return _mm512_and_si512(a, b);
    }
    static V
    blend(M m, V a, V b)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_mask_blend_epi8((__mmask64)m, b, a);
        case 2:
            return _mm512_mask_blend_epi16((__mmask32)m, b, a);
        case 4:
            return _mm512_mask_blend_epi32((__mmask16)m, b, a);
        default:
            return _mm512_mask_blend_epi64((__mmask8)m, b, a);
        }
    }
    /* Integer lanes: a - b, wrapping. */
    static V
    sub(V a, V b)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_sub_epi8(a, b);
        case 2:
            return _mm512_sub_epi16(a, b);
        case 4:
            return _mm512_sub_epi32(a, b);
        default:
            return _mm512_sub_epi64(a, b);
        }
    }
    /* Unsigned integer lanes: a <= b. */
    static M
    at_most(V a, V b)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_cmple_epu8_mask(a, b);
        case 2:
            return _mm512_cmple_epu16_mask(a, b);
        case 4:
            return _mm512_cmple_epu32_mask(a, b);
        default:
            return _mm512_cmple_epu64_mask(a, b);
        }
    }
    static bool
    any(M m)
    {
        return m != 0;
    }
    static bool
    all(M m)
    {
        return m == full();
    }
    static uint64_t
    lanes(M m)
    {
        return m;
    }
    static M
    from_lanes(uint64_t bits)
    {
        return bits & full();
    }
    template <bool kUniform>
    static void
    store_where(char *p, M m, V v, char *)
    {
        switch (sizeof(T)) {
        case 1:
            _mm512_mask_storeu_epi8(p, (__mmask64)m, v);
            break;
        case 2:
            _mm512_mask_storeu_epi16(p, (__mmask32)m, v);
            break;
        case 4:
            _mm512_mask_storeu_epi32(p, (__mmask16)m, v);
            break;
        default:
            _mm512_mask_storeu_epi64(p, (__mmask8)m, v);
            break;
        }
    }
    /* n < kLanes */
    static M
    first(npy_intp n)
    {
        return ((uint64_t)1 << n) - 1;
    }
    static M
    full()
    {
        return kLanes == 64 ? ~(uint64_t)0 : ((uint64_t)1 << kLanes) - 1;
    }
    static V
    load_first(const char *p, M f)
    {
        switch (sizeof(T)) {
        case 1:
            return _mm512_maskz_loadu_epi8((__mmask64)f, p);
        case 2:
            return _mm512_maskz_loadu_epi16((__mmask32)f, p);
        case 4:
            return _mm512_maskz_loadu_epi32((__mmask16)f, p);
        default:
            return _mm512_maskz_loadu_epi64((__mmask8)f, p);
        }
    }
    static bool
    gathers(npy_intp stride)
    {
        return offsets_fit<T>(stride, kLanes);
    }
    static Index
    index(npy_intp s)
    {
        if (sizeof(T) == 8) {
            return _mm512_set_epi64(7 * s, 6 * s, 5 * s, 4 * s, 3 * s, 2 * s,
                                    s, 0);
        }
        const int t = (int)s;
        return _mm512_set_epi32(15 * t, 14 * t, 13 * t, 12 * t, 11 * t, 10 * t,
                                9 * t, 8 * t, 7 * t, 6 * t, 5 * t, 4 * t,
                                3 * t, 2 * t, t, 0);
    }
    static V
    gather(const char *p, Index index, M f)
    {
        const V none = _mm512_setzero_si512();
        if (sizeof(T) == 8) {
            return _mm512_mask_i64gather_epi64(none, (__mmask8)f, index, p, 1);
        }
        return _mm512_mask_i32gather_epi32(none, (__mmask16)f, index, p, 1);
    }
    static void
    scatter_where(char *p, Index index, M m, V v)
    {
        if (sizeof(T) == 8) {
            _mm512_mask_i64scatter_epi64(p, (__mmask8)m, index, v, 1);
        }
        else {
            _mm512_mask_i32scatter_epi32(p, (__mmask16)m, index, v, 1);
        }
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_AVX512_H */
