/*
 * Vectors of the compiler's generic kind (GCC and Clang vector
 * extensions): the common ground of every target without AVX-512.  Loads,
 * stores, broadcasts, compares and the store of a block's matches are
 * written once here; each target's file adds what its instructions do
 * better (a mask's lanes as bits, masked loads and stores).
 *
 *     V    a vector of Bytes / sizeof(T) lanes of T
 *     M    which lanes match: all-ones (match) or zero lanes, combined with
 *          the operators & | ~; a vector of bytes, so that the compilers
 *          take those for bitwise operations (GCC turns | and & of compare
 *          results of the lanes' own width into selects, which SSE2 has
 *          no instruction for with 64-bit lanes)
 *     L    the same mask as a vector of signed lanes of T's width
 *     high_nibbles
 *          each 8-bit lane's high four bits, for the targets that shuffle
 *          bytes (kByteShuffle)
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
    typedef I L __attribute__((vector_size(Bytes)));
    typedef int8_t M __attribute__((vector_size(Bytes)));
    static constexpr npy_intp kLanes = Bytes / sizeof(T);
    /* Whether the target has shuffle_bytes (byte shuffles in registers). */
    static constexpr bool kByteShuffle = false;
    /* Whether the target has look_up_bytes (where walk_permutes_bytes). */
    static constexpr bool kBytePermutes = false;
    /* Whether the target has zero and least (compares of many olds
       through the least of x ^ old); here a compare is a vector too. */
    static constexpr bool kMinOfXor = false;

    /* Unaligned. */
    static V
    load(const char *p)
    {
        V v;
        memcpy(&v, p, sizeof(V));
        return v;
    }
    /* Unaligned, every lane. */
    static void
    store(char *p, V v)
    {
        memcpy(p, &v, sizeof(V));
    }
    /* Integer lanes, so a -0.0 or a signalling NaN keeps its bits. */
    static V
    splat_bits(uint64_t bits)
    {
        L l;
        for (npy_intp i = 0; i < kLanes; i++) {
            l[i] = (I)bits;
        }
        return (V)l;
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
    /* `a` in the lanes of `m`, `b` in the others. */
    static V
    blend(M m, V a, V b)
    {
        return (V)(((M)a & m) | ((M)b & ~m));
    }
    /* Integer lanes: a - b, wrapping. */
    static V
    sub(V a, V b)
    {
        return a - b;
    }
    /* 8-bit lanes: x >> 4 */
    static V
    high_nibbles(V x)
    {
        static_assert(sizeof(T) == 1, "byte lanes");
        return x >> 4;
    }
    /* Unsigned integer lanes: a <= b. */
    static M
    at_most(V a, V b)
    {
        return (M)(a <= b);
    }
    /* Lane i set where bit i of `bits` is. */
    static M
    from_lanes(uint64_t bits)
    {
        L l;
        for (npy_intp i = 0; i < kLanes; i++) {
            l[i] = (I)(0 - (I)((bits >> i) & 1));
        }
        return (M)l;
    }
};

/* Stores the values of `v` into the matching lanes of the four vectors
   from `p`, of which some match and some do not, with store_selected.
   The lanes of up to four vectors go into one bit mask of 64, so that a
   block's stores wait on one hard branch, not one per vector.  S is the
   target's Simd<T>. */
template <typename S, typename T, bool kUniform>
static inline void
store_block_lanes(char *p, const typename S::M m[4], const typename S::V v[4],
                  char *scratch)
{
    typedef typename S::V V;
    constexpr npy_intp kPer = 64 / S::kLanes < 4 ? 64 / S::kLanes : 4;
#pragma GCC unroll 4
    for (npy_intp g = 0; g < 4; g += kPer) {
        uint64_t lanes = 0;
#pragma GCC unroll 4
        for (npy_intp i = 0; i < kPer; i++) {
            lanes |= S::lanes(m[g + i]) << (i * S::kLanes);
        }
        store_selected<T, kUniform>(p + g * (npy_intp)sizeof(V),
                                    (npy_intp)sizeof(T), lanes,
                                    kPer * S::kLanes, v + g, scratch);
    }
}

/* What the 16-byte targets without masked stores (SSE2, NEON, the
   portable vectors) share: the flags that say so (a run's last elements
   go one at a time, strided runs load element by element or as whole
   vectors, and a vector without a match stores nothing) and the stores of
   the lanes a mask selects, an element at a time, through the target's
   own lanes().  S is the target's Simd<T>, which derives from this. */
template <typename S, typename T>
struct LaneStores : VectorExt<T, 16> {
    typedef VectorExt<T, 16> Base;
    typedef typename Base::V V;
    typedef typename Base::M M;
    static constexpr bool kMaskedTail = false;
    static constexpr bool kGather = false;
    static constexpr bool kMaskedStores = false;
    static constexpr bool kCheapMaskedStores = false;

    template <bool kUniform>
    static void
    store_where(char *p, M m, V v, char *scratch)
    {
        store_selected<T, kUniform>(p, (npy_intp)sizeof(T), S::lanes(m),
                                    Base::kLanes, &v, scratch);
    }
    template <bool kUniform>
    static void
    store_block(char *p, const M m[4], const V v[4], char *scratch)
    {
        store_block_lanes<S, T, kUniform>(p, m, v, scratch);
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_SIMD_VECTOR_EXT_H */
