/*
 * The replacement kernels, for the module code.
 *
 * A call is planned with the interpreter lock held (which walk, which bit
 * patterns, whether `old` and `new` fit the element type) and then walked
 * with the lock released by the build of the walks chosen for this
 * processor at module initialisation.
 */
#ifndef FENNICK_KERNELS_KERNELS_H
#define FENNICK_KERNELS_KERNELS_H

#include "../numpy_api.h"
#include "../scalar/scalar.h"

struct WalkTable;

/* The walks chosen by kernels_init(); the baseline until then. */
extern const WalkTable *walk_table;

/* Chooses the widest build of the walks that this processor runs.  Call
   once, from module initialisation. */
void kernels_init(void);

/* The most builds of the walks one module can hold. */
#define KERNELS_MAX_TABLES 4

/* Fills `tables` with the builds this processor runs, widest first, up to
   `capacity`; returns how many. */
int kernels_usable(const WalkTable **tables, int capacity);

/* Who serves an array, for every entry point.  Read it afresh after
   converting a scalar: a __float__ may change the array's dtype. */
enum ArrayRoute {
    ROUTE_NUMPY,  /* no loop: fennick.slow's NumPy code */
    ROUTE_LOOPS,  /* the loops, on fennick.slow's behalf: bool, the other
                     integers of 8 to 64 bits, float16, and any of these
                     types in non-native byte order */
    ROUTE_DIRECT, /* the loops, called by replace itself: float64,
                     float32, and the C long and int, in native byte
                     order */
};

/* The route of `a`.  The loop that serves it is then chosen by its
   element's kind and size (plan.h), so a 32-bit long takes the 32-bit
   loop. */
ArrayRoute array_route(PyArrayObject *a);

/* Replaces `old_s` by `new_s` in `a` (borrowed; the caller holds a
   reference), an array the loops route, with the walks of `table` and
   the interpreter lock released during the walk.  Returns `a` with a new
   reference, or NULL with an exception set (a read-only array, an integer
   type that cannot hold a scalar exactly, or no memory for the copy an
   overlapping view needs), in which case nothing was written. */
PyObject *replace_numeric(PyArrayObject *a, const Scalar *old_s,
                          const Scalar *new_s, const WalkTable *table);

/* Replaces olds[i] by news[pairwise ? i : 0], for every i < n, in `a`
   (as replace_numeric), every element compared with the olds as it was
   before the call.  Returns `a` with a new reference, or NULL with an
   exception set before anything was written. */
PyObject *replace_many_numeric(PyArrayObject *a, npy_intp n,
                               const Scalar *olds, const Scalar *news,
                               bool pairwise, const WalkTable *table);

/* Olds and news that are all integers (a call's arrays of them read as
   int64, or its one new): olds[i] becomes news[pairwise ? i : 0]. */
struct IntegerPairs {
    npy_intp n;
    const int64_t *olds, *news;
    bool pairwise;
};

/* replace_many_numeric for `pairs`, planned straight from the integers
   with no scalar made of each where `a` holds integers and there are more
   than a few olds.  Returns as replace_many_numeric does, or sets
   *by_scalars and returns NULL with no exception set when that shortcut
   does not apply (another type, a few olds, or a value out of the type's
   range, which replace_many_numeric names). */
PyObject *replace_many_integers(PyArrayObject *a, const IntegerPairs &pairs,
                                const WalkTable *table, bool *by_scalars);

/* A new array equal to `a` (borrowed) copied in its memory order and then
   replaced as replace_many_numeric would, made in one pass with the
   copying walks of `table`'s width where one old or a few are compared a
   vector at a time; `a` is only read.  Returns a new reference, NULL with
   an exception set (replace_many_numeric's errors, raised before anything
   is allocated, or no memory), or Py_NotImplemented (a new reference) for
   more olds, which the caller copies and then replaces. */
PyObject *replaced_many_numeric(PyArrayObject *a, npy_intp n,
                                const Scalar *olds, const Scalar *news,
                                bool pairwise, const WalkTable *table);

/* A new array equal to `a` (borrowed) copied in its memory order and then
   replaced as replace_numeric would, made in one pass with the copying
   walks of `table`'s width, the interpreter lock released; `a` is only
   read, and may be read-only.  Returns a new reference, or NULL with an
   exception set (the errors of replace_numeric, raised before anything is
   allocated, or no memory).  With `into` (borrowed; NULL for a new
   array), a writeable array of `a`'s shape and dtype sharing no memory
   with it, the result is written there instead and `into` returned. */
PyObject *replaced_numeric(PyArrayObject *a, const Scalar *old_s,
                           const Scalar *new_s, const WalkTable *table,
                           PyArrayObject *into = NULL);

#endif /* FENNICK_KERNELS_KERNELS_H */
