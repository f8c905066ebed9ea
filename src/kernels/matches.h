/*
 * The tests of the replacement loop (replace_walk.h): which elements a walk
 * writes, and with what, for one value (equal, NaN, a masked class of bits)
 * and for a few olds at once.  Written once against the target's vector
 * primitives (simd.h), compiled once per vector width.
 */
#ifndef FENNICK_KERNELS_MATCHES_H
#define FENNICK_KERNELS_MATCHES_H

#include "simd.h"
#include "walk.h"

namespace {

/*
 * A match says which elements to write, and with what:
 *
 *     vec(x, &values)   the lanes of the vector x to write (a mask), and
 *                       in `values` the value of each lane
 *     one(x, &value)    whether to write the element x, and in `value` its
 *                       value
 *     kUniform          whether every element is written with the same
 *                       value (the lanes stored one by one then take it
 *                       from the first lane)
 *     kOneCompare       whether one() is a single compare, which decides
 *                       how strided runs are compared
 *
 * The value of a lane or element that is not written is not looked at.
 */

/* Writes `new` (pattern.new_bits) into every match. */
template <typename T>
struct WriteNew {
    static constexpr bool kUniform = true;
    typename Simd<T>::V new_v;
    T new_one;

    explicit WriteNew(const MatchPattern &pattern)
        : new_v(Simd<T>::splat_bits(pattern.new_bits)),
          new_one(from_bits<T>(pattern.new_bits))
    {}
};

/* a[i] == old: IEEE equality for floats, equal bits for integers. */
template <typename T>
struct MatchEqual : WriteNew<T> {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = true;
    typename S::V old_v;
    T old;

    explicit MatchEqual(const MatchPattern &pattern)
        : WriteNew<T>(pattern), old_v(S::splat_bits(pattern.old_bits)),
          old(from_bits<T>(pattern.old_bits))
    {}
    typename S::M
    vec(typename S::V x, typename S::V *values) const
    {
        *values = this->new_v;
        return S::equal(x, old_v);
    }
    bool
    one(T x, T *value) const
    {
        *value = this->new_one;
        return x == old;
    }
};

/* isnan(a[i]), whatever its sign or payload. */
template <typename T>
struct MatchNan : WriteNew<T> {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = true;

    explicit MatchNan(const MatchPattern &pattern) : WriteNew<T>(pattern) {}
    typename S::M
    vec(typename S::V x, typename S::V *values) const
    {
        *values = this->new_v;
        return S::unordered(x);
    }
    bool
    one(T x, T *value) const
    {
        *value = this->new_one;
        return x != x;
    }
};

/* (a[i] & and_mask) == and_bits && (a[i] & not_mask) != not_bits */
template <typename T>
struct MatchMasked : WriteNew<T> {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = false;
    typename S::V and_mask, and_bits, not_mask, not_bits;
    T and_mask1, and_bits1, not_mask1, not_bits1;

    explicit MatchMasked(const MatchPattern &pattern)
        : WriteNew<T>(pattern), and_mask(S::splat_bits(pattern.and_mask)),
          and_bits(S::splat_bits(pattern.and_bits)),
          not_mask(S::splat_bits(pattern.not_mask)),
          not_bits(S::splat_bits(pattern.not_bits)),
          and_mask1(from_bits<T>(pattern.and_mask)),
          and_bits1(from_bits<T>(pattern.and_bits)),
          not_mask1(from_bits<T>(pattern.not_mask)),
          not_bits1(from_bits<T>(pattern.not_bits))
    {}
    typename S::M
    vec(typename S::V x, typename S::V *values) const
    {
        *values = this->new_v;
        return S::equal(S::bit_and(x, and_mask), and_bits)
               & ~S::equal(S::bit_and(x, not_mask), not_bits);
    }
    bool
    one(T x, T *value) const
    {
        *value = this->new_one;
        /* & rather than &&: no branch on the first half */
        return ((T)(x & and_mask1) == and_bits1)
               & ((T)(x & not_mask1) != not_bits1);
    }
};

/* a[i] = new_k where a[i] == old_k, for one of a few olds (replace_many),
   or where a[i] is in the masked class: every old compared as a vector,
   the new of the one that matched blended in.  `N` patterns, a count known
   to the compiler so that every old and new stays in a register; fewer
   olds are padded with copies of the first, which match the same elements
   and store the same new.  With `kSameNew` every match stores one value
   (a list of olds with one new), and no new is blended in. */
template <typename T, int N, bool kSameNew>
struct MatchFew {
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    static constexpr bool kUniform = kSameNew;
    static constexpr bool kOneCompare = false;
    bool has_class;
    V old_v[N], new_v[N];
    T old1[N], new1[N];
    MatchMasked<T> klass;

    explicit MatchFew(const FewPatterns &few)
        : has_class(few.has_class), klass(few.klass)
    {
        for (int k = 0; k < N; k++) {
            const int from = k < few.count ? k : 0;
            old_v[k] = S::splat_bits(few.old_bits[from]);
            new_v[k] = S::splat_bits(few.new_bits[from]);
            old1[k] = from_bits<T>(few.old_bits[from]);
            new1[k] = from_bits<T>(few.new_bits[from]);
        }
    }
    /* Inlined, so that the olds and news stay in registers across the
       walk's loop (GCC otherwise calls it, reloading them each time). */
    __attribute__((always_inline)) M
    vec(V x, V *values) const
    {
        M m;
        V v = new_v[0];
        if constexpr (kSameNew && S::kMinOfXor && (sizeof(T) < 8 || N <= 8)) {
            // x matches where the least of x ^ old is zero, taken in up
            // to four chains that do not wait on one another (past 8 olds
            // of 64 bits a 64-bit min costs more than a compare and its |)
            constexpr int kChains = N < 4 ? N : 4;
            V d[kChains];
            for (int k = 0; k < kChains; k++) {
                d[k] = x ^ old_v[k];
            }
#pragma GCC unroll 64
            for (int k = kChains; k < N; k++) {
                d[k % kChains] = S::least(d[k % kChains], x ^ old_v[k]);
            }
            for (int k = 1; k < kChains; k++) {
                d[0] = S::least(d[0], d[k]);
            }
            m = S::zero(d[0]);
        }
        else {
            m = S::equal(x, old_v[0]);
            for (int k = 1; k < N; k++) {
                const M mk = S::equal(x, old_v[k]);
                if constexpr (!kSameNew) {
                    v = S::blend(mk, new_v[k], v);
                }
                m = m | mk;
            }
        }
        if (has_class) {
            V cv;
            const M mc = klass.vec(x, &cv);
            if constexpr (!kSameNew) {
                v = S::blend(mc, cv, v);
            }
            m = m | mc;
        }
        *values = v;
        return m;
    }
    bool
    one(T x, T *value) const
    {
        bool hit = false;
        T v = new1[0];
        for (int k = 0; k < N; k++) {
            const bool h = x == old1[k];
            v = h ? new1[k] : v;
            hit |= h;
        }
        if (has_class) {
            T cv;
            if (klass.one(x, &cv)) {
                v = cv;
                hit = true;
            }
        }
        *value = v;
        return hit;
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_MATCHES_H */
