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
 */
#include "elem_iter.h"

void
elem_iter_init(ElemIter *it, PyArrayObject *a)
{
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_DIMS(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    char *data = PyArray_BYTES(a);

    it->runs_done = 0;
    it->runs_total = 1;
    it->outer_last = -1;

    /* The axes that matter, flipped to positive strides, sorted by stride
       (insertion sort: stable, and n is at most 64). */
    npy_intp len[ELEM_ITER_MAX_OUTER + 1];
    npy_intp step[ELEM_ITER_MAX_OUTER + 1];
    int n = 0;
    for (int d = 0; d < ndim; d++) {
        if (shape[d] == 0) {
            /* An empty array has no runs at all: a shape such as
               (2**40, 0) must not spin through empty runs. */
            it->runs_total = 0;
            it->inner_len = 0;
            it->inner_stride = PyArray_ITEMSIZE(a);
            it->run_ptr = data;
            return;
        }
        if (shape[d] == 1 || strides[d] == 0) {
            continue;
        }
        npy_intp s = strides[d];
        if (s < 0) {
            data += (shape[d] - 1) * s;
            s = -s;
        }
        int i = n++;
        for (; i > 0 && step[i - 1] > s; i--) {
            len[i] = len[i - 1];
            step[i] = step[i - 1];
        }
        len[i] = shape[d];
        step[i] = s;
    }
    it->run_ptr = data;
    if (n == 0) {
        /* One element (a 0-d array, or every axis of length 1 or
           stride 0). */
        it->inner_len = 1;
        it->inner_stride = 0;
        return;
    }

    /* Merge each axis into the run below it where memory allows. */
    int kept = 0;
    for (int i = 1; i < n; i++) {
        if (step[i] == len[kept] * step[kept]) {
            len[kept] *= len[i];
        }
        else {
            kept++;
            len[kept] = len[i];
            step[kept] = step[i];
        }
    }
    n = kept + 1;

    it->inner_len = len[0];
    it->inner_stride = step[0];
    /* The last outer entry varies fastest: the axis just above the run. */
    it->outer_last = n - 2;
    for (int i = 1; i < n; i++) {
        const int j = n - 1 - i;
        it->outer_index[j] = 0;
        it->outer_stride[j] = step[i];
        it->outer_shape[j] = len[i];
        it->runs_total *= len[i];
    }
}

bool
elem_iter_may_overlap(const ElemIter *it, npy_intp itemsize, npy_intp *span)
{
    *span = 0;
    if (it->runs_total == 0) {
        return false;
    }
    /* The axes from the smallest stride up: the run, then the outer
       entries from the last.  Each must step past the bytes spanned so
       far.  A span past the address space cannot be a real view: it is
       kept at the largest value, which fails the allocation of a copy. */
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
    *span = bytes;
    return overlap;
}
