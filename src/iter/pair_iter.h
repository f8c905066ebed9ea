/*
 * PairIter: visits the elements of two arrays of one shape together, a
 * source read and a destination written, as one-dimensional runs that
 * step through both at once.
 *
 * The axes are ordered by the destination's strides (a new array made in
 * the source's memory order, so their orders agree), smallest innermost,
 * and flipped where the destination's stride is negative, the source's
 * with them.  Axes of length 1 are dropped; an axis is merged into the one
 * inside it only where it lies inside it in both arrays.  The source may
 * have any strides, zero and negative ones too; it is only read.
 *
 * The walk:
 *     while (it.runs_done < it.runs_total) {
 *         for (k = 0; k < it.inner_len; k++)
 *             dst(k * it.dst_inner) = f(src(k * it.src_inner));
 *         pair_iter_next(&it);
 *     }
 */
#ifndef FENNICK_ITER_PAIR_ITER_H
#define FENNICK_ITER_PAIR_ITER_H

#include "elem_iter.h"

struct PairIter {
    int32_t outer_last;            /* last used outer entry; -1 for one run */
    npy_intp inner_len;            /* elements in one run */
    npy_intp src_inner, dst_inner; /* bytes between elements of a run */
    npy_intp runs_done;
    npy_intp runs_total;
    npy_intp outer_index[ELEM_ITER_MAX_OUTER];
    npy_intp outer_shape[ELEM_ITER_MAX_OUTER];
    npy_intp src_outer[ELEM_ITER_MAX_OUTER];
    npy_intp dst_outer[ELEM_ITER_MAX_OUTER];
    const char *src_ptr; /* first element of the current run */
    char *dst_ptr;
};

/* Fills `it` for `src` and `dst` (borrowed), of one shape.  Call with the
   interpreter lock held; never fails. */
void pair_iter_init(PairIter *it, PyArrayObject *src, PyArrayObject *dst);

/* Moves both run pointers to the next run and counts the finished one. */
static inline void
pair_iter_next(PairIter *it)
{
    for (int32_t c = it->outer_last; c >= 0; c--) {
        if (++it->outer_index[c] < it->outer_shape[c]) {
            it->src_ptr += it->src_outer[c];
            it->dst_ptr += it->dst_outer[c];
            break;
        }
        it->outer_index[c] = 0;
        it->src_ptr -= (it->outer_shape[c] - 1) * it->src_outer[c];
        it->dst_ptr -= (it->outer_shape[c] - 1) * it->dst_outer[c];
    }
    it->runs_done++;
}

#endif /* FENNICK_ITER_PAIR_ITER_H */
