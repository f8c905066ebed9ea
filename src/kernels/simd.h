/*
 * The vector primitives of the target this unit is compiled for (baseline
 * x86-64, AVX2, or AVX-512 F+BW+VL, told apart by the compiler's own
 * macros), for lanes of type T: uint8_t to uint64_t for the bit walks,
 * float and double for the IEEE walks.
 *
 *     V       a vector of T; M  which lanes match (a vector of all-ones
 *             lanes, or with AVX-512 a bit per lane), combined with the
 *             operators & | ~ either way
 *     load    an unaligned load of a whole vector, inside the run
 *     store_where
 *             stores `new` into the lanes of M only, never into another
 *             element: masked stores where the target has them, else one
 *             scalar store per matching lane
 *     kCheapMaskedStores
 *             masked stores cost little even when nothing matches
 *     first   the lanes below n, for a run's last, partial vector, read
 *             with a masked load that touches nothing past the run
 *     gather  the elements of a strided run, `stride` bytes apart, one
 *             vector at a time (32- and 64-bit lanes on AVX-512)
 *
 * The kernel template (replace_walk.h) is written once against these; the
 * source never asks which processor it runs on.
 */
#ifndef FENNICK_KERNELS_SIMD_H
#define FENNICK_KERNELS_SIMD_H

#include <immintrin.h>
#include <stddef.h>
#include <stdint.h>
#include <string.h>

#include "../numpy_api.h"

namespace {

/* Unaligned scalar access. */
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

#if defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)

/* AVX-512: 64-byte vectors, a mask bit per lane, masked loads, stores,
   gathers and scatters. */
template <typename T>
struct Simd {
    typedef __m512i V;
    typedef uint64_t M;
    typedef __m512i Index;
    static constexpr npy_intp kLanes = 64 / sizeof(T);
    static constexpr bool kMaskedTail = true;
    static constexpr bool kCheapMaskedStores = true;
    static constexpr bool kGather = sizeof(T) >= 4;

    static V
    load(const char *p)
    {
        return _mm512_loadu_si512(p);
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
    static bool
    any(M m)
    {
        return m != 0;
    }
    static uint64_t
    lanes(M m)
    {
        return m;
    }
    static void
    store_where(char *p, M m, V v, T)
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
    all()
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
    scatter_where(char *p, npy_intp, Index index, M m, V v, T)
    {
        if (sizeof(T) == 8) {
            _mm512_mask_i64scatter_epi64(p, (__mmask8)m, index, v, 1);
        }
        else {
            _mm512_mask_i32scatter_epi32(p, (__mmask16)m, index, v, 1);
        }
    }
};

#else /* SSE2 or AVX2 */

#ifdef __AVX2__
constexpr size_t kVectorBytes = 32;
#else
constexpr size_t kVectorBytes = 16;
#endif

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

/* SSE2 and AVX2: vectors of the compiler's generic kind, masks of all-ones
   lanes.  AVX2 has masked loads and stores for 32- and 64-bit lanes only;
   everything else stores lane by lane.  Its gathers are not used: on AMD's
   processors before Zen 4 they are slower than eight scalar loads (x[::2]
   of 1e6 float64 took 3.4 times as long on a Zen 3); Intel's processors
   without AVX-512 were not measured. */
template <typename T>
struct Simd {
    typedef T V __attribute__((vector_size(kVectorBytes)));
    typedef typename SignedOfSize<sizeof(T)>::type I;
    typedef I M __attribute__((vector_size(kVectorBytes)));
    static constexpr npy_intp kLanes = kVectorBytes / sizeof(T);
#ifdef __AVX2__
    static constexpr bool kMaskedTail = sizeof(T) >= 4;
#else
    static constexpr bool kMaskedTail = false;
#endif
    static constexpr bool kGather = false;
    /* vmaskmov is slow on some processors (AMD's before Zen 4), and the
       narrow lanes store one at a time: skip blocks without a match. */
    static constexpr bool kCheapMaskedStores = false;

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
    static M
    equal(V a, V b)
    {
#ifndef __SSE4_1__
        if (!kIsFloat<T> && sizeof(T) == 8) {
            /* No 64-bit integer equality before SSE4.1 (GCC would fall
               back to scalar compares): compare the 32-bit halves and
               let each half's mask require the other's. */
            typedef int32_t H __attribute__((vector_size(kVectorBytes)));
            const H e = (H)a == (H)b;
            const H s = (H)_mm_shuffle_epi32((__m128i)e, 0xb1);
            return (M)(e & s);
        }
#endif
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
    static bool
    any(M m)
    {
#ifdef __AVX2__
        return !_mm256_testz_si256((__m256i)m, (__m256i)m);
#else
        return _mm_movemask_epi8((__m128i)m) != 0;
#endif
    }
    /* A bit per lane. */
    static uint64_t
    lanes(M m)
    {
#ifdef __AVX2__
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
#else
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
#endif
    }
    static void
    store_where(char *p, M m, V v, T value)
    {
#ifdef __AVX2__
        if (sizeof(T) == 8) {
            _mm256_maskstore_epi64((long long *)p, (__m256i)m, (__m256i)v);
            return;
        }
        if (sizeof(T) == 4) {
            _mm256_maskstore_epi32((int *)p, (__m256i)m, (__m256i)v);
            return;
        }
#else
        (void)v;
#endif
        store_lanes<T>(p, (npy_intp)sizeof(T), lanes(m), value);
    }
    /* Four vectors' worth from `p`.  Without masked stores the lanes of
       all four are gathered into one bit mask (two for bytes on AVX2), so
       that the loop over the matches ends, and mispredicts, once. */
    static void
    store_block(char *p, const M m[4], V v, T value)
    {
        (void)v; /* the masked stores' */
#ifdef __AVX2__
        if (sizeof(T) >= 4) {
            /* A vmaskmov store takes several cycles on some processors
               (AMD's before Zen 4): a block of one or two matches, the
               usual kind when matches are rare, stores them one by one. */
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
            return;
        }
#endif
        constexpr int kPer = 64 / kLanes < 4 ? 64 / kLanes : 4;
        for (int half = 0; half < 4; half += kPer) {
            uint64_t bits = 0;
            for (int i = 0; i < kPer; i++) {
                bits |= lanes(m[half + i]) << (i * kLanes);
            }
            store_lanes<T>(p + half * (npy_intp)sizeof(V), (npy_intp)sizeof(T),
                           bits, value);
        }
    }
#ifdef __AVX2__
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
#endif
};

#endif /* targets */

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_H */
