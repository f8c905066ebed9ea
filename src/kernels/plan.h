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
};

/* Plans replacing `old_s` by `new_s` in `a` (borrowed), an array that
   replace_serves (kernels.h).  Raises ValueError when an integer type cannot hold a
   scalar exactly, `old` first. */
PlanOutcome plan_replace(PyArrayObject *a, const Scalar *old_s,
                         const Scalar *new_s, ReplacePlan *plan);

#endif /* FENNICK_KERNELS_PLAN_H */
