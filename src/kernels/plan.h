/*
 * Planning a call: which walk serves the element type, and the bit
 * patterns it compares and writes.  Shared by the kernels' units only.
 */
#ifndef FENNICK_KERNELS_PLAN_H
#define FENNICK_KERNELS_PLAN_H

#include "../numpy_api.h"
#include "../scalar/scalar.h"
#include "walk.h"

struct ReplacePlan {
    WalkKind walk;
    MatchPattern pattern;
};

/* What the caller does next. */
enum PlanOutcome {
    PLAN_RAISE,      /* return NULL: an exception is set, nothing written */
    PLAN_WALK,       /* refuse a read-only array, else walk with `walk` and
                        `pattern` */
    PLAN_CHECK_ONLY, /* refuse a read-only array, as any call does, but
                        walk nothing: no element can match */
    PLAN_RETURN,     /* return the array at once (a NaN `old` in an
                        integer array: `new` is not even looked at) */
    PLAN_WALK_MANY,  /* refuse a read-only array, else walk several olds */
    PLAN_BY_SCALARS, /* a shortcut does not apply: plan from the scalars */
};

/* An array's elements as the planning sees them. */
struct ElementType {
    char kind;     /* 'b', 'i', 'u' or 'f' */
    npy_intp size; /* bytes */
    bool swapped;  /* stored in the other byte order */
};

ElementType element_type(PyArrayObject *a);

/* Which elements an `old` matches. */
enum OldClass {
    OLD_SKIP,    /* a NaN `old` for integers: none, and its `new` is not
                    looked at */
    OLD_NOTHING, /* none (a bool `old` other than 0 and 1) */
    OLD_BITS,    /* those whose bits are `bits` (never a float zero or
                    NaN) */
    OLD_ZERO,    /* float zeros of either sign (`bits`: the rounded `old`) */
    OLD_NAN,     /* every float NaN */
    OLD_NONZERO, /* every bool byte other than 0 */
};

/* Classifies `old_s` for elements of type `e`, with `bits` in the
   elements' own byte order; `name` names the scalar in an error.  Returns
   an OldClass, or -1 with ValueError set when an integer type cannot hold
   it exactly. */
int plan_old(const ElementType &e, const Scalar *old_s, ScalarName name,
             uint64_t *bits);

/* `new_s` as the bits to store in elements of type `e`.  Returns 0, or -1
   with ValueError set. */
int plan_new(const ElementType &e, const Scalar *new_s, ScalarName name,
             uint64_t *bits);

/* The bit walk for elements of `size` bytes: equal bits, or a masked
   test. */
WalkKind bits_walk(npy_intp size, bool masked);

/* The masked test of an OLD_ZERO, OLD_NAN or OLD_NONZERO class in `p`. */
void class_pattern(const ElementType &e, OldClass c, MatchPattern *p);

/* Plans replacing `old_s` by `new_s` in `a` (borrowed), an array the
   loops route (kernels.h).  Raises ValueError when an integer type cannot hold a
   scalar exactly, `old` first. */
PlanOutcome plan_replace(PyArrayObject *a, const Scalar *old_s,
                         const Scalar *new_s, ReplacePlan *plan);

/* Walks `a` (borrowed) by `plan` with the walks of `table`, the
   interpreter lock released.  Returns 0, or -1 with MemoryError set (no
   copy of an overlapping view could be made; nothing was written). */
int walk_planned(PyArrayObject *a, const ReplacePlan *plan,
                 const WalkTable *table);

/* `bits`, an element of `size` bytes, in the other byte order. */
uint64_t swap_bytes(uint64_t bits, npy_intp size);

/* All ones in the bits of an element of `size` bytes. */
uint64_t element_bits(npy_intp size);

/* A view whose elements may share bytes, copied out in C order twice:
   walk `replaced` with the news and `flipped` with every new's bits
   flipped (element_bits), and an element matched where they differ. */
struct OverlapCopy {
    ElemIter order; /* the view, in C order */
    npy_intp count, itemsize;
    char *replaced, *flipped; /* count elements each; one allocation */
};

/* Sets up `c` for `a` (borrowed).  Call with the interpreter lock held.
   Returns 0, or -1 with MemoryError set. */
int overlap_begin(OverlapCopy *c, PyArrayObject *a);

/* Copies the elements out, and sets `replaced` and `flipped` to walk the
   two copies.  Touches nothing but array memory and the copies. */
void overlap_gather(OverlapCopy *c, ElemIter *replaced, ElemIter *flipped);

/* Writes the matches found in the walked copies, in C order.  Touches
   nothing but array memory and the copies. */
void overlap_write(OverlapCopy *c);

void overlap_end(OverlapCopy *c);

/* Refuses a read-only array (ValueError "assignment destination is
   read-only").  Returns 0, or -1 with the exception set. */
int require_writeable(PyArrayObject *a);

#endif /* FENNICK_KERNELS_PLAN_H */
