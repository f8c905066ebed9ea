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
    int walk; /* a WalkKind */
    MatchPattern pattern;
};

enum PlanOutcome {
    PLAN_FAILED,   /* an exception is set; nothing may be written */
    PLAN_WALK,     /* walk the array with `walk` and `pattern` */
    PLAN_NO_MATCH, /* no element can match, but the array must be
                       writeable as for any other call */
    PLAN_NO_OP,    /* a NaN `old` in an integer array: return at once */
};

/* Whether plan_replace knows `a`'s element type. */
bool plan_serves(PyArrayObject *a);

/* Plans replacing `old_s` by `new_s` in `a` (borrowed), an array that
   plan_serves.  Raises ValueError when an integer type cannot hold a
   scalar exactly, `old` first. */
PlanOutcome plan_replace(PyArrayObject *a, const Scalar *old_s,
                         const Scalar *new_s, ReplacePlan *plan);

#endif /* FENNICK_KERNELS_PLAN_H */
