/*
 * Planning a replace_many call: each old classified and each new converted
 * as replace does it, then the olds turned into unique exact patterns and
 * at most one masked class, with the conflicts between them found before
 * anything is written.
 */
#include <stdio.h>
#include <stdlib.h>

#include "many.h"

/* One exact pattern, with the position of the old it came from. */
struct Entry {
    uint64_t old_bits, new_bits;
    npy_intp position;
};

static int
by_pattern(const void *a, const void *b)
{
    const Entry *x = (const Entry *)a, *y = (const Entry *)b;
    if (x->old_bits != y->old_bits) {
        return x->old_bits < y->old_bits ? -1 : 1;
    }
    return x->position < y->position ? -1 : x->position > y->position;
}

static void
name_of(char *buffer, size_t size, const char *what, npy_intp i)
{
    snprintf(buffer, size, "`%s[%zd]`", what, (Py_ssize_t)i);
}

static void
conflict(npy_intp first, npy_intp second)
{
    PyErr_Format(PyExc_ValueError,
                 "`old[%zd]` and `old[%zd]` match the same elements but "
                 "their news differ",
                 (Py_ssize_t)first, (Py_ssize_t)second);
}

/* Sorts `entries` and drops repeats.  Returns how many remain, or -1 with
   ValueError set when a repeat has another new. */
static npy_intp
unique_patterns(Entry *entries, npy_intp n)
{
    qsort(entries, (size_t)n, sizeof(Entry), by_pattern);
    npy_intp kept = 0;
    for (npy_intp i = 0; i < n; i++) {
        if (kept > 0 && entries[kept - 1].old_bits == entries[i].old_bits) {
            if (entries[kept - 1].new_bits != entries[i].new_bits) {
                conflict(entries[kept - 1].position, entries[i].position);
                return -1;
            }
            continue;
        }
        entries[kept++] = entries[i];
    }
    return kept;
}

/* -0.0 in a float of type `e`: the sign bit, which a swapped float keeps
   in its first byte. */
static uint64_t
negative_zero(const ElementType &e)
{
    return e.swapped ? 0x80 : (uint64_t)1 << (8 * e.size - 1);
}

PlanOutcome
plan_many(PyArrayObject *a, npy_intp n, const Scalar *olds, const Scalar *news,
          bool pairwise, ReplacePlan *single, ManyPlan *many)
{
    const ElementType e = element_type(a);
    char name[48];
    /* Two entries an old at most (a float zero has two patterns). */
    Entry *entries =
        (Entry *)PyMem_Malloc(sizeof(Entry) * (size_t)(2 * n + 1));
    uint64_t *bits =
        (uint64_t *)PyMem_Malloc(sizeof(uint64_t) * (size_t)(n + 1));
    signed char *classes = (signed char *)PyMem_Malloc((size_t)n + 1);
    if (entries == NULL || bits == NULL || classes == NULL) {
        PyMem_Free(entries);
        PyMem_Free(bits);
        PyMem_Free(classes);
        PyErr_NoMemory();
        return PLAN_RAISE;
    }
    PlanOutcome outcome = PLAN_RAISE;
    npy_intp count = 0, class_position = -1, kept_pairs = 0;
    uint64_t class_new = 0, one_new = 0;
    OldClass class_kind = OLD_NOTHING;

    for (npy_intp i = 0; i < n; i++) {
        name_of(name, sizeof name, "old", i);
        const int c = plan_old(e, &olds[i], name, &bits[i]);
        if (c < 0) {
            goto done;
        }
        classes[i] = (signed char)c;
        kept_pairs += c != OLD_SKIP;
    }
    if (kept_pairs == 0) {
        outcome = PLAN_RETURN; /* no old, or NaNs for integers only */
        goto done;
    }
    if (!pairwise && plan_new(e, &news[0], "`new`", &one_new) < 0) {
        goto done;
    }
    for (npy_intp i = 0; i < n; i++) {
        const int c = classes[i];
        uint64_t new_bits = one_new;
        if (c == OLD_SKIP) {
            continue;
        }
        if (pairwise) {
            name_of(name, sizeof name, "new", i);
            if (plan_new(e, &news[i], name, &new_bits) < 0) {
                goto done;
            }
        }
        if (c == OLD_BITS) {
            entries[count++] = Entry{bits[i], new_bits, i};
        }
        else if (c == OLD_ZERO) {
            /* Both zeros, whichever the old was. */
            entries[count++] = Entry{0, new_bits, i};
            entries[count++] = Entry{negative_zero(e), new_bits, i};
        }
        else if (c == OLD_NAN || c == OLD_NONZERO) {
            if (class_position >= 0 && class_new != new_bits) {
                conflict(class_position, i);
                goto done;
            }
            if (class_position < 0) {
                class_position = i;
                class_new = new_bits;
                class_kind = (OldClass)c;
            }
        }
    }
    count = unique_patterns(entries, count);
    if (count < 0) {
        goto done;
    }

    single->pattern = MatchPattern{0, 0, 0, 0, 1, 0};
    if (count + (class_position >= 0) == 0) {
        outcome = PLAN_CHECK_ONLY;
    }
    else if (count == 1 && class_position < 0) {
        single->pattern.old_bits = entries[0].old_bits;
        single->pattern.new_bits = entries[0].new_bits;
        single->walk = bits_walk(e.size, false);
        outcome = PLAN_WALK;
    }
    else if (count == 0
             || (count == 2 && class_position < 0 && entries[0].old_bits == 0
                 && entries[1].old_bits == negative_zero(e) && e.kind == 'f'
                 && entries[0].new_bits == entries[1].new_bits)) {
        /* One class alone: float NaNs, float zeros or nonzero bools. */
        const OldClass c = count == 0 ? class_kind : OLD_ZERO;
        class_pattern(e, c, &single->pattern);
        single->pattern.new_bits =
            count == 0 ? class_new : entries[0].new_bits;
        single->walk = bits_walk(e.size, true);
        outcome = PLAN_WALK;
    }
    else {
        many->size = e.size;
        many->count = count;
        many->old_bits = (uint64_t *)PyMem_Malloc(8 * (size_t)count + 1);
        many->new_bits = (uint64_t *)PyMem_Malloc(8 * (size_t)count + 1);
        many->lookup = NULL;
        many->has_class = class_position >= 0;
        many->klass = MatchPattern{0, 0, 0, 0, 1, 0};
        if (many->has_class) {
            class_pattern(e, class_kind, &many->klass);
            many->klass.new_bits = class_new;
        }
        if (many->old_bits == NULL || many->new_bits == NULL) {
            many_plan_free(many);
            PyErr_NoMemory();
            goto done;
        }
        for (npy_intp i = 0; i < count; i++) {
            many->old_bits[i] = entries[i].old_bits;
            many->new_bits[i] = entries[i].new_bits;
        }
        outcome = PLAN_WALK_MANY;
    }
done:
    PyMem_Free(entries);
    PyMem_Free(bits);
    PyMem_Free(classes);
    return outcome;
}

void
many_plan_free(ManyPlan *plan)
{
    PyMem_Free(plan->old_bits);
    PyMem_Free(plan->new_bits);
    PyMem_RawFree(plan->lookup);
    plan->old_bits = plan->new_bits = NULL;
    plan->lookup = NULL;
}
