/*
 * ElemIter: visits every element of an ndarray of any layout, in place, as a
 * sequence of one-dimensional inner runs.
 *
 * The runs are as long as the memory allows: axes of length 1 are dropped,
 * and so are axes of stride 0, which only repeat the same elements (a
 * repeated element is replaced by its first visit, so every later visit
 * would find the same bytes and leave them so); negative strides are walked
 * from the lowest address, and axes that lie one inside the other merged,
 * so a contiguous array in any order (reversed, transposed, with length-1
 * axes) is one run, one item size apart.  Other layouts run along the axis
 * with the smallest stride while an odometer over the other axes moves the
 * run's start.  Strides are never negative, except in the ordered walk
 * below.  The record lives on the caller's stack; set-up needs the
 * interpreter lock, the walk does not.
 *
 * Invariant between runs, with `lowest` the address of the view's element
 * nearest the start of memory:
 *     run_ptr == lowest + sum(outer_index[j] * outer_stride[j]),
 *     0 <= outer_index[j] < outer_shape[j].
 *
 * The walk:
 *     while (it.runs_done < it.runs_total) {
 *         for (k = 0; k < it.inner_len; k++)
 *             visit(it.run_ptr + k * it.inner_stride);
 *         elem_iter_next(&it);
 *     }
 */
#ifndef FENNICK_ITER_ELEM_ITER_H
#define FENNICK_ITER_ELEM_ITER_H

#include <stdint.h>

#include "../numpy_api.h"

/* NumPy 2's largest number of dimensions; n dimensions use n - 1 entries. */
#define ELEM_ITER_MAX_OUTER 64

struct ElemIter {
    int32_t outer_last;    /* last used outer entry; -1 for one run */
    npy_intp inner_len;    /* elements in one run */
    npy_intp inner_stride; /* bytes between elements of a run */
    npy_intp runs_done;
    npy_intp runs_total;
    npy_intp outer_index[ELEM_ITER_MAX_OUTER];
    npy_intp outer_stride[ELEM_ITER_MAX_OUTER];
    npy_intp outer_shape[ELEM_ITER_MAX_OUTER];
    char *run_ptr; /* first element of the current run */
};

/* Fills `it` from `a` (borrowed).  Call with the interpreter lock held;
   never fails. */
void elem_iter_init(ElemIter *it, PyArrayObject *a);

/* Fills `it` to visit the elements of `a` (borrowed) in C order, the
   order of NumPy's own loops: axes of length 1 or stride 0 dropped (a
   repeated element compares and writes alike at each visit), axes that
   lie one inside the other merged, strides kept as they are, negative
   ones too.  Call with the interpreter lock held; never fails. */
void elem_iter_init_ordered(ElemIter *it, PyArrayObject *a);

/* Fills `it` to visit `count` elements of `itemsize` bytes one after the
   other from `data`. */
void elem_iter_of_buffer(ElemIter *it, char *data, npy_intp count,
                         npy_intp itemsize);

/* Whether elements of `itemsize` bytes on the walk of `it` (from
   elem_iter_init) may share bytes (as_strided can make such views): some
   axis then steps less than the bytes that the axes inside it span.  A
   few interleavings of elements that lie apart count as well.  Call
   before the walk. */
bool elem_iter_may_overlap(const ElemIter *it, npy_intp itemsize);

/* Moves run_ptr to the start of the next run and counts the finished one.
   The last outer entry varies fastest; when every entry wraps, run_ptr is
   back at the lowest element. */
static inline void
elem_iter_next(ElemIter *it)
{
    for (int32_t c = it->outer_last; c >= 0; c--) {
        if (++it->outer_index[c] < it->outer_shape[c]) {
            it->run_ptr += it->outer_stride[c];
            break;
        }
        it->outer_index[c] = 0;
        it->run_ptr -= (it->outer_shape[c] - 1) * it->outer_stride[c];
    }
    it->runs_done++;
}

#endif /* FENNICK_ITER_ELEM_ITER_H */
