/*
 * Many olds a vector at a time (replace_many): a prefilter of two ranges of
 * bits, so that a vector none of whose lanes lies in a range costs two
 * compares whatever the number of olds, in front of the call's lookup
 * (the lanes in range looked up one by one) or, for up to WALK_COMPARED
 * olds, of a compare with each.  Compiled once per vector width, in the
 * unit of the few olds' walks.
 */
#ifndef FENNICK_KERNELS_MATCH_MANY_H
#define FENNICK_KERNELS_MATCH_MANY_H

#include "many_lookup.h"
#include "matches.h"

namespace {

/* The prefilter: which lanes of a vector lie in one of the two ranges,
   lo[k] <= x <= lo[k] + span[k] (bits as unsigned integers, compared as
   x - lo[k] <= span[k]). */
template <typename T>
struct InRanges {
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    V lo0, span0, lo1, span1;

    explicit InRanges(const ManyFilter &many)
        : lo0(S::splat_bits(many.lo[0])), span0(S::splat_bits(many.span[0])),
          lo1(S::splat_bits(many.lo[1])), span1(S::splat_bits(many.span[1]))
    {}
    __attribute__((always_inline)) M
    lanes(V x) const
    {
        return S::at_most(S::sub(x, lo0), span0)
               | S::at_most(S::sub(x, lo1), span1);
    }
};

/* a[i] = new_k where a[i] == old_k for one of many olds, or where a[i] is
   in the masked class: lanes in the prefilter's ranges are looked up, the
   class is tested as a vector.  With one new for every match (kSameNew)
   the lookup answers only whether a lane matches. */
template <typename T, typename Lookup, bool kSameNew>
struct MatchMany {
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    static constexpr bool kUniform = kSameNew;
    static constexpr bool kOneCompare = false;
    InRanges<T> ranges;
    Lookup lookup;
    bool has_class;
    MatchMasked<T> klass;
    V new_v;

    MatchMany(const ManyFilter &many, Lookup lookup)
        : ranges(many), lookup(lookup), has_class(many.has_class),
          klass(many.klass), new_v(S::splat_bits(many.new_bits))
    {}
    /* Inlined into the walk's loop, where the ranges stay in registers;
       the lookup of lanes in range is a call of its own. */
    __attribute__((always_inline)) M
    vec(V x, V *values) const
    {
        const M in = ranges.lanes(x);
        M m = S::from_lanes(0);
        V v = kSameNew ? new_v : x;
        if (S::any(in)) {
            m = look_up(x, in, &v);
        }
        if (has_class) {
            V cv;
            const M mc = klass.vec(x, &cv);
            if (!kSameNew) {
                v = S::blend(mc, cv, v);
            }
            m = m | mc;
        }
        *values = v;
        return m;
    }
    /* The lanes of `x` in `in` looked up one by one: which match, and
       unless kSameNew in *values the news (x's own lanes elsewhere).  Up
       to 8 lanes, a vector with more than one lane in range (up to 4, any
       vector) has every lane looked up with no branch on each, since a
       lane out of range never matches, and its news put into the vector
       lane by lane in registers: a vector loaded from lanes just stored
       one by one waits for the stores to complete. */
    __attribute__((noinline)) M
    look_up(V x, M in, V *values) const
    {
        const uint64_t lanes = S::lanes(in);
        uint64_t hits = 0;
        if constexpr (S::kLanes <= 8) {
            if (S::kLanes <= 4 || (lanes & (lanes - 1)) != 0) {
                static_assert(sizeof(x[0]) == sizeof(T), "a lane is a T");
                V v = x;
#pragma GCC unroll 8
                for (int i = 0; i < (int)S::kLanes; i++) {
                    T value = x[i];
                    const bool hit = lookup(x[i], &value);
                    hits |= (uint64_t)hit << i;
                    if (!kSameNew) {
                        // a select with no branch, which hits at random
                        // defeat
                        const T keep = (T)0 - (T)hit;
                        v[i] = (T)((value & keep) | (x[i] & ~keep));
                    }
                }
                if (!kSameNew) {
                    *values = v;
                }
                return S::from_lanes(hits);
            }
        }
        T lane[S::kLanes], value[kSameNew ? 1 : S::kLanes];
        S::store((char *)lane, x);
        if (!kSameNew) {
            S::store((char *)value, x);
        }
        for (uint64_t rest = lanes; rest != 0; rest &= rest - 1) {
            const int i = __builtin_ctzll(rest);
            hits |= (uint64_t)lookup(lane[i], &value[kSameNew ? 0 : i]) << i;
        }
        if (!kSameNew) {
            *values = S::load((const char *)value);
        }
        return S::from_lanes(hits);
    }
    /* With kSameNew, *value is the new whether x matches or not: the
       walk may store the last element's for all. */
    bool
    one(T x, T *value) const
    {
        const bool hit = lookup(x, value);
        if (kSameNew) {
            *value = new_v[0];
        }
        return hit;
    }
};

/* Walks `it` with MatchMany through `lookup`, as `many` has one new for
   all or a new each. */
template <typename T, typename Lookup>
static void
walk_many_through(ElemIter *it, const ManyFilter *many, const Lookup &lookup)
{
    if (many->same_new)
        walk_with<T>(it, MatchMany<T, Lookup, true>(*many, lookup));
    else
        walk_with<T>(it, MatchMany<T, Lookup, false>(*many, lookup));
}

/* The walk of many olds through the lookup that serves T's elements: a
   table over every value (8 and 16 bits), a hash of the patterns. */
template <typename T>
static void
walk_filtered(ElemIter *it, const ManyFilter *many)
{
    typedef LookupOf<T> Of;
    walk_many_through<T>(it, many,
                         Of::make(many->lookup, many->klass, many->has_class));
}

/* The same through a dense table of the values near the patterns (32 and
   64 bits). */
template <typename T>
static void
walk_dense(ElemIter *it, const ManyFilter *many)
{
    walk_many_through<T>(it, many,
                         DenseLookup<T>{(const Dense *)many->lookup,
                                        many->klass, many->has_class});
}

/* Up to WALK_COMPARED olds: the same prefilter, and a vector with a lane
   in a range compared with every old (MatchFew), which costs less than
   looking up lane after lane through memory.  Vectors with no lane in a
   range cost two compares, as behind the lookup; with a masked class,
   every vector is compared (the class lies outside the ranges). */
template <typename T, int N, bool kSameNew>
struct MatchRanged {
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    static constexpr bool kUniform = kSameNew;
    static constexpr bool kOneCompare = false;
    InRanges<T> ranges;
    MatchFew<T, N, kSameNew> few;

