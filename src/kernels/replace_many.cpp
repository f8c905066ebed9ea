/*
 * Running a planned replace_many call: the writeable test, then, with the
 * interpreter lock released, one walk of replace when that serves, a few
 * olds a vector at a time or the lookup otherwise.  A view whose elements
 * may share bytes is walked on copies of its elements taken first.
 */

#include "kernels.h"
#include "many.h"

/* The patterns of `plan` for a vector walk, if there are few enough. */
static bool
few_patterns(const ManyPlan *plan, FewPatterns *few)
{
    if (plan->count > WALK_FEW) {
        return false;
    }
    few->count = (int)plan->count;
    few->has_class = plan->has_class;
    few->klass = plan->klass;
    few->same_new =
        !plan->has_class || plan->klass.new_bits == plan->new_bits[0];
    for (npy_intp i = 0; i < plan->count; i++) {
        few->old_bits[i] = plan->old_bits[i];
        few->new_bits[i] = plan->new_bits[i];
        few->same_new &= plan->new_bits[i] == plan->new_bits[0];
    }
    return true;
}

/* Walks `it` by `plan` with the walks of `table`, the interpreter lock
   released: a few olds a vector at a time, more through the plan's
   lookup, which it builds.  Returns 0, or -1 with MemoryError set before
   anything was written. */
static int
walk_patterns(ElemIter *it, ManyPlan *plan, const WalkTable *table)
{
    FewPatterns few;
    if (few_patterns(plan, &few)) {
        const int log2_size = plan->size == 1   ? 0
                              : plan->size == 2 ? 1
                              : plan->size == 4 ? 2
                                                : 3;
        PyThreadState *save = PyEval_SaveThread();
        table->walk_few[log2_size](it, &few);
        PyEval_RestoreThread(save);
        return 0;
    }
    if (many_lookup_build(plan) < 0) {
        return -1;
    }
    PyThreadState *save = PyEval_SaveThread();
    many_lookup_walk(it, plan, NULL);
    PyEval_RestoreThread(save);
    return 0;
}

/* Flips the bits of every new of `plan`, and drops its lookup, which
   holds the news as they were. */
static void
flip_news(ManyPlan *plan)
{
    const uint64_t bits = element_bits(plan->size);
    for (npy_intp i = 0; i < plan->count; i++) {
        plan->new_bits[i] ^= bits;
    }
    plan->klass.new_bits ^= bits;
    PyMem_RawFree(plan->lookup);
    plan->lookup = NULL;
}

/* Walks `a` by `plan` with the walks of `table`, a view whose elements
   may share bytes on copies of its elements (overlap.cpp).  Returns 0, or
   -1 with MemoryError set before anything was written. */
static int
walk_many(PyArrayObject *a, ManyPlan *plan, const WalkTable *table)
{
    ElemIter it;
    elem_iter_init(&it, a);
    if (!elem_iter_may_overlap(&it, PyArray_ITEMSIZE(a))) {
        return walk_patterns(&it, plan, table);
    }
    OverlapCopy c;
    if (overlap_begin(&c, a) < 0) {
        return -1;
    }
    ElemIter on_replaced, on_flipped;
    PyThreadState *save = PyEval_SaveThread();
    overlap_gather(&c, &on_replaced, &on_flipped);
    PyEval_RestoreThread(save);
    int status = walk_patterns(&on_replaced, plan, table);
    if (status == 0) {
        flip_news(plan);
        status = walk_patterns(&on_flipped, plan, table);
    }
    if (status == 0) {
        save = PyEval_SaveThread();
        overlap_write(&c);
        PyEval_RestoreThread(save);
    }
    overlap_end(&c);
    return status;
}

PyObject *
replace_many_numeric(PyArrayObject *a, npy_intp n, const Scalar *olds,
                     const Scalar *news, bool pairwise, const WalkTable *table)
{
    ReplacePlan single;
    ManyPlan many = {};
    const PlanOutcome outcome =
        plan_many(a, n, olds, news, pairwise, &single, &many);
    int status = outcome == PLAN_RAISE ? -1 : 0;
    if (status == 0 && outcome != PLAN_RETURN) {
        status = require_writeable(a);
    }
    if (status == 0 && outcome == PLAN_WALK) {
        status = walk_planned(a, &single, table);
    }
    if (status == 0 && outcome == PLAN_WALK_MANY) {
        status = walk_many(a, &many, table);
    }
    if (outcome == PLAN_WALK_MANY) {
        many_plan_free(&many);
    }
    if (status < 0) {
        return NULL;
    }
    Py_INCREF(a);
    return (PyObject *)a;
}
