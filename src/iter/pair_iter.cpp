/*
 * Set-up of the two-array iterator: the axes that matter, in the
 * destination's order of strides, merged where both arrays allow.
 */
#include "pair_iter.h"

/* One axis of both arrays. */
struct PairAxis {
    npy_intp len, src, dst;
};

/* Whether an axis of stride `outer` steps over the whole of an axis of
   `inner_len` elements `inner` bytes apart, so the two can be one. */
static bool
lies_outside(npy_intp outer, npy_intp inner_len, npy_intp inner)
{
    npy_intp reach;
    return !__builtin_mul_overflow(inner_len, inner, &reach) && outer == reach;
}

void
pair_iter_init(PairIter *it, PyArrayObject *src, PyArrayObject *dst)
{
    const int ndim = PyArray_NDIM(dst);
    const npy_intp *shape = PyArray_DIMS(dst);
    const npy_intp *ss = PyArray_STRIDES(src);
    const npy_intp *ds = PyArray_STRIDES(dst);
    const char *sp = PyArray_BYTES(src);
    char *dp = PyArray_BYTES(dst);

    it->runs_done = 0;
    it->runs_total = 1;
    it->outer_last = -1;
    it->inner_len = 1;
    it->src_inner = 0;
    it->dst_inner = 0;

    /* Flipped to positive destination strides, sorted by them (insertion
       sort: stable, and n is at most 64). */
    PairAxis ax[ELEM_ITER_MAX_OUTER + 1];
    int n = 0;
    for (int d = 0; d < ndim; d++) {
        if (shape[d] == 0) {
            it->runs_total = 0;
            it->src_ptr = sp;
            it->dst_ptr = dp;
            return;
        }
        if (shape[d] == 1) {
            continue;
        }
        PairAxis a = {shape[d], ss[d], ds[d]};
        if (a.dst < 0) {
            /* In unsigned arithmetic, as elem_iter_init does. */
            dp += (uintptr_t)(a.len - 1) * (uintptr_t)a.dst;
            sp += (uintptr_t)(a.len - 1) * (uintptr_t)a.src;
            a.dst = (npy_intp)(0 - (uintptr_t)a.dst);
            a.src = (npy_intp)(0 - (uintptr_t)a.src);
        }
        int i = n++;
        for (; i > 0 && ax[i - 1].dst > a.dst; i--) {
            ax[i] = ax[i - 1];
        }
        ax[i] = a;
    }
    int kept = 0;
    for (int i = 1; i < n; i++) {
        if (lies_outside(ax[i].dst, ax[kept].len, ax[kept].dst)
            && lies_outside(ax[i].src, ax[kept].len, ax[kept].src)) {
            ax[kept].len *= ax[i].len;
        }
        else {
            ax[++kept] = ax[i];
        }
    }
    n = n == 0 ? 0 : kept + 1;
    it->src_ptr = sp;
    it->dst_ptr = dp;
    if (n == 0) {
        return; /* one element */
    }
    it->inner_len = ax[0].len;
    it->src_inner = ax[0].src;
    it->dst_inner = ax[0].dst;
    it->outer_last = n - 2;
    /* The last outer entry varies fastest: the axis just above the run. */
    for (int i = 1; i < n; i++) {
        const int j = n - 1 - i;
        it->outer_index[j] = 0;
        it->outer_shape[j] = ax[i].len;
        it->src_outer[j] = ax[i].src;
        it->dst_outer[j] = ax[i].dst;
        it->runs_total *= ax[i].len;
    }
}
