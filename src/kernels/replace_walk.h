/*
 * The replacement loop, written once for every element type and compiled
 * once per vector width (see simd.h):
 *
 *     a[i] = new where match(a[i])
 *
 * Only matching elements are stored to.  An element that does not match is
 * never written, not even with its own bits, so another thread's write to
 * it is never undone, a copy-on-write mapping keeps its clean pages, and
 * memory without a match may be read-only.  Vectors are tested four at a
 * time with no branch per element.  With AVX-512 every vector is stored
 * through its mask, a vector without a match to a scratch buffer instead;
 * elsewhere a block without a match stores nothing and the others store
 * their matching lanes.  With AVX-512, and where AVX2's masked stores are
 * fast, 50% of matches cost about what 1% costs; where they are slow, each
 * stored element costs a few cycles whichever way it is stored.
 *
 * Loads are unaligned and stay inside the run: whole vectors where the run
 * has them, then a masked load or single elements.  Strided runs gather
 * their elements where the target can, and otherwise compare up to 64
 * elements into a bit mask before storing the matches one by one.
 */
#ifndef FENNICK_KERNELS_REPLACE_WALK_H
#define FENNICK_KERNELS_REPLACE_WALK_H

#include "simd.h"
#include "walk.h"

namespace {

/* a[i] == old: IEEE equality for floats, equal bits for integers. */
template <typename T>
struct MatchEqual {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = true;
    typename S::V old_v;
    T old;

    explicit MatchEqual(const MatchPattern &pattern)
        : old_v(S::splat_bits(pattern.old_bits)),
          old(from_bits<T>(pattern.old_bits))
    {}
    typename S::M
    vec(typename S::V x) const
    {
        return S::equal(x, old_v);
    }
    bool
    one(T x) const
    {
        return x == old;
    }
};

/* isnan(a[i]), whatever its sign or payload. */
template <typename T>
struct MatchNan {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = true;

    explicit MatchNan(const MatchPattern &) {}
    typename S::M
    vec(typename S::V x) const
    {
        return S::unordered(x);
    }
    bool
    one(T x) const
    {
        return x != x;
    }
};

/* (a[i] & and_mask) == and_bits && (a[i] & not_mask) != not_bits */
template <typename T>
struct MatchMasked {
    typedef Simd<T> S;
    static constexpr bool kOneCompare = false;
    typename S::V and_mask, and_bits, not_mask, not_bits;
    T and_mask1, and_bits1, not_mask1, not_bits1;

