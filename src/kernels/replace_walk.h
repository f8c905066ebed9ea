/*
 * The replacement loop shared by every element type:
 *
 *     a[i] = new where match(a[i])
 *
 * A replacer maps a 16-byte vector of elements to its replaced value: it
 * compares every lane, then chooses by mask with bitwise operations.  No
 * branch depends on an element, and every element is stored back (a
 * non-matching one with its own bits, so NaN payloads and signed zeros
 * survive).  Single elements go through the same replacer in lane 0, which
 * also keeps the compiler from turning the choice into a branch and a
 * conditional store.  Elements are read and written with memcpy and
 * unaligned vector loads and stores, so misaligned data is safe, and
 * nothing outside a run is touched.
 *
 * The build targets baseline x86-64, where every SSE2 instruction but a
 * load or store overwrites one of its operands, so a block is bound by how
 * many instructions it issues rather than by memory in cache; the
 * replacers below are shaped to issue as few as they can.
 */
#ifndef FENNICK_KERNELS_REPLACE_WALK_H
#define FENNICK_KERNELS_REPLACE_WALK_H

#include <stdint.h>
#include <string.h>

#include "../iter/elem_iter.h"

namespace {

/* Sixteen bytes of T, and sixteen bytes of the signed integers of T's
   width, which hold lane masks and the bits being chosen. */
template <typename T>
struct Vec16 {
    typedef T type __attribute__((vector_size(16)));
};
template <size_t Size>
struct SignedOfSize;
template <>
struct SignedOfSize<4> {
    typedef int32_t type;
};
template <>
struct SignedOfSize<8> {
    typedef int64_t type;
};
template <typename T>
struct Mask16 {
    typedef typename SignedOfSize<sizeof(T)>::type type
        __attribute__((vector_size(16)));
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

/* All ones in the lanes where x == y (IEEE equality for floats). */
template <typename T>
static inline typename Mask16<T>::type
equal_mask(typename Vec16<T>::type x, typename Vec16<T>::type y)
{
    return (typename Mask16<T>::type)(x == y);
}

/* SSE2 has no 64-bit integer equality (GCC falls back to scalar compares
   and moves): compare the 32-bit halves, then AND each half's mask with
   the other half's, so a lane is set only when both halves are equal.
   GCC before 12 spells the swap of halves differently from Clang. */
template <>
inline Mask16<int64_t>::type
equal_mask<int64_t>(Vec16<int64_t>::type x, Vec16<int64_t>::type y)
{
    typedef Mask16<int32_t>::type H;
    H e = (H)x == (H)y;
#if defined(__clang__) || __GNUC__ >= 12
    H s = __builtin_shufflevector(e, e, 1, 0, 3, 2);
#else
    H s = __builtin_shuffle(e, H{1, 0, 3, 2});
#endif
    return (Mask16<int64_t>::type)(e & s);
}

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

/* Replaces elements equal to `old` when equality means equal bits, as for
   integers and for floats that are normal or infinite: a matching lane
   holds exactly old's bits, so XOR with (old ^ new) turns it into new.
   One operation fewer than a blend. */
template <typename T>
struct FlipEqual {
    typedef typename Vec16<T>::type V;
    typedef typename Mask16<T>::type M;
    V old_v;
    M flip;

    FlipEqual(T old_value, T new_value)
        : old_v(splat<T>(old_value)),
          flip((M)splat<T>(old_value) ^ (M)splat<T>(new_value))
    {
    }
    V
    operator()(V x) const
    {
        return (V)((M)x ^ (equal_mask<T>(x, old_v) & flip));
    }
};

/* Replaces float elements equal to a zero or subnormal `old`: +0.0 and
   -0.0 (and, under denormals-are-zero, every subnormal) compare equal to
   it with different bits, so the lanes are blended. */
template <typename T>
struct SetEqual {
    typedef typename Vec16<T>::type V;
    V old_v;
    V new_v;

