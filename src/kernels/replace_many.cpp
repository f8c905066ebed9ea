/*
 * Running a planned replace_many call: the writeable test, then, with the
 * interpreter lock released, one walk of replace when that serves, the
 * lookup otherwise.  A view whose elements may share bytes is compared
 * against a copy of its bytes taken first.
 */
#include <string.h>

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

/* Walks `a` by `plan` with the walks of `table`, as the plan chose: a few
   olds a vector at a time, more behind the vector prefilter, a whole
   recoding from its table; a view whose elements may share bytes through
   the lookup (built here for a few olds), compared with a copy.  Returns
   0, or -1 with MemoryError set before anything was written. */
static int
walk_many(PyArrayObject *a, ManyPlan *plan, const WalkTable *table)
{
    ElemIter it;
    elem_iter_init(&it, a);
    npy_intp span;
    const bool overlap =
        elem_iter_may_overlap(&it, PyArray_ITEMSIZE(a), &span);
    const int log2_size = plan->size == 1   ? 0
                          : plan->size == 2 ? 1
                          : plan->size == 4 ? 2
                                            : 3;
    FewPatterns few;
    if (!overlap && plan->walk == MANY_FEW && few_patterns(plan, &few)) {
        PyThreadState *save = PyEval_SaveThread();
        table->walk_few[log2_size](&it, &few);
        PyEval_RestoreThread(save);
        return 0;
    }
    if (!overlap
        && (plan->walk == MANY_FILTERED || plan->walk == MANY_DENSE)) {
        const ManyFilter filter = many_filter(plan);
        const int walk = plan->walk == MANY_DENSE ? 2 + log2_size : log2_size;
        PyThreadState *save = PyEval_SaveThread();
        table->walk_many[walk](&it, &filter);
        PyEval_RestoreThread(save);
        return 0;
    }
    if (many_lookup_build(plan) < 0) {
        return -1;
    }
    char *before = NULL;
    if (overlap) {
        before = (char *)PyMem_RawMalloc((size_t)span);
        if (before == NULL) {
            PyErr_NoMemory();
            return -1;
        }
    }
    PyThreadState *save = PyEval_SaveThread();
    if (before != NULL) {
        memcpy(before, it.run_ptr, (size_t)span);
    }
    many_lookup_walk(&it, plan, before);
    PyEval_RestoreThread(save);
    PyMem_RawFree(before);
    return 0;
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
        ElemIter it;
        elem_iter_init(&it, a);
        status = walk_planned(&it, PyArray_ITEMSIZE(a), &single, table);
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