    explicit MatchRanged(const ManyFilter &many) : ranges(many), few(*many.few)
    {}
    __attribute__((always_inline)) M
    vec(V x, V *values) const
    {
        if (!few.has_class && !S::any(ranges.lanes(x))) {
            /* the news as the compares leave them: with one new for all
               (kUniform), the walk may store any vector's news */
            *values = few.new_v[0];
            return S::from_lanes(0);
        }
        return few.vec(x, values);
    }
    bool
    one(T x, T *value) const
    {
        return few.one(x, value);
    }
};

/* Many olds of 8-bit elements, where the target shuffles bytes in
   registers: the set of the 256 values (the call's table) held in
   vectors, so that a vector costs a few operations whatever the number of
   olds.  A value's membership is a bit of a 16 by 16 grid: the byte picked
   by its low four bits, the bit by its high four.  Where the news differ,
   a vector with a match takes them from 16 shuffles of rows of news (one
   for each high four bits), merged by those bits.  Constants are splat
   vectors, not scalars, so that `&` and `|` act on bits whatever the lane
   type of the target's V. */
template <typename T, bool kSameNew>
struct MatchByteSet {
    static_assert(sizeof(T) == 1, "byte elements");
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    static constexpr bool kUniform = kSameNew;
    static constexpr bool kOneCompare = false;
    const Table<T> *t;
    /* bit h of byte l: whether 16 * h + l matches (low_rows) and
       16 * (h + 8) + l (high_rows); 1 << (h % 8) at byte h */
    V low_rows, high_rows, column_bits, new_v;
    V news[kSameNew ? 1 : 16]; /* byte l of news[h]: the new of 16 * h + l */
    /* where the processor permutes bytes, every value's new, in order */
    static constexpr bool kPermuted = S::kBytePermutes && !kSameNew;
    V all_news[kPermuted ? 4 : 1];
    bool permutes;
    T new_one;

