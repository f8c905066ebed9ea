/*
 * The copying replace: a new array in the memory order of the source,
 * written in one pass from the source with the interpreter lock released,
 * by the copying walks of the same width as the in-place walks chosen.
 */
#include "copy.h"
#include "kernels.h"
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
