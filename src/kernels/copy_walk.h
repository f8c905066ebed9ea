/*
 * The copying loop, written once for every element type and compiled once
 * per vector width (see simd.h):
 *
 *     dst[i] = match(src[i]) ? value(src[i]) : src[i]
 *
 * into a new array that nothing else can see yet, so every element of the
 * destination is written, whole vectors at a time: each vector of the
 * source is loaded once, compared, blended with the news and stored.  The
 * source is only read.  Runs contiguous in both arrays take whole vectors
 * (unaligned loads; stores aligned to the vector where the destination is
 * large enough to stream past the cache, as a memory copy of that size
 * does); every other run goes one element at a time with the same test
 * (a gather of a strided source costs more than it saves).
 */
#ifndef FENNICK_KERNELS_COPY_WALK_H
#define FENNICK_KERNELS_COPY_WALK_H

#if defined(__x86_64__) || defined(__SSE2__)
#include <immintrin.h>
#endif

#include "../iter/pair_iter.h"
#include "copy.h"
#include "matches.h"

namespace {

/* Whether vectors of `Bytes` bytes can be stored past the cache here. */
template <size_t Bytes>
struct Streams {
#if defined(__AVX512F__)
    static constexpr bool kYes = Bytes == 64 || Bytes == 32 || Bytes == 16;
#elif defined(__AVX__)
    static constexpr bool kYes = Bytes == 32 || Bytes == 16;
#elif defined(__SSE2__)
    static constexpr bool kYes = Bytes == 16;
#else
    static constexpr bool kYes = false;
#endif
};

/* Stores `v` at `p`, aligned to its size, past the cache. */
template <typename V>
static inline void
stream_vector(char *p, V v)
{
#if defined(__AVX512F__)
    if constexpr (sizeof(V) == 64) {
        _mm512_stream_si512((__m512i *)(void *)p, (__m512i)v);
        return;
    }
#endif
#if defined(__AVX__)
    if constexpr (sizeof(V) == 32) {
        _mm256_stream_si256((__m256i *)(void *)p, (__m256i)v);
        return;
    }
#endif
#if defined(__SSE2__)
    if constexpr (sizeof(V) == 16) {
        _mm_stream_si128((__m128i *)(void *)p, (__m128i)v);
        return;
    }
#endif
    memcpy(p, &v, sizeof(V));
}

/* Orders the streamed stores before whatever the caller does next. */
static inline void
stream_fence(void)
{
#if defined(__SSE2__)
    _mm_sfence();
#endif
}

/* One element: the source's, or its value where it matches. */
template <typename T, typename Match>
static inline void
copy_one(const char *s, char *d, const Match &match)
{
    const T x = load_one<T>(s);
    T v = x;
    store_one<T>(d, match.one(x, &v) ? v : x);
}

/* `n` elements `ss` and `ds` bytes apart (any signs), one at a time. */
template <typename T, typename Match>
static void
copy_elements(const char *s, npy_intp ss, char *d, npy_intp ds, npy_intp n,
              const Match &match)
{
    for (; n > 0; n--, s += ss, d += ds) {
        copy_one<T>(s, d, match);
    }
}

/* One vector: loaded, compared, blended, stored. */
template <typename T, bool kStream, typename Match>
static inline void
copy_vector(const char *s, char *d, const Match &match)
{
    typedef Simd<T> S;
    const typename S::V x = S::load(s);
    typename S::V v = x;
    const typename S::M m = match.vec(x, &v); /* before v is read */
    const typename S::V r = S::blend(m, v, x);
    if constexpr (kStream) {
        stream_vector(d, r);
    }
    else {
        S::store(d, r);
    }
}

/* `n` elements lying one item apart in both arrays.  The elements before
   the destination's first vector boundary go one at a time: streamed
   stores need it, and where the two arrays lie alike in their pages (two
   large allocations) the source's loads then cross no line either. */
template <typename T, bool kStream, typename Match>
static void
copy_contiguous(const char *s, char *d, npy_intp n, const Match &match)
{
    typedef Simd<T> S;
    constexpr npy_intp kVec = S::kLanes * (npy_intp)sizeof(T);
    constexpr npy_intp kBlock = 4 * S::kLanes;
    const npy_intp head = (npy_intp)((0 - (uintptr_t)d) % kVec);
    if (head % (npy_intp)sizeof(T) != 0) {
        if constexpr (kStream) {
            copy_contiguous<T, false>(s, d, n, match);
            return;
        }
    }
    else if (kStream || n >= kBlock) {
        // a streamed vector must be aligned, however short the run
        npy_intp k = head / (npy_intp)sizeof(T);
        k = k < n ? k : n;
        copy_elements<T>(s, sizeof(T), d, sizeof(T), k, match);
        s += k * (npy_intp)sizeof(T);
        d += k * (npy_intp)sizeof(T);
        n -= k;
    }
    // four vectors per step
    for (; n >= kBlock; n -= kBlock, s += 4 * kVec, d += 4 * kVec) {
        copy_vector<T, kStream>(s, d, match);
        copy_vector<T, kStream>(s + kVec, d + kVec, match);
        copy_vector<T, kStream>(s + 2 * kVec, d + 2 * kVec, match);
        copy_vector<T, kStream>(s + 3 * kVec, d + 3 * kVec, match);
    }
    // one vector at a time
    for (; n >= S::kLanes; n -= S::kLanes, s += kVec, d += kVec) {
        copy_vector<T, kStream>(s, d, match);
    }
    // remaining elements one at a time
    copy_elements<T>(s, sizeof(T), d, sizeof(T), n, match);
}

/* Copies every run of `it` through `match`; the route is chosen once by
   the runs' common strides. */
template <typename T, bool kStream, typename Match>
static void
copy_runs(PairIter *it, const Match &match)
{
    const npy_intp item = (npy_intp)sizeof(T);
    if (it->src_inner == item && it->dst_inner == item) {
        for (; it->runs_done < it->runs_total; pair_iter_next(it)) {
            copy_contiguous<T, kStream>(it->src_ptr, it->dst_ptr,
                                        it->inner_len, match);
        }
    }
    else {
        for (; it->runs_done < it->runs_total; pair_iter_next(it)) {
            copy_elements<T>(it->src_ptr, it->src_inner, it->dst_ptr,
                             it->dst_inner, it->inner_len, match);
        }
    }
}

template <typename T, typename Match>
static void
copy_with(PairIter *it, const Match &match, bool stream)
{
    if constexpr (Streams<sizeof(typename Simd<T>::V)>::kYes) {
        if (stream) {
            copy_runs<T, true>(it, match);
            stream_fence();
            return;
        }
    }
    copy_runs<T, false>(it, match);
}

template <typename T, template <typename> class Match>
static void
copy_walk(PairIter *it, const MatchPattern *pattern, bool stream)
{
    copy_with<T>(it, Match<T>(*pattern), stream);
}

template <typename T, bool kSameNew>
static void
copy_few_as(PairIter *it, const FewPatterns *few, bool stream)
{
    // the count rounded up to 2, 4 or 8, as the in-place walk does
    if (few->count <= 2)
        copy_with<T>(it, MatchFew<T, 2, kSameNew>(*few), stream);
    else if (few->count <= 4)
        copy_with<T>(it, MatchFew<T, 4, kSameNew>(*few), stream);
    else
        copy_with<T>(it, MatchFew<T, WALK_FEW, kSameNew>(*few), stream);
}

template <typename T>
static void
copy_few(PairIter *it, const FewPatterns *few, bool stream)
{
    if (few->same_new)
        copy_few_as<T, true>(it, few, stream);
    else
        copy_few_as<T, false>(it, few, stream);
}

}  // namespace

#endif /* FENNICK_KERNELS_COPY_WALK_H */
