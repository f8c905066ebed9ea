/*
 * Running a planned call: the writeable test, the walk with the
 * interpreter lock released, and the four native kernels, which differ only
 * in the element type that brings an array to them.
 */
#define NO_IMPORT_ARRAY
#include "kernels.h"
#include "plan.h"

bool
replace_serves(PyArrayObject *a)
{
    return plan_serves(a);
}

PyObject *
replace_numeric(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s,
                const WalkTable *table)
{
    ReplacePlan plan;
    const PlanOutcome outcome = plan_replace(a, old_s, new_s, &plan);
    if (outcome == PLAN_FAILED) {
        return NULL;
    }
    if (outcome != PLAN_NO_OP) {
        /* Refused even when nothing would match; errors in `old` and
           `new` come first. */
        if (!PyArray_ISWRITEABLE(a)
            && PyArray_FailUnlessWriteable(a, "assignment destination") < 0) {
            return NULL;
        }
    }
    if (outcome == PLAN_WALK) {
        ElemIter it;
        elem_iter_init(&it, a);
        PyThreadState *save = PyEval_SaveThread();
        table->walk[plan.walk](&it, &plan.pattern);
        PyEval_RestoreThread(save);
    }
    Py_INCREF(a);
    return (PyObject *)a;
}

PyObject *
replace_f64(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_numeric(a, old_s, new_s, walk_table);
}

PyObject *
replace_f32(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_numeric(a, old_s, new_s, walk_table);
}

PyObject *
replace_i64(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_numeric(a, old_s, new_s, walk_table);
}

PyObject *
replace_i32(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s)
{
    return replace_numeric(a, old_s, new_s, walk_table);
}
