/*
 * The replacement loop, written once for every element type and compiled
 * once per vector width (see simd.h):
 *
 *     a[i] = value(a[i]) where match(a[i])
 *
 * (for replace, value() is `new` wherever it is asked).  Only matching
 * elements are stored to.  An element that does not match is never
 * written, not even with its own bits, so another thread's write to it is
 * never undone, a copy-on-write mapping keeps its clean pages, and memory
 * without a match may be read-only.  Vectors are tested four at a time with
 * no branch per element.  With AVX-512 every vector is stored through its
 * mask, a vector without a match to a scratch buffer instead.  Elsewhere a
 * block without a match stores nothing, a block whose lanes all match
 * stores four whole vectors, and the others store their matches through
 * the target's masked stores where it has fast ones, else one element at a
 * time: 32- and 64-bit lanes without a branch on each, narrower ones in a
 * loop over the matches or, at the edges of runs of matches, a few wider
 * moves that cover matching elements only.
 *
 * Loads are unaligned and stay inside the run: a long run first takes the
 * elements up to a vector boundary, then whole vectors, then a masked load
 * or single elements.  A strided run whose elements lie a few items apart
 * is loaded as whole vectors over the bytes between its first and last
 * element, of which only the elements' lanes are tested and stored; other
 * strided runs gather their elements where the target can, and otherwise
 * compare up to 64 elements into a bit mask before storing the matches.
 */
#ifndef FENNICK_KERNELS_REPLACE_WALK_H
#define FENNICK_KERNELS_REPLACE_WALK_H

#include "matches.h"

