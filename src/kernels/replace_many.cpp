/*
 * Running a planned replace_many call: the writeable test, then, with the
 * interpreter lock released, one walk of replace when that serves, the
 * lookup otherwise.  A view whose elements may share bytes is compared
 * against a copy of its bytes taken first.
 */
#include <string.h>

#include "kernels.h"
#include "many.h"

/* Walks `a` by `plan` (whose lookup it builds).  Returns 0, or -1 with
   MemoryError set before anything was written. */
static int
walk_many(PyArrayObject *a, ManyPlan *plan)
{
    ElemIter it;
    elem_iter_init(&it, a);
    npy_intp span;
    const bool overlap =
        elem_iter_may_overlap(&it, PyArray_ITEMSIZE(a), &span);
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
        status = walk_many(a, &many);
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
