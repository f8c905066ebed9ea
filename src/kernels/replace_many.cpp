/*
 * Running a planned replace_many call: the writeable test, then, with the
 * interpreter lock released, one walk of replace when that serves, else
 * the walk the plan chose.  A view whose elements may share bytes is
 * walked on copies of its elements taken first.
 */
#include "kernels.h"
#include "many.h"

bool
many_same_new(const ManyPlan *plan)
{
    const uint64_t first = plan->new_bits[0];
    bool same = !plan->has_class || plan->klass.new_bits == first;
    for (npy_intp i = 1; i < plan->count && same; i++) {
        same = plan->new_bits[i] == first;
    }
    return same;
}

void
many_few_patterns(const ManyPlan *plan, FewPatterns *few)
{
    few->count = (int)plan->count;
    few->has_class = plan->has_class;
    few->klass = plan->klass;
    few->same_new = many_same_new(plan);
    for (npy_intp i = 0; i < plan->count; i++) {
        few->old_bits[i] = plan->old_bits[i];
        few->new_bits[i] = plan->new_bits[i];
    }
}

/* Walks `it` by `plan` with the walks of `table`, the interpreter lock
   released, as the plan chose: a few olds a vector at a time, more behind
   the vector prefilter, a whole recoding from its table, or when
   `by_lookup` every element through the lookup, which it builds (the
   walks that compare take the plan's patterns as they are now).  Returns
   0, or -1 with MemoryError set before anything was written. */
static int
walk_patterns(ElemIter *it, ManyPlan *plan, const WalkTable *table,
              bool by_lookup)
{
    const int log2_size = log2_size_of(plan->size);
    FewPatterns few;
    if (plan->walk == MANY_FEW || plan->walk == MANY_COMPARED) {
        many_few_patterns(plan, &few);
    }
    if (plan->walk == MANY_FEW) {
        PyThreadState *save = PyEval_SaveThread();
        table->walk_few[log2_size](it, &few);
        PyEval_RestoreThread(save);
        return 0;
    }
    if (plan->walk == MANY_COMPARED
        || (!by_lookup
            && (plan->walk == MANY_FILTERED || plan->walk == MANY_DENSE
                || plan->walk == MANY_BYTE_SET))) {
        ManyFilter filter = many_filter(plan);
        const int walk =
            plan->walk == MANY_COMPARED   ? WALK_MANY_COMPARED + log2_size
            : plan->walk == MANY_DENSE    ? WALK_MANY_DENSE + log2_size - 2
            : plan->walk == MANY_BYTE_SET ? WALK_MANY_BYTE_SET
                                          : WALK_MANY_FILTERED + log2_size;
        filter.few = &few;
        PyThreadState *save = PyEval_SaveThread();
        table->walk_many[walk](it, &filter);
        PyEval_RestoreThread(save);
        return 0;
    }
    if (many_lookup_build(plan) < 0) {
        return -1;
    }
    PyThreadState *save = PyEval_SaveThread();
    many_lookup_walk(it, plan);
    PyEval_RestoreThread(save);
    return 0;
}

/* Flips the bits of every new of `plan`, and drops its lookups, which
   hold the news as they were. */
static void
flip_news(ManyPlan *plan)
{
    const uint64_t bits = element_bits(plan->size);
    for (npy_intp i = 0; i < plan->count; i++) {
        plan->new_bits[i] ^= bits;
    }
    plan->klass.new_bits ^= bits;
    PyMem_RawFree(plan->lookup);
    PyMem_RawFree(plan->dense);
    plan->lookup = plan->dense = NULL;
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
        return walk_patterns(&it, plan, table, false);
    }
    OverlapCopy c;
    if (overlap_begin(&c, a) < 0) {
        return -1;
    }
    ElemIter on_replaced, on_flipped;
    PyThreadState *save = PyEval_SaveThread();
    overlap_gather(&c, &on_replaced, &on_flipped);
    PyEval_RestoreThread(save);
    /* Through the lookup both times: it is built anew from the flipped
       news, where the prefilter's tables hold the news as they were. */
    int status = walk_patterns(&on_replaced, plan, table, true);
    if (status == 0) {
        flip_news(plan);
        status = walk_patterns(&on_flipped, plan, table, true);
    }
    if (status == 0) {
        save = PyEval_SaveThread();
        overlap_write(&c);
        PyEval_RestoreThread(save);
    }
    overlap_end(&c);
    return status;
}

/* Carries out a plan's `outcome`, and frees the plan. */
static PyObject *
run_plan(PyArrayObject *a, PlanOutcome outcome, const ReplacePlan &single,
         ManyPlan *many, const WalkTable *table)
{
    int status = outcome == PLAN_RAISE ? -1 : 0;
    if (status == 0 && outcome != PLAN_RETURN) {
        status = require_writeable(a);
    }
    if (status == 0 && outcome == PLAN_WALK) {
        status = walk_planned(a, &single, table);
    }
    if (status == 0 && outcome == PLAN_WALK_MANY) {
        status = walk_many(a, many, table);
    }
    if (outcome == PLAN_WALK_MANY) {
        many_plan_free(many);
    }
    if (status < 0) {
        return NULL;
    }
    Py_INCREF(a);
    return (PyObject *)a;
}

PyObject *
replace_many_numeric(PyArrayObject *a, npy_intp n, const Scalar *olds,
                     const Scalar *news, bool pairwise, const WalkTable *table)
{
    ReplacePlan single = {};
    ManyPlan many = {};
    const PlanOutcome outcome =
        plan_many(a, n, olds, news, pairwise, table, &single, &many);
    return run_plan(a, outcome, single, &many, table);
}

PyObject *
replace_many_integers(PyArrayObject *a, const IntegerPairs &pairs,
                      const WalkTable *table, bool *by_scalars)
{
    ManyPlan many = {};
    const PlanOutcome outcome = plan_many_integers(a, pairs, table, &many);
    *by_scalars = outcome == PLAN_BY_SCALARS;
    if (*by_scalars) {
        return NULL;
    }
    return run_plan(a, outcome, ReplacePlan{}, &many, table);
}
