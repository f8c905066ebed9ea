/*
 * Running a planned call: the writeable test, then the walk with the
 * interpreter lock released.  A view whose elements may share bytes is
 * walked element by element against a copy of its bytes taken first, so
 * that every element is compared as it was before the call.
 */
#include <string.h>

#include "kernels.h"
#include "plan.h"

int
walk_planned(ElemIter *it, npy_intp itemsize, const ReplacePlan *plan,
             const WalkTable *table)
{
    npy_intp span;
    if (!elem_iter_may_overlap(it, itemsize, &span)) {
        PyThreadState *save = PyEval_SaveThread();
        table->walk[plan->walk](it, &plan->pattern);
        PyEval_RestoreThread(save);
        return 0;
    }
    char *before = (char *)PyMem_RawMalloc((size_t)span);
    if (before == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    PyThreadState *save = PyEval_SaveThread();
    memcpy(before, it->run_ptr, (size_t)span);
    table->walk_copy[plan->walk](it, &plan->pattern, before);
    PyEval_RestoreThread(save);
    PyMem_RawFree(before);
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
    if (outcome == PLAN_WALK) {
        ElemIter it;
        elem_iter_init(&it, a);
        if (walk_planned(&it, PyArray_ITEMSIZE(a), &plan, table) < 0) {
            return NULL;
        }
    }
    Py_INCREF(a);
    return (PyObject *)a;
}