namespace {

/* The address to store a vector's matches at: `at`, or where masked
   stores are cheap and `m` selects nothing, `scratch` (see
   replace_contiguous). */
template <typename S>
static inline char *
store_target(char *at, typename S::M m, char *scratch)
{
    if constexpr (S::kCheapMaskedStores) {
        return S::any(m) ? at : scratch;
    }
    else {
        (void)m;
        (void)scratch;
        return at;
    }
}

/* Asks for the lines of `n` elements `stride` bytes apart from `p`, where
   each element has lines of its own, which the hardware prefetchers follow
   badly (a column of a wide array).  A prefetch never faults. */
static inline void
prefetch_elements(const char *p, npy_intp n, npy_intp stride)
{
    if (stride < 64) {
        return;
    }
    for (npy_intp i = 0; i < n; i++, p += stride) {
        __builtin_prefetch(p);
    }
}

/* Replaces in `n` (at most 64) elements `stride` bytes apart, where the
   target cannot load them as a vector.  A test of one compare is made on
   each element into a bit mask, eight to a step with no branch between
   them; a longer test is made a vector at a time on a copy of the
   elements.  Then the matches are stored. */
template <typename T, typename Match>
static inline void
replace_few(char *p, npy_intp n, npy_intp stride, const Match &match)
{
    typedef Simd<T> S;
    constexpr bool kUniform = Match::kUniform;
    if (n == 0) {
        return;
    }
    // the values to store; a uniform match's goes through a local first,
    // which the compiler keeps in a register rather than store it anew for
    // each element
    T values[kUniform ? 1 : 64];
    T uniform = T();
    auto value = [&values, &uniform](npy_intp i) {
        return kUniform ? &uniform : &values[i];
    };
    uint64_t lanes = 0;
    const char *q = p;
    npy_intp i = 0;
    if constexpr (Match::kOneCompare) {
        // eight elements per step
        for (; i + 8 <= n; i += 8, q += 8 * stride) {
            const uint64_t b =
                (uint64_t)match.one(load_one<T>(q), value(i))
                | (uint64_t)match.one(load_one<T>(q + stride), value(i + 1))
                      << 1
                | (uint64_t)match.one(load_one<T>(q + 2 * stride),
                                      value(i + 2))
                      << 2
                | (uint64_t)match.one(load_one<T>(q + 3 * stride),
                                      value(i + 3))
                      << 3
                | (uint64_t)match.one(load_one<T>(q + 4 * stride),
                                      value(i + 4))
                      << 4
                | (uint64_t)match.one(load_one<T>(q + 5 * stride),
                                      value(i + 5))
                      << 5
                | (uint64_t)match.one(load_one<T>(q + 6 * stride),
                                      value(i + 6))
                      << 6
                | (uint64_t)match.one(load_one<T>(q + 7 * stride),
                                      value(i + 7))
                      << 7;
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
            typename S::V v;
            const char *c = (const char *)(copy + i);
            lanes |= S::lanes(match.vec(S::load(c), &v)) << i;
            if constexpr (kUniform) {
                uniform = first_lane<T>(v);
            }
            else {
                S::store((char *)(values + i), v);
            }
        }
    }
    // remaining elements one at a time
    for (; i < n; i++, q += stride) {
        lanes |= (uint64_t)match.one(load_one<T>(q), value(i)) << i;
    }
    if constexpr (kUniform) {
        values[0] = uniform;
    }
    // the matches: without a branch each where nearly all match
    if (4 * count_lanes(lanes) >= 3 * n) {
        char scratch[sizeof(T)];
        store_lanes_redirected<T, kUniform>(p, stride, n, lanes, values, 1,
                                            scratch);
    }
    else {
        store_lanes<T, kUniform>(p, stride, lanes, values);
    }
}

/* Replaces in `n` elements `stride` bytes apart, 64 per step with
   replace_few, asking for the lines of the next step first. */
template <typename T, typename Match>
static void
replace_elements(char *p, npy_intp n, npy_intp stride, const Match &match)
{
    prefetch_elements(p, n < 64 ? n : 64, stride);
    for (; n > 64; n -= 64, p += 64 * stride) {
        prefetch_elements(p + 64 * stride, n - 64 < 64 ? n - 64 : 64, stride);
        replace_few<T>(p, 64, stride, match);
    }
    replace_few<T>(p, n, stride, match);
}

/* Replaces in `n` elements lying one item apart from `p`. */
template <typename T, typename Match>
static void
replace_contiguous(char *p, npy_intp n, const Match &match)
{
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    constexpr bool kUniform = Match::kUniform;
    constexpr npy_intp kVec = S::kLanes * (npy_intp)sizeof(T);
    constexpr npy_intp kBlock = 4 * S::kLanes;
    static_assert(kBlock * sizeof(T) == 4 * sizeof(V),
                  "a block is four vectors");

    // Where masked stores are cheap, a vector without a match sends its
    // (empty) store to a scratch buffer instead of branching around it: no
    // branch to mispredict, which in a long run would also empty the
    // pipeline of the loads in flight, and still no store into the array,
    // not even an empty one (those cost a lot on memory not in cache, and
    // on read-only or copy-on-write pages).  Elsewhere the scratch buffer
    // takes the stores of lanes that do not match where every lane is
    // stored without a branch.
    alignas(64) char scratch[sizeof(V)];

    // On a long run, first the elements up to the next multiple of a
    // vector's size (a masked vector, or one at a time), so that no later
    // load crosses a line of the cache: such a load waits for the addresses
    // of the stores before it, which wait for the loads and compares
    // before them.
    const npy_intp head = (npy_intp)((0 - (uintptr_t)p) % kVec);
    if (head != 0 && head % (npy_intp)sizeof(T) == 0 && n >= kBlock) {
        const npy_intp k = head / (npy_intp)sizeof(T);
        if constexpr (S::kMaskedTail) {
            const M f = S::first(k);
            V v;
            const M m = match.vec(S::load_first(p, f), &v) & f;
            if (S::any(m)) {
                S::template store_where<kUniform>(p, m, v, scratch);
            }
        }
        else {
            replace_few<T>(p, k, (npy_intp)sizeof(T), match);
        }
        p += head;
        n -= k;
    }
    // Ask for the lines 4 KiB ahead: with no stores to wait on, the loop
    // otherwise outruns the hardware prefetcher.  Where the prefetchers
    // keep up alone, the requests only take bandwidth: such processors
    // ask in runs short enough to lie in the cache, or with vectors of a
    // whole line in none (walk_prefetch_most).  A prefetch never faults,
    // so past the run's end it costs nothing.
    const bool prefetch =
        n <= walk_prefetch_most[kVec == 64] / (npy_intp)sizeof(T);
    // four vectors per step; a step without a match stores nothing
    for (; n >= kBlock; n -= kBlock, p += 4 * kVec) {
        if (prefetch) {
            const uintptr_t ahead = (uintptr_t)p + 4096;
            __builtin_prefetch((const void *)ahead);
            __builtin_prefetch((const void *)(ahead + 128));
        }
        V v0, v1, v2, v3;
        const M m0 = match.vec(S::load(p), &v0);
        const M m1 = match.vec(S::load(p + kVec), &v1);
        const M m2 = match.vec(S::load(p + 2 * kVec), &v2);
        const M m3 = match.vec(S::load(p + 3 * kVec), &v3);
        if constexpr (S::kCheapMaskedStores) {
            S::template store_where<kUniform>(store_target<S>(p, m0, scratch),
                                              m0, v0, scratch);
            S::template store_where<kUniform>(
                store_target<S>(p + kVec, m1, scratch), m1, v1, scratch);
            S::template store_where<kUniform>(
                store_target<S>(p + 2 * kVec, m2, scratch), m2, v2, scratch);
            S::template store_where<kUniform>(
                store_target<S>(p + 3 * kVec, m3, scratch), m3, v3, scratch);
        }
        else if (S::any(m0 | m1 | m2 | m3)) {
            // every lane a match: four whole vectors (even where partial
            // vectors take one masked store each, a whole store costs less
            // on memory not in cache)
            if (S::all(m0 & m1 & m2 & m3)) {
                S::store(p, v0);
                S::store(p + kVec, v1);
                S::store(p + 2 * kVec, v2);
                S::store(p + 3 * kVec, v3);
            }
            else {
                const M m[4] = {m0, m1, m2, m3};
                const V v[4] = {v0, v1, v2, v3};
                S::template store_block<kUniform>(p, m, v, scratch);
            }
        }
    }
    // one vector at a time
    for (; n >= S::kLanes; n -= S::kLanes, p += kVec) {
        V v;
        const M m = match.vec(S::load(p), &v);
        if constexpr (S::kCheapMaskedStores) {
            S::template store_where<kUniform>(store_target<S>(p, m, scratch),
                                              m, v, scratch);
        }
        else if (S::any(m)) {
            if (S::all(m)) {
                S::store(p, v);
            }
            else {
                S::template store_where<kUniform>(p, m, v, scratch);
            }
        }
    }
    // the last elements: a masked vector, or one at a time
    if (n == 0) {
        return;
    }
    if constexpr (S::kMaskedTail) {
        const M f = S::first(n);
        V v;
        const M m = match.vec(S::load_first(p, f), &v) & f;
        if (S::any(m)) {
            S::template store_where<kUniform>(p, m, v, scratch);
        }
    }
    else {
        replace_few<T>(p, n, (npy_intp)sizeof(T), match);
    }
}

/* How the strided runs of a walk are loaded, chosen once by their stride:
   when their elements lie `step` items apart, 2 <= step <= kMaxStep, as
   whole vectors over the bytes between them, of which `select[j]` are the
   elements' lanes in the j-th vector from an element (j < step; all the
   same where `step` divides the lanes of a vector); when `step` is 0,
   element by element.  The bytes between elements are read only where a
   line of the cache holds at least one element.  Vectors pay while they
   hold at least four elements (with two, half the elements matching makes
   the test of each vector for a match hard to predict); where matches are
   stored lane by lane, a
   window of 64 lanes must also hold enough elements for the end of its
   loop over them to be rare: a step of at most 4, and where the bits of
   its elements cannot be gathered quickly (no BMI2), 2 or 4. */
template <typename T>
struct SpanLoads {
    typedef Simd<T> S;
    static constexpr npy_intp kMaxLoadStep =
        S::kLanes / 4 < 64 / (npy_intp)sizeof(T) ? S::kLanes / 4
                                                 : 64 / (npy_intp)sizeof(T);
    static constexpr npy_intp kMaxStep =
        S::kMaskedStores || kMaxLoadStep < 4 ? kMaxLoadStep : 4;
    /* Where matches are stored lane by lane, the lanes tested per step. */
    static constexpr npy_intp kPer = 64 / S::kLanes < 4 ? 64 / S::kLanes : 4;
    static constexpr npy_intp kWindow = kPer * S::kLanes;
    npy_intp step;
    typename S::M select[kMaxStep > 1 ? kMaxStep : 1];
    /* The elements in a window whose first element is in lane f, and a
       bit at each element's lane from the first. */
    npy_intp elements[kMaxStep > 1 ? kMaxStep : 1];
    uint64_t spread;

