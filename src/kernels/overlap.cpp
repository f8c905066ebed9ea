/*
 * Views whose elements share bytes (as_strided makes them), replaced as
 * NumPy's `b = v.copy(); v[b == old] = new` replaces them: every element
 * compared as it was before the call, then the matches written in C order,
 * so that where two matches share bytes the later one's end up there.
 *
 * The elements are copied out in C order, twice, and each copy walked by
 * the ordinary walks of the width, one with the news and one with every
 * new's bits flipped: an element matched exactly where the two copies
 * differ, whatever its new (also a new equal to the element).  Memory and
 * time go with the elements, not with the bytes the view spans.
 */
#include <string.h>

#include "plan.h"

/* All ones in the bits of an element of `size` bytes. */
uint64_t
element_bits(npy_intp size)
{
    return size == 8 ? ~(uint64_t)0 : ((uint64_t)1 << (8 * size)) - 1;
}

int
overlap_begin(OverlapCopy *c, PyArrayObject *a)
{
    c->itemsize = PyArray_ITEMSIZE(a);
    elem_iter_init_ordered(&c->order, a);
    c->count = c->order.runs_total * c->order.inner_len;
    npy_intp bytes;
    if (__builtin_mul_overflow(c->count, 2 * c->itemsize, &bytes)) {
        PyErr_NoMemory();
        return -1;
    }
    c->replaced = (char *)PyMem_RawMalloc(bytes > 0 ? (size_t)bytes : 1);
    if (c->replaced == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    c->flipped = c->replaced + c->count * c->itemsize;
    return 0;
}

/* Copies each element, in C order, to `to`. */
static void
gather(ElemIter it, npy_intp itemsize, char *to)
{
    for (; it.runs_done < it.runs_total; elem_iter_next(&it)) {
        const char *p = it.run_ptr;
        for (npy_intp k = 0; k < it.inner_len; k++, p += it.inner_stride) {
            memcpy(to, p, (size_t)itemsize);
            to += itemsize;
        }
    }
}

void
overlap_gather(OverlapCopy *c, ElemIter *replaced, ElemIter *flipped)
{
    gather(c->order, c->itemsize, c->replaced);
    memcpy(c->flipped, c->replaced, (size_t)(c->count * c->itemsize));
    elem_iter_of_buffer(replaced, c->replaced, c->count, c->itemsize);
    elem_iter_of_buffer(flipped, c->flipped, c->count, c->itemsize);
}

void
overlap_write(OverlapCopy *c)
{
    const npy_intp size = c->itemsize;
    const char *r = c->replaced, *f = c->flipped;
    ElemIter it = c->order;
    for (; it.runs_done < it.runs_total; elem_iter_next(&it)) {
        char *p = it.run_ptr;
        for (npy_intp k = 0; k < it.inner_len; k++, p += it.inner_stride) {
            if (memcmp(r, f, (size_t)size) != 0) {
                memcpy(p, r, (size_t)size);
            }
            r += size;
            f += size;
        }
    }
}

void
overlap_end(OverlapCopy *c)
{
    PyMem_RawFree(c->replaced);
    c->replaced = c->flipped = NULL;
}
