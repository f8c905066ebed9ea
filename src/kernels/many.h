/*
 * Several olds in one pass: the plan of a replace_many call, and the walks
 * that carry it out.  Shared by the kernels' units only.
 *
 * Every old becomes exact bit patterns of the element (a float zero both
 * of its patterns) and at most one masked class (every float NaN, or every
 * nonzero bool), each with its new.  Patterns are unique and never match
 * the same element, so each element takes at most one new, chosen by its
 * value before the call.
 */
#ifndef FENNICK_KERNELS_MANY_H
#define FENNICK_KERNELS_MANY_H

#include "plan.h"

struct IntegerPairs; /* kernels.h */

/* How a planned call is walked, chosen once by plan_many (overlapping
   views aside, which the scalar lookup walk always serves). */
enum ManyWalk {
    MANY_FEW,         /* up to WALK_FEW patterns: each compared a vector */
    MANY_COMPARED,    /* up to WALK_COMPARED: the prefilter of two ranges,
                         then each compared a vector */
    MANY_FILTERED,    /* more: the same prefilter, then the lookup */
    MANY_DENSE,       /* the same through a dense table (32, 64 bits) */
    MANY_WHOLE_TABLE, /* every value of an 8- or 16-bit type matches */
    MANY_BYTE_SET,    /* more for 8 bits, where the target shuffles bytes:
                         the set of their values in registers */
};

struct ManyPlan {
    npy_intp size;      /* element bytes */
    npy_intp count;     /* exact patterns */
    uint64_t *old_bits; /* count of them, in the elements' own byte order,
                           in the order the olds came; owned */
    uint64_t *new_bits; /* new_bits[i] replaces old_bits[i]; owned */
    bool has_class;
    MatchPattern klass; /* the masked class's test and new_bits */
    void *lookup;       /* the patterns' lookup once built, or NULL; owned */
    ManyWalk walk;
    uint64_t lo[2], span[2]; /* the prefilter's ranges (ManyFilter) */
    void *dense;             /* MANY_DENSE's table, or NULL; owned */
};

/* Plans replacing olds[i] by news[pairwise ? i : 0] (i < n) in `a`.  Old
   errors come before new errors, and both before a conflict (two olds of
   the same elements with different news).  The walk is chosen for the walks
   of `walks`, which will run.  Returns PLAN_WALK with
   `single` filled when one walk of replace does the job, PLAN_WALK_MANY
   with `many` filled (free it with many_plan_free), or another outcome. */
PlanOutcome plan_many(PyArrayObject *a, npy_intp n, const Scalar *olds,
                      const Scalar *news, bool pairwise,
                      const WalkTable *walks, ReplacePlan *single,
                      ManyPlan *many);

/* Plans `pairs` for `a` with its lookup filled straight from them (see
   replace_many_integers).  Returns as plan_many does, or PLAN_BY_SCALARS
   when that shortcut does not apply. */
PlanOutcome plan_many_integers(PyArrayObject *a, const IntegerPairs &pairs,
                               const WalkTable *walks, ManyPlan *many);

void many_plan_free(ManyPlan *plan);

/* 0, 1, 2 or 3 for elements of 1, 2, 4 or 8 bytes: the index of the walks
   and copying walks that go by element size. */
static inline int
log2_size_of(npy_intp size)
{
    return size == 1 ? 0 : size == 2 ? 1 : size == 4 ? 2 : 3;
}

/* Whether every pattern of `plan`, and its class, takes new_bits[0]. */
bool many_same_new(const ManyPlan *plan);

/* The patterns of `plan`, which chose MANY_FEW or MANY_COMPARED, for the
   walks that compare each. */
void many_few_patterns(const ManyPlan *plan, FewPatterns *few);

/* An empty lookup for up to `capacity` patterns of `size` bytes: a table
   over every value for 8- and 16-bit elements (3 * 2**16 bytes at most),
   a hash of the patterns for wider ones (under 9 slots of 16 bytes a
   pattern, 4 more and a header).  Returns NULL when memory runs out. */
void *lookup_new(npy_intp size, npy_intp capacity);

/* Adds `old_bits` -> `new_bits` unless `old_bits` is there already, in
   which case *known gets its new.  Returns 1 when added, 0 when there
   already, -1 when the lookup holds its capacity already. */
int lookup_add(void *lookup, npy_intp size, uint64_t old_bits,
               uint64_t new_bits, uint64_t *known);

/* Adds the masked class `klass` (a table folds it in; a hash tests it
   apart and ignores this). */
void lookup_add_class(void *lookup, npy_intp size, const MatchPattern &klass);

/* Whether every value of the element type matches in `lookup` (a table
   of 8 or 16 bits; never for a hash). */
bool lookup_whole(const void *lookup, npy_intp size);

/* Writes the `count` patterns of `lookup` into `sorted` in increasing
   order, when it is a table of just those (no masked class folded in) and
   they are enough of its values for a scan to beat a sort.  Returns false,
   writing nothing, otherwise (and for a hash, or no lookup: NULL). */
bool lookup_sorted(const void *lookup, npy_intp size, uint64_t *sorted,
                   npy_intp count);

/* Builds the lookup of `plan` from its patterns and class, if it has none
   yet.  Call with the interpreter lock held.  Returns 0, or -1 with
   MemoryError set. */
int many_lookup_build(ManyPlan *plan);

/* Replaces through the lookup, element by element. */
void many_lookup_walk(ElemIter *it, const ManyPlan *plan);

/* A dense table of the values from `lo` to `lo + span` for the patterns
   of `plan` (which lie there), or NULL when memory runs out.  It takes
   9 * (span + 2) bytes and a header. */
void *dense_new(const ManyPlan *plan, uint64_t lo, uint64_t span);

/* The prefilter of `plan` for the vector walks (plan->walk is
   MANY_FILTERED, MANY_DENSE or MANY_COMPARED; `few` is NULL). */
ManyFilter many_filter(const ManyPlan *plan);

#endif /* FENNICK_KERNELS_MANY_H */