    explicit SpanLoads(npy_intp stride) : step(0), spread(0)
    {
        const npy_intp k = stride / (npy_intp)sizeof(T);
        if (stride % (npy_intp)sizeof(T) != 0 || k < 2 || k > kMaxStep
            || !(S::kMaskedStores || kAnyStepBits || k == 2 || k == 4)) {
            return;
        }
        step = k;
        for (npy_intp j = 0; j < k; j++) {
            // the lanes whose item, counted from an element, is a multiple
            // of k: one division per vector, not per lane (a call on a
            // short run would spend most of its time here)
            uint64_t bits = 0;
            const npy_intp start = (k - j * S::kLanes % k) % k;
            for (npy_intp lane = start; lane < S::kLanes; lane += k) {
                bits |= (uint64_t)1 << lane;
            }
            select[j] = S::from_lanes(bits);
            elements[j] = (kWindow - j + k - 1) / k;
        }
        for (npy_intp lane = 0; lane < 64; lane += k) {
            spread |= (uint64_t)1 << lane;
        }
    }
};

/* Replaces in `n` elements `span.step` items apart, loading whole vectors
   from `p` as far as they stay inside the run, and the elements past them
   one by one.  kOnePhase: the step divides the lanes of a vector, so every
   vector's elements lie in the same lanes. */
template <typename T, bool kOnePhase, typename Match>
static void
replace_span(char *p, npy_intp n, const SpanLoads<T> &span, const Match &match)
{
    typedef Simd<T> S;
    typedef typename S::V V;
    typedef typename S::M M;
    constexpr bool kUniform = Match::kUniform;
    const npy_intp k = span.step;
    alignas(64) char scratch[sizeof(V)];
    char *q = p;
    // the items from q to the run's last element, inclusive
    npy_intp items = (n - 1) * k + 1;
    npy_intp j = 0; /* q's vector from an element: select[j] */
    auto select = [&span, &j, k]() {
        if constexpr (kOnePhase) {
            (void)j;
            (void)k;
            return span.select[0];
        }
        else {
            const M s = span.select[j];
            j = j + 1 == k ? 0 : j + 1;
            return s;
        }
    };
    if constexpr (S::kMaskedStores) {
        // a vector per step, stored through its mask
        for (; items >= S::kLanes; items -= S::kLanes, q += sizeof(V)) {
            V v;
            const M m = match.vec(S::load(q), &v) & select();
            if (S::any(m)) {
                S::template store_where<kUniform>(q, m, v, scratch);
            }
        }
    }
    else {
        // up to 64 lanes per step; their matches stored one by one, or
        // where nearly all match every element without a branch
        constexpr npy_intp kPer = SpanLoads<T>::kPer;
        constexpr npy_intp kWindow = SpanLoads<T>::kWindow;
        const npy_intp shift = kWindow % k; /* of the first element's lane */
        npy_intp first = 0; /* lane of the first element in the window */
        for (; items >= kWindow; items -= kWindow, q += kPer * sizeof(V)) {
            V v[kPer];
            uint64_t lanes = 0;
#pragma GCC unroll 4
            for (npy_intp i = 0; i < kPer; i++) {
                const M m =
                    match.vec(S::load(q + i * sizeof(V)), &v[i]) & select();
                lanes |= S::lanes(m) << (i * S::kLanes);
            }
            if (lanes != 0) {
                T values[kUniform ? 1 : kWindow];
                memcpy(values, v, sizeof(values));
                const npy_intp elements = span.elements[first];
                if (4 * count_lanes(lanes) >= 3 * elements) {
                    store_lanes_redirected<T, kUniform>(
                        q + first * (npy_intp)sizeof(T),
                        k * (npy_intp)sizeof(T), elements,
                        every_step_bits(lanes >> first, k, span.spread),
                        values + (kUniform ? 0 : first), k, scratch);
                }
                else {
                    store_lanes<T, kUniform>(q, (npy_intp)sizeof(T), lanes,
                                             values);
                }
            }
            first = first >= shift ? first - shift : first + k - shift;
        }
    }
    // the elements past the last whole vector, one at a time
    const npy_intp done = ((q - p) / (npy_intp)sizeof(T) + k - 1) / k;
    const npy_intp stride = k * (npy_intp)sizeof(T);
    replace_elements<T>(p + done * stride, n - done, stride, match);
}

/* Replaces in `n` elements `stride` bytes apart (any sign, or zero). */
template <typename T, typename Match>
static void
replace_strided(char *p, npy_intp n, npy_intp stride, const SpanLoads<T> &span,
                const Match &match)
{
    typedef Simd<T> S;
    constexpr bool kUniform = Match::kUniform;
    if (span.step != 0) {
        if (S::kLanes % span.step == 0) {
            replace_span<T, true>(p, n, span, match);
        }
        else {
            replace_span<T, false>(p, n, span, match);
        }
        return;
    }
    if constexpr (S::kGather) {
        if (S::gathers(stride)) {
            typedef typename S::M M;
            typedef typename S::V V;
            const typename S::Index index = S::index(stride);
            // a gathered vector per step, 64 elements ahead of the lines
            // asked for; matches are scattered
            prefetch_elements(p, n < 64 ? n : 64, stride);
            for (; n >= S::kLanes; n -= S::kLanes, p += S::kLanes * stride) {
                if (n >= 64 + S::kLanes) {
                    prefetch_elements(p + 64 * stride, S::kLanes, stride);
                }
                V v;
                const M m = match.vec(S::gather(p, index, S::full()), &v);
                if (S::any(m)) {
                    S::scatter_where(p, index, m, v);
                }
            }
            // the last elements, gathered under a mask
            if (n > 0) {
                const M f = S::first(n);
                V v;
                const M m = match.vec(S::gather(p, index, f), &v) & f;
                if (S::any(m)) {
                    S::scatter_where(p, index, m, v);
                }
            }
            (void)kUniform;
            return;
        }
    }
    replace_elements<T>(p, n, stride, match);
}

/* Walks every run of `it` with `match`; the route is chosen once by the
   runs' common stride, which is never negative. */
template <typename T, typename Match>
static void
walk_with(ElemIter *it, const Match &match)
{
    const npy_intp item = (npy_intp)sizeof(T);
    if (it->inner_stride == item) {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_contiguous<T>(it->run_ptr, it->inner_len, match);
        }
    }
    else {
        const SpanLoads<T> span(it->inner_stride);
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_strided<T>(it->run_ptr, it->inner_len, it->inner_stride,
                               span, match);
        }
    }
}

template <typename T, template <typename> class Match>
static void
walk(ElemIter *it, const MatchPattern *pattern)
{
    walk_with<T>(it, Match<T>(*pattern));
}

template <typename T, bool kSameNew>
static void
walk_few_as(ElemIter *it, const FewPatterns *few)
{
    // the count rounded up to 2, 4 or 8: three loops per element size
    if (few->count <= 2)
        walk_with<T>(it, MatchFew<T, 2, kSameNew>(*few));
    else if (few->count <= 4)
        walk_with<T>(it, MatchFew<T, 4, kSameNew>(*few));
    else
        walk_with<T>(it, MatchFew<T, WALK_FEW, kSameNew>(*few));
}

template <typename T>
static void
walk_few(ElemIter *it, const FewPatterns *few)
{
    if (few->same_new)
        walk_few_as<T, true>(it, few);
    else
        walk_few_as<T, false>(it, few);
}

}  // namespace

#endif /* FENNICK_KERNELS_REPLACE_WALK_H */
