/*
 * The replacement loop shared by every element type:
 *
 *     a[i] = new where match(a[i])
 *
 * `match` is a predicate on a 16-byte vector (equality with `old`, or a NaN
 * test) that returns a lane mask, all ones where an element matches.  No
 * branch depends on an element: each one is compared, the result chosen by
 * mask with bitwise operations, and stored back (a non-matching element
 * with its own bits, so NaN payloads and signed zeros survive).  Single
 * elements go through the same vector predicate in lane 0, which keeps the
 * compiler from turning the select into a branch and a conditional store.
 * Elements are read and written with memcpy and unaligned vector loads and
 * stores, so misaligned data is safe, and nothing outside a run is touched.
 */
#ifndef FENNICK_KERNELS_REPLACE_WALK_H
#define FENNICK_KERNELS_REPLACE_WALK_H

#include <stdint.h>
#include <string.h>

#include "../iter/elem_iter.h"

namespace {

/* Sixteen bytes of T, and sixteen bytes of the signed integers of T's
   width, which hold lane masks and the bits being selected. */
template <typename T>
struct Vec16 {
    typedef T type __attribute__((vector_size(16)));
};
template <typename T>
struct Mask16;
template <>
struct Mask16<double> {
    typedef int64_t type __attribute__((vector_size(16)));
};
template <>
struct Mask16<int64_t> {
    typedef int64_t type __attribute__((vector_size(16)));
};
template <>
struct Mask16<float> {
    typedef int32_t type __attribute__((vector_size(16)));
};
template <>
struct Mask16<int32_t> {
    typedef int32_t type __attribute__((vector_size(16)));
};

/* Every lane set to `v`.  Assigned lane by lane: building it as
   `V{} + v` would turn a -0.0 into +0.0 and quieten a signalling NaN. */
template <typename T>
static inline typename Vec16<T>::type
splat(T v)
{
    typename Vec16<T>::type r;
    for (unsigned i = 0; i < 16 / sizeof(T); i++) {
        r[i] = v;
    }
    return r;
}

/* Matches elements equal to `value` (IEEE equality for floats). */
template <typename T>
struct EqualTo {
    typedef typename Vec16<T>::type V;
    typedef typename Mask16<T>::type M;
    V value;

    explicit EqualTo(T v) : value(splat<T>(v)) {}
    M
    operator()(V x) const
    {
        return (M)(x == value);
    }
};

/* SSE2 has no 64-bit integer equality (GCC falls back to scalar compares
   and moves): compare the 32-bit halves, then AND each half's mask with the
   other half's, so a lane is set only when both halves are equal. */
template <>
struct EqualTo<int64_t> {
    typedef Vec16<int64_t>::type V;
    typedef Mask16<int64_t>::type M;
    typedef Mask16<int32_t>::type H;
    V value;

    explicit EqualTo(int64_t v) : value(splat<int64_t>(v)) {}
    M
    operator()(V x) const
    {
        H e = (H)x == (H)value;
        H s = __builtin_shufflevector(e, e, 1, 0, 3, 2);
        return (M)(e & s);
    }
};

/* Matches NaN elements, whatever their sign or payload. */
template <typename T>
struct IsNan {
    typedef typename Vec16<T>::type V;
    typedef typename Mask16<T>::type M;

    M
    operator()(V x) const
    {
        return (M)(x != x);
    }
};

/* `x` where `m` is clear, `y` where it is set, bit for bit. */
template <typename T>
static inline typename Vec16<T>::type
blend(typename Mask16<T>::type m, typename Vec16<T>::type y,
       typename Vec16<T>::type x)
{
    typedef typename Vec16<T>::type V;
    typedef typename Mask16<T>::type M;
    return (V)(((M)x & ~m) | ((M)y & m));
}

/* Replaces the one element at `p`, in lane 0 of a vector. */
template <typename T, typename Match>
static inline void
replace_one(char *p, const Match &match, typename Vec16<T>::type vnew)
{
    typename Vec16<T>::type v = {};
    memcpy(&v, p, sizeof(T));
    v = blend<T>(match(v), vnew, v);
    memcpy(p, &v, sizeof(T));
}

/* Replaces in `n` elements lying one item apart from `p`. */
template <typename T, typename Match>
static inline void
replace_contiguous(char *p, npy_intp n, const Match &match,
                   typename Vec16<T>::type vnew)
{
    typedef typename Vec16<T>::type V;
    constexpr npy_intp kLanes = 16 / sizeof(T);
    constexpr npy_intp kBlock = 2 * kLanes;
    static_assert(kBlock * sizeof(T) == 2 * sizeof(V),
                  "a block is two 16-byte vectors");

    // two vectors per step; loads and stores are unaligned
    for (; n >= kBlock; n -= kBlock, p += kBlock * sizeof(T)) {
        V v0, v1;
        memcpy(&v0, p, sizeof(V));
        memcpy(&v1, p + sizeof(V), sizeof(V));
        v0 = blend<T>(match(v0), vnew, v0);
        v1 = blend<T>(match(v1), vnew, v1);
        memcpy(p, &v0, sizeof(V));
        memcpy(p + sizeof(V), &v1, sizeof(V));
    }
    // remaining elements one at a time
    for (; n > 0; n--, p += sizeof(T)) {
        replace_one<T>(p, match, vnew);
    }
}

/* Replaces in `n` elements `stride` bytes apart (any sign, or zero). */
template <typename T, typename Match>
static inline void
replace_strided(char *p, npy_intp n, npy_intp stride, const Match &match,
                typename Vec16<T>::type vnew)
{
    for (; n > 0; n--, p += stride) {
        replace_one<T>(p, match, vnew);
    }
}

/* Walks every run of `it`; the vector route is chosen once by the runs'
   common stride.  Touches nothing but array memory, so it runs without the
   interpreter lock. */
template <typename T, typename Match>
static void
replace_walk(ElemIter *it, const Match &match, T new_value)
{
    const typename Vec16<T>::type vnew = splat<T>(new_value);

    if (it->inner_stride == (npy_intp)sizeof(T)) {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_contiguous<T>(it->run_ptr, it->inner_len, match, vnew);
        }
    }
    else {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_strided<T>(it->run_ptr, it->inner_len, it->inner_stride,
                               match, vnew);
        }
    }
}

}  // namespace

#endif /* FENNICK_KERNELS_REPLACE_WALK_H */
