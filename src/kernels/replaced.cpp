/*
 * The copying replace: a new array in the memory order of the source,
 * written in one pass from the source with the interpreter lock released,
 * by the copying walks of the same width as the in-place walks chosen.
 */
#include "copy.h"
#include "kernels.h"
#include "many.h"
#include "plan.h"

/* A destination of at least this many bytes is streamed past the cache,
   where it would not stay anyway and would first be read into it. */
static const npy_intp kStreamBytes = (npy_intp)16 << 20;

PyObject *
replaced_numeric(PyArrayObject *a, const Scalar *old_s, const Scalar *new_s,
                 const WalkTable *table, PyArrayObject *into)
{
    ReplacePlan plan;
    const PlanOutcome outcome = plan_replace(a, old_s, new_s, &plan);
    if (outcome == PLAN_RAISE) {
        return NULL;
    }
    PyArrayObject *b =
        into != NULL
            ? (PyArrayObject *)Py_NewRef(into)
            : (PyArrayObject *)PyArray_NewLikeArray(a, NPY_KEEPORDER, NULL, 0);
    if (b == NULL) {
        return NULL;
    }
    if (outcome != PLAN_WALK) {
        /* Nothing can match: a plain copy. */
        if (PyArray_CopyInto(b, a) < 0) {
            Py_DECREF(b);
            return NULL;
        }
        return (PyObject *)b;
    }
    PairIter it;
    pair_iter_init(&it, a, b);
    const CopyFunc copy = table->copy->copy[plan.walk];
    /* An `into` is a part of a larger array made for the call. */
    const bool stream = into != NULL || PyArray_NBYTES(b) >= kStreamBytes;
    PyThreadState *save = PyEval_SaveThread();
    copy(&it, &plan.pattern, stream);
    PyEval_RestoreThread(save);
    return (PyObject *)b;
}

PyObject *
replaced_many_numeric(PyArrayObject *a, npy_intp n, const Scalar *olds,
                      const Scalar *news, bool pairwise,
                      const WalkTable *table)
{
    ReplacePlan single = {};
    ManyPlan many = {};
    const PlanOutcome outcome =
        plan_many(a, n, olds, news, pairwise, table, &single, &many);
    if (outcome == PLAN_RAISE) {
        return NULL;
    }
    /* Up to WALK_FEW patterns copy through the compares, whichever walk
       the plan chose for replacing in place. */
    const bool few = outcome == PLAN_WALK_MANY && many.count <= WALK_FEW;
    if (outcome == PLAN_WALK_MANY && !few) {
        many_plan_free(&many);
        Py_RETURN_NOTIMPLEMENTED;
    }
    PyArrayObject *b =
        (PyArrayObject *)PyArray_NewLikeArray(a, NPY_KEEPORDER, NULL, 0);
    if (b != NULL && outcome != PLAN_WALK && !few
        && PyArray_CopyInto(b, a) < 0) {
        Py_CLEAR(b); /* nothing can match: a plain copy, which failed */
    }
    if (b != NULL && (outcome == PLAN_WALK || few)) {
        PairIter it;
        pair_iter_init(&it, a, b);
        const bool stream = PyArray_NBYTES(b) >= kStreamBytes;
        const int log2_size = log2_size_of(PyArray_ITEMSIZE(a));
        FewPatterns patterns;
        if (few) {
            many_few_patterns(&many, &patterns);
        }
        PyThreadState *save = PyEval_SaveThread();
        if (few) {
            table->copy->copy_few[log2_size](&it, &patterns, stream);
        }
        else {
            table->copy->copy[single.walk](&it, &single.pattern, stream);
        }
        PyEval_RestoreThread(save);
    }
    if (few) {
        many_plan_free(&many);
    }
    return (PyObject *)b;
}