    explicit MatchMasked(const MatchPattern &pattern)
        : and_mask(S::splat_bits(pattern.and_mask)),
          and_bits(S::splat_bits(pattern.and_bits)),
          not_mask(S::splat_bits(pattern.not_mask)),
          not_bits(S::splat_bits(pattern.not_bits)),
          and_mask1(from_bits<T>(pattern.and_mask)),
          and_bits1(from_bits<T>(pattern.and_bits)),
          not_mask1(from_bits<T>(pattern.not_mask)),
          not_bits1(from_bits<T>(pattern.not_bits))
    {}
    typename S::M
    vec(typename S::V x) const
    {
        return S::equal(S::bit_and(x, and_mask), and_bits)
               & ~S::equal(S::bit_and(x, not_mask), not_bits);
    }
    bool
    one(T x) const
    {
        /* & rather than &&: no branch on the first half */
        return ((T)(x & and_mask1) == and_bits1)
               & ((T)(x & not_mask1) != not_bits1);
    }
};

/* What a walk writes: `new` as one element and in every lane. */
template <typename T>
struct NewValue {
    typename Simd<T>::V v;
    T one;
};

/* Replaces in `n` (at most 64) elements `stride` bytes apart, where the
   target cannot load them as a vector.  A test of one compare is made on
   each element into a bit mask, eight to a step with no branch between
   them; a longer test is made a vector at a time on a copy of the
   elements.  Then the matches are stored one by one. */
template <typename T, typename Match>
static inline void
replace_few(char *p, npy_intp n, npy_intp stride, const Match &match,
            const NewValue<T> &new_value)
{
    typedef Simd<T> S;
    uint64_t lanes = 0;
    const char *q = p;
    npy_intp i = 0;
    if constexpr (Match::kOneCompare) {
        // eight elements per step
        for (; i + 8 <= n; i += 8, q += 8 * stride) {
            const uint64_t b =
                (uint64_t)match.one(load_one<T>(q))
                | (uint64_t)match.one(load_one<T>(q + stride)) << 1
                | (uint64_t)match.one(load_one<T>(q + 2 * stride)) << 2
                | (uint64_t)match.one(load_one<T>(q + 3 * stride)) << 3
                | (uint64_t)match.one(load_one<T>(q + 4 * stride)) << 4
                | (uint64_t)match.one(load_one<T>(q + 5 * stride)) << 5
                | (uint64_t)match.one(load_one<T>(q + 6 * stride)) << 6
                | (uint64_t)match.one(load_one<T>(q + 7 * stride)) << 7;
            lanes |= b << i;
        }
    }
    else {
        // a vector at a time, on a copy
        static_assert(64 % S::kLanes == 0, "whole vectors in 64 elements");
        T copy[64];
        for (; i + S::kLanes <= n; i += S::kLanes) {
            for (npy_intp k = i; k < i + S::kLanes; k++, q += stride) {
                copy[k] = load_one<T>(q);
            }
            const char *v = (const char *)(copy + i);
            lanes |= S::lanes(match.vec(S::load(v))) << i;
        }
    }
    // remaining elements one at a time
    for (; i < n; i++, q += stride) {
        lanes |= (uint64_t)match.one(load_one<T>(q)) << i;
    }
    store_lanes<T>(p, stride, lanes, new_value.one);
}

/* Replaces in `n` elements lying one item apart from `p`. */
template <typename T, typename Match>
static void
replace_contiguous(char *p, npy_intp n, const Match &match,
                   const NewValue<T> &new_value)
{
    typedef Simd<T> S;
    typedef typename S::M M;
    constexpr npy_intp kVec = S::kLanes * (npy_intp)sizeof(T);
    constexpr npy_intp kBlock = 4 * S::kLanes;
    static_assert(kBlock * sizeof(T) == 4 * sizeof(typename S::V),
                  "a block is four vectors");

    // Where masked stores are cheap, a vector without a match sends its
    // (empty) store to a scratch buffer instead of branching around it: no
    // branch to mispredict, which in a long run would also empty the
    // pipeline of the loads in flight, and still no store into the array,
    // not even an empty one (those cost a lot on memory not in cache, and
    // on read-only or copy-on-write pages).
    alignas(64) char scratch[sizeof(typename S::V)];
    auto target = [&scratch](char *at, M any_match) {
        if constexpr (S::kCheapMaskedStores) {
            return S::any(any_match) ? at : scratch;
        }
        else {
            (void)scratch;
            return at;
        }
    };

    // four vectors per step; a step without a match stores nothing
    for (; n >= kBlock; n -= kBlock, p += 4 * kVec) {
        // Ask for the lines 4 KiB ahead: with no stores to wait on, the
        // loop otherwise outruns the hardware prefetcher on long runs.  A
        // prefetch never faults, so past the run's end it costs nothing.
        const uintptr_t ahead = (uintptr_t)p + 4096;
        __builtin_prefetch((const void *)ahead);
        __builtin_prefetch((const void *)(ahead + 128));
        const M m[4] = {match.vec(S::load(p)), match.vec(S::load(p + kVec)),
                        match.vec(S::load(p + 2 * kVec)),
                        match.vec(S::load(p + 3 * kVec))};
        if constexpr (S::kCheapMaskedStores) {
            for (int i = 0; i < 4; i++) {
                S::store_where(target(p + i * kVec, m[i]), m[i], new_value.v,
                               new_value.one);
            }
        }
        else if (S::any(m[0] | m[1] | m[2] | m[3])) {
            S::store_block(p, m, new_value.v, new_value.one);
        }
    }
    // one vector at a time
    for (; n >= S::kLanes; n -= S::kLanes, p += kVec) {
        const M m = match.vec(S::load(p));
        if (S::kCheapMaskedStores || S::any(m)) {
            S::store_where(target(p, m), m, new_value.v, new_value.one);
        }
    }
    // the last elements: a masked vector, or one at a time
    if (n == 0) {
        return;
    }
    if constexpr (S::kMaskedTail) {
        const M f = S::first(n);
        const M m = match.vec(S::load_first(p, f)) & f;
        if (S::any(m)) {
            S::store_where(p, m, new_value.v, new_value.one);
        }
    }
    else {
        replace_few<T>(p, n, (npy_intp)sizeof(T), match, new_value);
    }
}

/* Replaces in `n` elements `stride` bytes apart (any sign, or zero). */
template <typename T, typename Match>
static void
replace_strided(char *p, npy_intp n, npy_intp stride, const Match &match,
                const NewValue<T> &new_value)
{
    typedef Simd<T> S;
    if constexpr (S::kGather) {
        if (S::gathers(stride)) {
            typedef typename S::M M;
            const typename S::Index index = S::index(stride);
            // a gathered vector per step; matches are scattered
            for (; n >= S::kLanes; n -= S::kLanes, p += S::kLanes * stride) {
                const M m = match.vec(S::gather(p, index, S::all()));
                if (S::any(m)) {
                    S::scatter_where(p, stride, index, m, new_value.v,
                                     new_value.one);
                }
            }
            // the last elements, gathered under a mask
            if (n > 0) {
                const M f = S::first(n);
                const M m = match.vec(S::gather(p, index, f)) & f;
                if (S::any(m)) {
                    S::scatter_where(p, stride, index, m, new_value.v,
                                     new_value.one);
                }
            }
            return;
        }
    }
    // 64 elements per step
    for (; n > 64; n -= 64, p += 64 * stride) {
        replace_few<T>(p, 64, stride, match, new_value);
    }
    replace_few<T>(p, n, stride, match, new_value);
}

/* Walks every run of `it`; the route is chosen once by the runs' common
   stride, which is never negative. */
template <typename T, template <typename> class Match>
static void
walk(ElemIter *it, const MatchPattern *pattern)
{
    const Match<T> match(*pattern);
    const NewValue<T> new_value = {Simd<T>::splat_bits(pattern->new_bits),
                                   from_bits<T>(pattern->new_bits)};
    const npy_intp item = (npy_intp)sizeof(T);
    if (it->inner_stride == item) {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_contiguous<T>(it->run_ptr, it->inner_len, match,
                                  new_value);
        }
    }
    else {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_strided<T>(it->run_ptr, it->inner_len, it->inner_stride,
                               match, new_value);
        }
    }
}

/* Walks a view whose elements may share bytes element by element, each
   compared with its value before the call (in `before`, a copy of the
   bytes the view spans from the first run's start), as NumPy's
   `a[a == old] = new` compares before it writes.  Every width runs the same
   scalar steps in the same order, so the bytes that two matches share end
   the same everywhere. */
template <typename T, template <typename> class Match>
static void
walk_copy(ElemIter *it, const MatchPattern *pattern, const char *before)
{
    const Match<T> match(*pattern);
    const T new_one = from_bits<T>(pattern->new_bits);
    const char *lowest = it->run_ptr;
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        for (npy_intp k = 0; k < it->inner_len; k++, p += it->inner_stride) {
            if (match.one(load_one<T>(before + (p - lowest)))) {
                store_one<T>(p, new_one);
            }
        }
    }
}

}  // namespace

#endif /* FENNICK_KERNELS_REPLACE_WALK_H */
