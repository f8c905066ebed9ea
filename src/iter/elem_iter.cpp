/*
 * Set-up of the all-elements iterator: picks the one-run layout for arrays
 * contiguous in exactly one order, and otherwise the axis with the smallest
 * stride for the runs and an odometer over the rest.
 */
#define NO_IMPORT_ARRAY
#include "elem_iter.h"

void
elem_iter_init(ElemIter *it, PyArrayObject *a)
{
    const int ndim = PyArray_NDIM(a);
    const npy_intp *shape = PyArray_DIMS(a);
    const npy_intp *strides = PyArray_STRIDES(a);
    const bool c_contig = PyArray_CHKFLAGS(a, NPY_ARRAY_C_CONTIGUOUS);
    const bool f_contig = PyArray_CHKFLAGS(a, NPY_ARRAY_F_CONTIGUOUS);

    it->runs_done = 0;
    it->runs_total = 1;
    it->inner_axis = 0;
    it->axis_cursor = 0;
    it->outer_last = -1;
    it->run_ptr = PyArray_BYTES(a);

    if (ndim == 0) {
        it->inner_len = 1;
        it->inner_stride = 0;
        return;
    }
    if (ndim == 1) {
        it->inner_len = shape[0];
        it->inner_stride = strides[0];
        return;
    }
    if (c_contig != f_contig) {
        /* Elements lie one item size apart in C or Fortran order, whatever
           stride an axis of length 1 carries. */
        it->inner_len = PyArray_MultiplyList(shape, ndim);
        it->inner_stride = PyArray_ITEMSIZE(a);
        return;
    }

    /* General layout.  Strict comparison keeps the lower axis on ties;
       a negative or zero stride beats any positive one. */
    int inner = 0;
    for (int d = 1; d < ndim; d++) {
        if (strides[d] < strides[inner]) {
            inner = d;
        }
    }
    it->inner_axis = inner;
    it->inner_len = shape[inner];
    it->inner_stride = strides[inner];

    /* An empty array has no runs at all: a shape such as (2**40, 0) would
       otherwise spin through 2**40 empty runs with the lock released, and
       the product of the other axes could overflow. */
    bool empty = false;
    for (int d = 0; d < ndim; d++) {
        empty |= shape[d] == 0;
    }
    int j = 0;
    for (int d = 0; d < ndim; d++) {
        if (d == inner) {
            continue;
        }
        it->outer_index[j] = 0;
        it->outer_stride[j] = strides[d];
        it->outer_shape[j] = shape[d];
        it->runs_total *= empty ? 0 : shape[d];
        j++;
    }
    it->outer_last = ndim - 2;
}