    explicit MatchByteSet(const ManyFilter &many)
        : t((const Table<T> *)many.lookup),
          new_v(S::splat_bits(many.new_bits)),
          permutes(kPermuted && walk_permutes_bytes), new_one((T)many.new_bits)
    {
        uint8_t rows[2][16] = {}, bits[16], row_news[16][16];
        for (int v = 0; v < 256; v++) {
            const int h = v >> 4, l = v & 15;
            rows[h >> 3][l] |= (uint8_t)((t->hit[v] != 0) << (h & 7));
            row_news[h][l] = (uint8_t)t->value[v];
        }
        for (int h = 0; h < 16; h++) {
            bits[h] = (uint8_t)(1u << (h & 7));
        }
        low_rows = repeated(rows[0]);
        high_rows = repeated(rows[1]);
        column_bits = repeated(bits);
        for (int h = 0; h < (kSameNew ? 0 : 16); h++) {
            news[h] = repeated(row_news[h]);
        }
        for (int q = 0; q < (kPermuted ? 4 : 0); q++) {
            all_news[q] = S::load((const char *)row_news[4 * q]);
        }
    }
    static V
    repeated(const uint8_t row[16])
    {
        uint8_t lanes[S::kLanes];
        for (int i = 0; i < (int)S::kLanes; i++) {
            lanes[i] = row[i & 15];
        }
        return S::load((const char *)lanes);
    }
    __attribute__((always_inline)) M
    vec(V x, V *values) const
    {
        // an index from 128 up picks zero: x's own half of the rows
        const V index = S::splat_bits(0x8f);
        const V in_low = S::shuffle_bytes(low_rows, x & index);
        // x - 0x80 flips bit 7 of a byte
        const V in_high = S::shuffle_bytes(
            high_rows, S::sub(x, S::splat_bits(0x80)) & index);
        const V bit = S::shuffle_bytes(column_bits, S::high_nibbles(x));
        const M m = S::equal((in_low | in_high) & bit, bit);
        *values = new_v;
        if constexpr (kPermuted) {
            // a few operations: cheaper taken always than a branch on
            // whether any lane matches, which rare matches mispredict
            if (permutes) {
                *values = S::look_up_bytes(all_news, x);
                return m;
            }
        }
        if (!kSameNew && S::any(m)) {
            // one match (most vectors with any, where matches are rare):
            // its new in every lane, which the walk reads only there
            const uint64_t lanes = S::lanes(m);
            *values = (lanes & (lanes - 1)) == 0
                          ? S::splat_bits(t->value[lane(x, lanes)])
                          : news_of(x);
        }
        return m;
    }
    /* The value of x's lowest lane in `lanes`. */
    static T
    lane(V x, uint64_t lanes)
    {
        T xs[S::kLanes];
        memcpy(xs, &x, sizeof x);
        return xs[__builtin_ctzll(lanes)];
    }
    __attribute__((noinline)) V
    news_of(V x) const
    {
        if constexpr (!kSameNew) {
            const V low = x & S::splat_bits(15);
            V r[16];
#pragma GCC unroll 16
            for (int h = 0; h < 16; h++) {
                r[h] = S::shuffle_bytes(news[h], low);
            }
            // r[j] of 2 * j and 2 * j + 1 by bit 4, then bit 5, 6, 7
            // (unrolled: each bit a constant, not a vector built in memory)
#pragma GCC unroll 4
            for (int b = 0, n = 16; n > 1; b++, n /= 2) {
                const V bit = S::splat_bits(0x10u << b);
                const M odd = S::equal(x & bit, bit);
#pragma GCC unroll 8
                for (int j = 0; j < n / 2; j++) {
                    r[j] = S::blend(odd, r[2 * j + 1], r[2 * j]);
                }
            }
            return r[0];
        }
        return x;
    }
    /* With kSameNew, *value is the new whether x matches or not. */
    bool
    one(T x, T *value) const
    {
        *value = kSameNew ? new_one : t->value[x];
        return t->hit[x] != 0;
    }
};

/* Walks `it` with MatchByteSet through the call's 8-bit table, on targets
   that shuffle bytes (the walk table holds none elsewhere). */
template <typename T>
static void
walk_byte_set(ElemIter *it, const ManyFilter *many)
{
    if constexpr (Simd<T>::kByteShuffle) {
        if (many->same_new)
            walk_with<T>(it, MatchByteSet<T, true>(*many));
        else
            walk_with<T>(it, MatchByteSet<T, false>(*many));
    }
}

template <typename T, bool kSameNew>
static void
walk_compared_as(ElemIter *it, const ManyFilter *many)
{
    // the count rounded up to 12, 16, 24, 32 or 64
    if (many->few->count <= 12)
        walk_with<T>(it, MatchRanged<T, 12, kSameNew>(*many));
    else if (many->few->count <= 16)
        walk_with<T>(it, MatchRanged<T, 16, kSameNew>(*many));
    else if (many->few->count <= 24)
        walk_with<T>(it, MatchRanged<T, 24, kSameNew>(*many));
    else if (many->few->count <= 32)
        walk_with<T>(it, MatchRanged<T, 32, kSameNew>(*many));
    else
        walk_with<T>(it, MatchRanged<T, WALK_COMPARED, kSameNew>(*many));
}

template <typename T>
static void
walk_compared(ElemIter *it, const ManyFilter *many)
{
    if (many->few->same_new)
        walk_compared_as<T, true>(it, many);
    else
        walk_compared_as<T, false>(it, many);
}

}  // namespace

#endif /* FENNICK_KERNELS_MATCH_MANY_H */
