/*
 * The replacement loop shared by every element type:
 *
 *     a[i] = new where match(a[i])
 *
 * `match` is a predicate with a scalar and a vector form (equality with
 * `old`, or NaN test).  No branch depends on an element: each is compared
 * and the result chosen by mask, and every element is stored back (a
 * non-matching one with its own bits).  Elements are read and written by
 * memcpy or unaligned vector loads, so misaligned data is safe.
 */
#ifndef FENNICK_KERNELS_REPLACE_WALK_H
#define FENNICK_KERNELS_REPLACE_WALK_H

#include <string.h>

#include "../iter/elem_iter.h"

namespace {

/* Sixteen bytes of T, in the compiler's portable vector extension. */
template <typename T>
struct Vec16 {
    typedef T type __attribute__((vector_size(16)));
};

/* Matches elements equal to `value` (IEEE equality for floats). */
template <typename T>
struct EqualTo {
    typedef typename Vec16<T>::type V;
    V vector_value;
    T value;

    explicit EqualTo(T v) : value(v)
    {
        vector_value = V{} + v;
    }
    bool
    operator()(T x) const
    {
        return x == value;
    }
    auto
    operator()(V x) const
    {
        return x == vector_value;
    }
};

/* Matches NaN elements, whatever their sign or payload. */
template <typename T>
struct IsNan {
    typedef typename Vec16<T>::type V;

    bool
    operator()(T x) const
    {
        return x != x;
    }
    auto
    operator()(V x) const
    {
        return x != x;
    }
};

/* Replaces in `n` elements lying one item apart from `p`. */
template <typename T, typename Match>
static inline void
replace_contiguous(char *p, npy_intp n, const Match &match, T new_value)
{
    typedef typename Vec16<T>::type V;
    constexpr npy_intp kLanes = 16 / sizeof(T);
    constexpr npy_intp kBlock = 2 * kLanes;
    static_assert(kBlock * sizeof(T) == 32, "a block is two 16-byte vectors");
    const V vnew = V{} + new_value;

    // two vectors per step; loads and stores are unaligned
    for (; n >= kBlock; n -= kBlock, p += kBlock * sizeof(T)) {
        V v0, v1;
        memcpy(&v0, p, sizeof(V));
        memcpy(&v1, p + sizeof(V), sizeof(V));
        auto m0 = match(v0);
        auto m1 = match(v1);
        v0 = m0 ? vnew : v0;
        v1 = m1 ? vnew : v1;
        memcpy(p, &v0, sizeof(V));
        memcpy(p + sizeof(V), &v1, sizeof(V));
    }
    // remaining elements one at a time
    for (; n > 0; n--, p += sizeof(T)) {
        T x;
        memcpy(&x, p, sizeof(T));
        x = match(x) ? new_value : x;
        memcpy(p, &x, sizeof(T));
    }
}

/* Replaces in `n` elements `stride` bytes apart (any sign, or zero). */
template <typename T, typename Match>
static inline void
replace_strided(char *p, npy_intp n, npy_intp stride, const Match &match,
                T new_value)
{
    for (; n > 0; n--, p += stride) {
        T x;
        memcpy(&x, p, sizeof(T));
        x = match(x) ? new_value : x;
        memcpy(p, &x, sizeof(T));
    }
}

/* Walks every run of `it`; the vector route is chosen once per run by its
   stride.  Touches nothing but array memory, so it runs without the
   interpreter lock. */
template <typename T, typename Match>
static void
replace_walk(ElemIter *it, const Match &match, T new_value)
{
    const bool contiguous = it->inner_stride == (npy_intp)sizeof(T);
    while (it->runs_done < it->runs_total) {
        if (contiguous) {
            replace_contiguous<T>(it->run_ptr, it->inner_len, match,
                                  new_value);
        }
        else {
            replace_strided<T>(it->run_ptr, it->inner_len, it->inner_stride,
                               match, new_value);
        }
        elem_iter_next(it);
    }
}

}  // namespace

#endif /* FENNICK_KERNELS_REPLACE_WALK_H */