    SetEqual(T old_value, T new_value)
        : old_v(splat<T>(old_value)), new_v(splat<T>(new_value))
    {
    }
    V
    operator()(V x) const
    {
        return blend<T>(equal_mask<T>(x, old_v), new_v, x);
    }
};

/* Replaces NaN elements, whatever their sign or payload. */
template <typename T>
struct SetNan {
    typedef typename Vec16<T>::type V;
    typedef typename Mask16<T>::type M;
    V new_v;

    explicit SetNan(T new_value) : new_v(splat<T>(new_value)) {}
    V
    operator()(V x) const
    {
        return blend<T>((M)(x != x), new_v, x);
    }
};

/* Replaces the one element at `p`, in lane 0 of a vector. */
template <typename T, typename Replace>
static inline void
replace_one(char *p, const Replace &replace)
{
    typename Vec16<T>::type v = {};
    memcpy(&v, p, sizeof(T));
    v = replace(v);
    memcpy(p, &v, sizeof(T));
}

/* Replaces in `n` elements lying one item apart from `p`. */
template <typename T, typename Replace>
static inline void
replace_contiguous(char *p, npy_intp n, const Replace &replace)
{
    typedef typename Vec16<T>::type V;
    constexpr npy_intp kLanes = 16 / sizeof(T);
    constexpr npy_intp kBlock = 2 * kLanes;
    static_assert(kBlock * sizeof(T) == 2 * sizeof(V),
                  "a block is two 16-byte vectors");

    // two vectors per step; loads and stores are unaligned
    char *const blocks_end = p + n / kBlock * (npy_intp)(kBlock * sizeof(T));
    for (; p != blocks_end; p += kBlock * sizeof(T)) {
        V v0, v1;
        memcpy(&v0, p, sizeof(V));
        memcpy(&v1, p + sizeof(V), sizeof(V));
        v0 = replace(v0);
        v1 = replace(v1);
        memcpy(p, &v0, sizeof(V));
        memcpy(p + sizeof(V), &v1, sizeof(V));
    }
    // remaining elements one at a time
    char *const end = p + n % kBlock * (npy_intp)sizeof(T);
    for (; p != end; p += sizeof(T)) {
        replace_one<T>(p, replace);
    }
}

/* Replaces in `n` elements `stride` bytes apart (any sign, or zero).  Each
   element is loaded, replaced and stored on its own, in order; four are
   written out per step only to spread the loop's own counting and
   branching over more elements. */
template <typename T, typename Replace>
static inline void
replace_strided(char *p, npy_intp n, npy_intp stride,
                const Replace &replace)
{
    // four elements per step
    for (; n >= 4; n -= 4, p += 4 * stride) {
        replace_one<T>(p, replace);
        replace_one<T>(p + stride, replace);
        replace_one<T>(p + 2 * stride, replace);
        replace_one<T>(p + 3 * stride, replace);
    }
    // remaining elements one at a time
    for (; n > 0; n--, p += stride) {
        replace_one<T>(p, replace);
    }
}

/* Walks every run of `it`; the vector route is chosen once by the runs'
   common stride.  A run with stride minus the item size (a reversed view)
   covers contiguous memory too, and each element is replaced on its own,
   so it is walked forwards from its lowest address.  Touches nothing but
   array memory, so it runs without the interpreter lock. */
template <typename T, typename Replace>
static void
replace_walk(ElemIter *it, const Replace &replace)
{
    const npy_intp item = (npy_intp)sizeof(T);
    if (it->inner_stride == item) {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_contiguous<T>(it->run_ptr, it->inner_len, replace);
        }
    }
    else if (it->inner_stride == -item) {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            const npy_intp n = it->inner_len;
            char *lowest = n > 0 ? it->run_ptr - (n - 1) * item : it->run_ptr;
            replace_contiguous<T>(lowest, n, replace);
        }
    }
    else {
        for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
            replace_strided<T>(it->run_ptr, it->inner_len, it->inner_stride,
                               replace);
        }
    }
}

}  // namespace

#endif /* FENNICK_KERNELS_REPLACE_WALK_H */
