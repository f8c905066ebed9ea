/*
 * Set-up of the all-elements iterator: makes the runs as long as the
 * memory allows.  On a copy of the shape and strides, it drops axes of
 * length 1 or stride 0, walks axes with a negative stride from their lowest
 * address,
 * orders the axes by stride and merges each axis into the next when one
 * lies inside the other (stride[outer] == shape[inner] * stride[inner]).
 * The runs then go along the axis with the smallest stride, and an
 * odometer over the rest, next-smallest fastest, moves the run's start.
 * Every element is still visited once per occurrence in the view; only the
 * order of the visits changes, and each element is replaced on its own.
 * The ordered set-up keeps the view's own order instead (C order, strides
 * as they are), for the views whose elements share bytes, where the order
 * of the writes shows.
 */
#include "elem_iter.h"

/* Merges each of the `n` axes (len, step) into the one before it where
   that axis lies inside it (step[i] == len[i - 1] * step[i - 1], the
   axes innermost first), keeping their order.  Returns how many are
   left. */
static int
merge_axes(npy_intp *len, npy_intp *step, int n)
{
    if (n == 0) {
        return 0;
    }
    int kept = 0;
    for (int i = 1; i < n; i++) {
        npy_intp reach;
        if (!__builtin_mul_overflow(len[kept], step[kept], &reach)
            && step[i] == reach) {
            len[kept] *= len[i];
        }
        else {
            kept++;
            len[kept] = len[i];
            step[kept] = step[i];
        }
    }
    return kept + 1;
}

/* Fills the runs and the odometer of `it` from the `n` axes (len, step),
   innermost first, starting at `data`. */
static void
set_axes(ElemIter *it, char *data, const npy_intp *len, const npy_intp *step,
         int n)
{
    it->run_ptr = data;
    it->runs_done = 0;
    it->runs_total = 1;
    it->outer_last = n > 0 ? n - 2 : -1;
    if (n == 0) {
        /* One element (a 0-d array, or every axis of length 1 or
           stride 0). */
        it->inner_len = 1;
        it->inner_stride = 0;
        return;
    }
    it->inner_len = len[0];
    it->inner_stride = step[0];
    /* The last outer entry varies fastest: the axis just above the run. */
    for (int i = 1; i < n; i++) {
        const int j = n - 1 - i;
        it->outer_index[j] = 0;
        it->outer_stride[j] = step[i];
        it->outer_shape[j] = len[i];
        it->runs_total *= len[i];
    }
}

/* Sets `it` to no runs at all, for an array with an axis of length 0: a
   shape such as (2**40, 0) must not spin through empty runs. */
static void
set_empty(ElemIter *it, PyArrayObject *a)
{
    it->runs_done = 0;
    it->runs_total = 0;
    it->outer_last = -1;
    it->inner_len = 0;
    it->inner_stride = PyArray_ITEMSIZE(a);
    it->run_ptr = PyArray_BYTES(a);
}

void
elem_iter_init(ElemIter *it, PyArrayObject *a)
{
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_DIMS(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    char *data = PyArray_BYTES(a);

    /* The axes that matter, flipped to positive strides, sorted by stride
       (insertion sort: stable, and n is at most 64). */
    npy_intp len[ELEM_ITER_MAX_OUTER + 1];
    npy_intp step[ELEM_ITER_MAX_OUTER + 1];
    int n = 0;
    for (int d = 0; d < ndim; d++) {
        if (shape[d] == 0) {
            set_empty(it, a);
            return;
        }
        if (shape[d] == 1 || strides[d] == 0) {
            continue;
        }
        npy_intp s = strides[d];
        if (s < 0) {
            /* In unsigned arithmetic: as_strided can make a view whose
               reach overflows a signed size, and the pointer it gives is
               the same. */
            const uintptr_t back = 0 - (uintptr_t)s;
            data -= (uintptr_t)(shape[d] - 1) * back;
            s = (npy_intp)back;
        }
        int i = n++;
        for (; i > 0 && step[i - 1] > s; i--) {
            len[i] = len[i - 1];
            step[i] = step[i - 1];
        }
        len[i] = shape[d];
        step[i] = s;
    }
    set_axes(it, data, len, step, merge_axes(len, step, n));
}

void
elem_iter_init_ordered(ElemIter *it, PyArrayObject *a)
{
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_DIMS(a);
    const npy_intp *strides = PyArray_STRIDES(a);

    /* The axes that matter, innermost first, strides as they are. */
    npy_intp len[ELEM_ITER_MAX_OUTER + 1];
    npy_intp step[ELEM_ITER_MAX_OUTER + 1];
    int n = 0;
    for (int d = ndim - 1; d >= 0; d--) {
        if (shape[d] == 0) {
            set_empty(it, a);
            return;
        }
        if (shape[d] != 1 && strides[d] != 0) {
            len[n] = shape[d];
            step[n] = strides[d];
            n++;
        }
    }
    set_axes(it, PyArray_BYTES(a), len, step, merge_axes(len, step, n));
}

void
elem_iter_of_buffer(ElemIter *it, char *data, npy_intp count,
                    npy_intp itemsize)
{
    set_axes(it, data, &count, &itemsize, count == 1 ? 0 : 1);
    it->runs_total = count == 0 ? 0 : 1;
}

bool
elem_iter_may_overlap(const ElemIter *it, npy_intp itemsize)
{
    if (it->runs_total == 0) {
        return false;
    }
    /* The axes from the smallest stride up: the run, then the outer
       entries from the last.  Each must step past the bytes spanned so
       far.  A span past the address space cannot be a real view: it is
       kept at the largest value. */
    bool overlap = false;
    npy_intp bytes = itemsize;
    for (int32_t j = it->outer_last + 1; j >= 0; j--) {
        const bool run = j == it->outer_last + 1;
        const npy_intp stride = run ? it->inner_stride : it->outer_stride[j];
        const npy_intp extent = (run ? it->inner_len : it->outer_shape[j]) - 1;
        if (extent == 0) {
            continue;
        }
        overlap |= stride < bytes;
        npy_intp reach;
        if (__builtin_mul_overflow(stride, extent, &reach)
            || __builtin_add_overflow(bytes, reach, &bytes)) {
            bytes = NPY_MAX_INTP;
        }
    }
    return overlap;
}
