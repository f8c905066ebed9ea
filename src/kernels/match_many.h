/*
 * Many olds a vector at a time (replace_many): a prefilter of two ranges of
 * bits in front of the call's lookup, so that a vector none of whose lanes
 * lies in a range costs two compares whatever the number of olds, and
 * only the lanes in one are looked up, one by one.  Compiled once per
 * vector width, in the unit of the few olds' walks.
 */
#ifndef FENNICK_KERNELS_MATCH_MANY_H
#define FENNICK_KERNELS_MATCH_MANY_H

#include "many_lookup.h"
#include "matches.h"

namespace {

/* a[i] = new_k where a[i] == old_k for one of many olds, or where a[i] is
   in the masked class: lanes with lo[k] <= x <= lo[k] + span[k] (bits as
   unsigned integers, compared as x - lo[k] <= span[k]) are looked up,
   the class is tested as a vector. */
template <typename T, typename Lookup>
struct MatchMany {
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    static constexpr bool kUniform = false;
    static constexpr bool kOneCompare = false;
    V lo0, span0, lo1, span1;
    Lookup lookup;
    bool has_class;
    MatchMasked<T> klass;

    MatchMany(const ManyFilter &many, Lookup lookup)
        : lo0(S::splat_bits(many.lo[0])), span0(S::splat_bits(many.span[0])),
          lo1(S::splat_bits(many.lo[1])), span1(S::splat_bits(many.span[1])),
          lookup(lookup), has_class(many.has_class), klass(many.klass)
    {}
    /* Inlined into the walk's loop, where the ranges stay in registers;
       the lookup of lanes in range is a call of its own. */
    __attribute__((always_inline)) M
    vec(V x, V *values) const
    {
        const M in = S::at_most(S::sub(x, lo0), span0)
                     | S::at_most(S::sub(x, lo1), span1);
        M m = S::from_lanes(0);
        V v = x;
        if (S::any(in)) {
            m = look_up(x, in, &v);
        }
        if (has_class) {
            V cv;
            const M mc = klass.vec(x, &cv);
            v = S::blend(mc, cv, v);
            m = m | mc;
        }
        *values = v;
        return m;
    }
    /* The lanes of `x` in `in` looked up one by one, through memory: which
       match, and in *values the news (x's own lanes elsewhere). */
    __attribute__((noinline)) M
    look_up(V x, M in, V *values) const
    {
        T lane[S::kLanes], value[S::kLanes];
        S::store((char *)lane, x);
        S::store((char *)value, x);
        uint64_t hits = 0;
        for (uint64_t rest = S::lanes(in); rest != 0; rest &= rest - 1) {
            const int i = __builtin_ctzll(rest);
            hits |= (uint64_t)lookup(lane[i], &value[i]) << i;
        }
        *values = S::load((const char *)value);
        return S::from_lanes(hits);
    }
    bool
    one(T x, T *value) const
    {
        return lookup(x, value);
    }
};

/* The walk of many olds through the lookup that serves T's elements: a
   table over every value (8 and 16 bits), a hash of the patterns. */
template <typename T>
static void
walk_filtered(ElemIter *it, const ManyFilter *many)
{
    typedef LookupOf<T> Of;
    walk_with<T>(
        it, MatchMany<T, typename Of::type>(
                *many, Of::make(many->lookup, many->klass, many->has_class)));
}

/* The same through a dense table of the values near the patterns (32 and
   64 bits). */
template <typename T>
static void
walk_dense(ElemIter *it, const ManyFilter *many)
{
    const DenseLookup<T> dense{(const Dense *)many->lookup, many->klass,
                               many->has_class};
    walk_with<T>(it, MatchMany<T, DenseLookup<T>>(*many, dense));
}

}  // namespace

#endif /* FENNICK_KERNELS_MATCH_MANY_H */
