/*
 * Running a planned call: the writeable test, then the walk with the
 * interpreter lock released.  A view whose elements may share bytes is
 * walked on copies of its elements taken first (overlap.cpp), so that
 * every element is compared as it was before the call.
 */
#include "kernels.h"
#include "plan.h"

int
walk_planned(PyArrayObject *a, const ReplacePlan *plan, const WalkTable *table)
{
    ElemIter it;
    elem_iter_init(&it, a);
    const WalkFunc walk = table->walk[plan->walk];
    if (!elem_iter_may_overlap(&it, PyArray_ITEMSIZE(a))) {
        PyThreadState *save = PyEval_SaveThread();
        walk(&it, &plan->pattern);
        PyEval_RestoreThread(save);
        return 0;
    }
    OverlapCopy c;
    if (overlap_begin(&c, a) < 0) {
        return -1;
    }
    MatchPattern flipped = plan->pattern;
    flipped.new_bits ^= element_bits(c.itemsize);
    PyThreadState *save = PyEval_SaveThread();
    ElemIter on_replaced, on_flipped;
    overlap_gather(&c, &on_replaced, &on_flipped);
    walk(&on_replaced, &plan->pattern);
    walk(&on_flipped, &flipped);
    overlap_write(&c);
    PyEval_RestoreThread(save);
    overlap_end(&c);
    return 0;
}

int
require_writeable(PyArrayObject *a)
{
    if (PyArray_ISWRITEABLE(a)) {
        return 0;
    }
    return PyArray_FailUnlessWriteable(a, "assignment destination");
}

PyObject *
replace_numeric(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s,
                const WalkTable *table)
{
    ReplacePlan plan;
    const PlanOutcome outcome = plan_replace(a, old_s, new_s, &plan);
    if (outcome == PLAN_RAISE) {
        return NULL;
    }
    if (outcome != PLAN_RETURN) {
        /* Refused even when nothing would match; errors in `old` and
           `new` come first. */
        if (require_writeable(a) < 0) {
            return NULL;
        }
    }
    if (outcome == PLAN_WALK && walk_planned(a, &plan, table) < 0) {
        return NULL;
    }
    Py_INCREF(a);
    return (PyObject *)a;
}
