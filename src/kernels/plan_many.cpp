/*
 * Planning a replace_many call: each old classified and each new converted
 * as replace does it, then the olds turned into unique exact patterns and
 * at most one masked class, with the conflicts between them found before
 * anything is written.  Many olds are deduplicated through the lookup that
 * the walk will use, so it is built once.
 */
#include <string.h>

#include "kernels.h"
#include "many.h"

/* Up to this many olds are deduplicated by comparing each pattern with
   those before it (a few thousand compares at most), so that the walks
   that compare them need no lookup built; more through the lookup. */
#define FEW_OLDS WALK_COMPARED

static void
conflict(npy_intp first, npy_intp second)
{
    PyErr_Format(PyExc_ValueError,
                 "`old[%zd]` and `old[%zd]` match the same elements but "
                 "their news differ",
                 (Py_ssize_t)first, (Py_ssize_t)second);
}

/* -0.0 in a float of type `e`: the sign bit, which a swapped float keeps
   in its first byte. */
static uint64_t
negative_zero(const ElementType &e)
{
    return e.swapped ? 0x80 : (uint64_t)1 << (8 * e.size - 1);
}

/* The unique patterns, in the order the olds came. */
struct Patterns {
    npy_intp count;
    uint64_t *old_bits, *new_bits;
    npy_intp *position; /* of the first old with the pattern */
    void *lookup;       /* deduplicates when there are many, else NULL */
    npy_intp size;
};

/* Room in `p` for `most` patterns of `size` bytes, deduplicated through a
   lookup when `with_lookup`.  Returns 0, or -1 with MemoryError set (free
   `p` either way). */
static int
patterns_init(Patterns *p, npy_intp size, size_t most, bool with_lookup)
{
    *p = Patterns{0, NULL, NULL, NULL, NULL, size};
    p->old_bits = (uint64_t *)PyMem_Malloc(sizeof(uint64_t) * most);
    p->new_bits = (uint64_t *)PyMem_Malloc(sizeof(uint64_t) * most);
    p->position = (npy_intp *)PyMem_Malloc(sizeof(npy_intp) * most);
    if (with_lookup) {
        p->lookup = lookup_new(size, (npy_intp)most);
    }
    if (p->old_bits == NULL || p->new_bits == NULL || p->position == NULL
        || (with_lookup && p->lookup == NULL)) {
        PyErr_NoMemory();
        return -1;
    }
    return 0;
}

static void
patterns_free(Patterns *p)
{
    PyMem_Free(p->old_bits);
    PyMem_Free(p->new_bits);
    PyMem_Free(p->position);
    PyMem_RawFree(p->lookup);
}

/* Adds old i's pattern.  Returns 0, or -1 with ValueError set when an
   earlier old has the pattern with another new. */
static int
add_pattern(Patterns *p, uint64_t old_bits, uint64_t new_bits, npy_intp i)
{
    uint64_t known = new_bits;
    bool added = true;
    if (p->lookup != NULL) {
        const int status =
            lookup_add(p->lookup, p->size, old_bits, new_bits, &known);
        if (status < 0) {
            PyErr_SetString(PyExc_SystemError, "replace_many: lookup full");
            return -1;
        }
        added = status > 0;
    }
    else {
        for (npy_intp k = 0; k < p->count && added; k++) {
            added = p->old_bits[k] != old_bits;
            known = p->new_bits[k];
        }
    }
    if (added) {
        p->old_bits[p->count] = old_bits;
        p->new_bits[p->count] = new_bits;
        p->position[p->count++] = i;
        return 0;
    }
    if (known == new_bits) {
        return 0;
    }
    npy_intp first = 0;
    while (p->old_bits[first] != old_bits) {
        first++;
    }
    conflict(p->position[first], i);
    return -1;
}

/* Sorts `v[0..n)` in place (a heap sort: no memory, n log n whatever the
   values). */
static void
sort_bits(uint64_t *v, npy_intp n)
{
    for (npy_intp end = n, start = n / 2; end > 1;) {
        if (start > 0) {
            start--; /* heapify */
        }
        else {
            end--; /* the largest to the end */
            const uint64_t t = v[0];
            v[0] = v[end];
            v[end] = t;
        }
        for (npy_intp root = start, child; (child = 2 * root + 1) < end;
             root = child) {
            child += child + 1 < end && v[child] < v[child + 1];
            if (v[root] >= v[child]) {
                break;
            }
            const uint64_t t = v[root];
            v[root] = v[child];
            v[child] = t;
        }
    }
}

/* The prefilter's two ranges of `plan`'s patterns, as unsigned integers:
   from the least to the most, split at the widest gap between two
   consecutive ones.  Elements near zero (small integers, and in a float's
   bits small positive values) lie below the least or above the most of
   olds that are negative or far from them, and values between two clusters
   of olds (sentinels on either side of the data) in the widest gap.
   Returns 0, or -1 with MemoryError set. */
static int
filter_ranges(ManyPlan *plan)
{
    const npy_intp n = plan->count;
    uint64_t *v = (uint64_t *)PyMem_Malloc(sizeof(uint64_t) * (size_t)n);
    if (v == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    if (!lookup_sorted(plan->lookup, plan->size, v, n)) {
        memcpy(v, plan->old_bits, sizeof(uint64_t) * (size_t)n);
        sort_bits(v, n);
    }
    npy_intp split = 0; /* the widest gap follows v[split] */
    for (npy_intp i = 1; i + 1 < n; i++) {
        if (v[i + 1] - v[i] > v[split + 1] - v[split]) {
            split = i;
        }
    }
    plan->lo[0] = v[0];
    plan->span[0] = v[split] - v[0];
    plan->lo[1] = v[split + 1];
    plan->span[1] = v[n - 1] - v[split + 1];
    PyMem_Free(v);
    return 0;
}

/* Chooses the walk of `plan` (the one rule) for the walks of `walks`,
   building what it needs.  Returns 0, or -1 with MemoryError set. */
static int
choose_walk(ManyPlan *plan, const WalkTable *walks)
{
    const npy_intp vector_bytes = walks->vector_bytes;
    const bool byte_set =
        plan->size == 1 && walks->walk_many[WALK_MANY_BYTE_SET] != NULL;
    /* Up to WALK_FEW patterns: a compare per old and vector costs no more
       than the prefilter's two range compares when no lane is in range,
       and far less when the olds lie in the data.  Except at 64-byte
       vectors of 8 bits, where the set in registers below costs as little
       or less (AMD Zen 4, 1e6 elements; in registers 28-32 us whatever
       the count): with one new from 3 olds (compared: 2 olds 20-25 us,
       3-4 olds 27-48, 8 olds 67), and with different news, where the
       processor permutes bytes, from 5 (42 against 67-68 us; 3-4 pairs
       33-34 against 42).  At 32 bytes the compares cost no more up to 8
       (93 against 122 us), nor with different news merged from 16
       shuffles (6 pairs: 68 against 125 us). */
    const npy_intp few = !byte_set || vector_bytes < 64 ? WALK_FEW
                         : many_same_new(plan)          ? 2
                         : walk_permutes_bytes          ? 4
                                                        : WALK_FEW;
    if (plan->count <= few) {
        plan->walk = MANY_FEW;
        return 0;
    }
    /* More of 8 bits, where the target shuffles bytes: the set of all 256
       values (their table's) held in registers costs a few operations a
       vector whatever the number of olds or matches, less than two range
       compares and a compare with each old of a vector in range, and for a
       whole recoding less than the table's two loads and a store a lane. */
    if (byte_set) {
        plan->walk = MANY_BYTE_SET;
        return many_lookup_build(plan);
    }
    /* Every value matches (a whole recoding of 8 or 16 bits): no lane is
       turned away, so the walk takes every element from the table.  That
       takes more patterns than the compares below are given, so up to
       WALK_COMPARED the lookup is built only for the walk that reads it. */
    if (plan->count > WALK_COMPARED) {
        if (many_lookup_build(plan) < 0) {
            return -1;
        }
        if (lookup_whole(plan->lookup, plan->size)) {
            plan->walk = MANY_WHOLE_TABLE;
            return 0;
        }
    }
    /* More: the prefilter turns away whole vectors of elements outside the
       olds' ranges with two compares whatever their number, so sentinels
       far from the data cost about one replace.  What passes it: */
    if (filter_ranges(plan) < 0) {
        return -1;
    }
    const uint64_t lo = plan->lo[0];
    const uint64_t span = plan->lo[1] + plan->span[1] - lo;
    const bool close =
        plan->size >= 4 && span < 8 * (uint64_t)plan->count + 64;
    /* - a vector compared with every old, up to WALK_COMPARED and eight
         olds a lane (two operations a lane and old at most): that costs
         less than looking up lane after lane through memory (a store, a
         load and a probe each), which olds inside the data reach in most
         vectors; except past 16 olds close together, where the dense
         table below costs less, and past 32 olds of 8 or 16 bits, whose
         table answers a lane with two loads and no mixing; */
    const npy_intp most = plan->size <= 2 ? 32 : WALK_COMPARED;
    if (plan->count <= most && plan->count * plan->size <= 8 * vector_bytes
        && !(close && plan->count > 16)) {
        plan->walk = MANY_COMPARED;
        return 0;
    }
    /* - for wide patterns that lie close together (class codes), a table
         over the values between the least and the most, no more than a
         few entries a pattern (so its memory stays bounded by their
         count): a subtraction and two loads a lane; */
    if (close) {
        plan->dense = dense_new(plan, lo, span);
        if (plan->dense == NULL) {
            PyErr_NoMemory();
            return -1;
        }
        plan->walk = MANY_DENSE;
        return 0;
    }
    /* - else the lookup (the 8/16-bit table, or the hash), lane by lane. */
    plan->walk = MANY_FILTERED;
    return many_lookup_build(plan);
}

/* Moves the patterns of `p` into `many`, with the masked class `klass`
   when `has_class`, and chooses its walk for the walks of `walks`.
   Returns PLAN_WALK_MANY, or PLAN_RAISE with MemoryError set. */
static PlanOutcome
take_patterns(Patterns *p, bool has_class, const MatchPattern &klass,
              const WalkTable *walks, ManyPlan *many)
{
    *many = ManyPlan{p->size,   p->count, p->old_bits, p->new_bits,
                     has_class, klass,    p->lookup,   MANY_FEW,
                     {0, 0},    {0, 0},   NULL};
    if (has_class && p->lookup != NULL) {
        lookup_add_class(p->lookup, p->size, klass);
    }
    p->old_bits = p->new_bits = NULL;
    p->lookup = NULL; /* all three now the plan's */
    if (choose_walk(many, walks) < 0) {
        many_plan_free(many);
        return PLAN_RAISE;
    }
    return PLAN_WALK_MANY;
}

PlanOutcome
plan_many(PyArrayObject *a, npy_intp n, const Scalar *olds, const Scalar *news,
          bool pairwise, const WalkTable *walks, ReplacePlan *single,
          ManyPlan *many)
{
    const ElementType e = element_type(a);
    Patterns p;
    uint64_t *bits =
        (uint64_t *)PyMem_Malloc(sizeof(uint64_t) * (size_t)(2 * n + 1));
    uint64_t *new_of = bits + n; /* each old's new */
    signed char *classes = (signed char *)PyMem_Malloc((size_t)n + 1);
    PlanOutcome outcome = PLAN_RAISE;
    npy_intp class_position = -1, kept = 0;
    uint64_t class_new = 0, one_new = 0;
    OldClass class_kind = OLD_NOTHING;
    /* n + 1 patterns at most: only a float zero makes two, and every zero
       old the same two. */
    if (patterns_init(&p, e.size, (size_t)n + 1, n > FEW_OLDS) < 0
        || bits == NULL || classes == NULL) {
        PyErr_NoMemory();
        goto done;
    }

    for (npy_intp i = 0; i < n; i++) {
        const int c = plan_old(e, &olds[i], ScalarName{"old", i}, &bits[i]);
        if (c < 0) {
            goto done;
        }
        classes[i] = (signed char)c;
        kept += c != OLD_SKIP;
    }
    if (kept == 0) {
        outcome = PLAN_RETURN; /* no old, or NaNs for integers only */
        goto done;
    }
    if (!pairwise
        && plan_new(e, &news[0], ScalarName{"new", -1}, &one_new) < 0) {
        goto done;
    }
    for (npy_intp i = 0; i < n; i++) {
        new_of[i] = one_new;
        if (pairwise && classes[i] != OLD_SKIP
            && plan_new(e, &news[i], ScalarName{"new", i}, &new_of[i]) < 0) {
            goto done;
        }
    }
    for (npy_intp i = 0; i < n; i++) {
        const int c = classes[i];
        const uint64_t new_bits = new_of[i];
        if (c == OLD_BITS) {
            if (add_pattern(&p, bits[i], new_bits, i) < 0) {
                goto done;
            }
        }
        else if (c == OLD_ZERO) {
            /* Both zeros, whichever the old was. */
            if (add_pattern(&p, 0, new_bits, i) < 0
                || add_pattern(&p, negative_zero(e), new_bits, i) < 0) {
                goto done;
            }
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

    single->pattern = MatchPattern{0, 0, 0, 0, 1, 0};
    if (p.count == 0 && class_position < 0) {
        outcome = PLAN_CHECK_ONLY; /* only olds that match nothing */
    }
    else if (p.count == 1 && class_position < 0) {
        single->pattern.old_bits = p.old_bits[0];
        single->pattern.new_bits = p.new_bits[0];
        single->walk = bits_walk(e.size, false);
        outcome = PLAN_WALK;
    }
    else if (p.count == 0
             || (p.count == 2 && class_position < 0 && e.kind == 'f'
                 && p.position[0] == p.position[1])) {
        /* One class alone: float NaNs, nonzero bools, or float zeros. */
        class_pattern(e, p.count == 0 ? class_kind : OLD_ZERO,
                      &single->pattern);
        single->pattern.new_bits = p.count == 0 ? class_new : p.new_bits[0];
        single->walk = bits_walk(e.size, true);
        outcome = PLAN_WALK;
    }
    else {
        MatchPattern klass = {0, 0, 0, 0, 1, 0};
        if (class_position >= 0) {
            class_pattern(e, class_kind, &klass);
            klass.new_bits = class_new;
        }
        outcome = take_patterns(&p, class_position >= 0, klass, walks, many);
    }
done:
    patterns_free(&p);
    PyMem_Free(bits);
    PyMem_Free(classes);
    return outcome;
}

PlanOutcome
plan_many_integers(PyArrayObject *a, const IntegerPairs &pairs,
                   const WalkTable *walks, ManyPlan *many)
{
    const ElementType e = element_type(a);
    const npy_intp n = pairs.n, n_news = pairs.pairwise ? pairs.n : 1;
    if ((e.kind != 'i' && e.kind != 'u') || n <= WALK_FEW) {
        return PLAN_BY_SCALARS;
    }
    /* The type's range (as much of it as int64 holds), checked for all
       before any pattern is made: a value out of it is an error, which
       plan_many names. */
    const int width = 8 * (int)e.size;
    const int64_t lo =
        e.kind == 'u' ? 0 : (int64_t)(~(uint64_t)0 << (width - 1));
    const int64_t hi = e.kind == 'u' && width < 64
                           ? (int64_t)(element_bits(e.size))
                           : (int64_t)(element_bits(e.size) >> 1);
    bool in_range = true;
    for (npy_intp i = 0; i < n; i++) {
        in_range &= pairs.olds[i] >= lo && pairs.olds[i] <= hi;
    }
    for (npy_intp i = 0; i < n_news; i++) {
        in_range &= pairs.news[i] >= lo && pairs.news[i] <= hi;
    }
    if (!in_range) {
        return PLAN_BY_SCALARS;
    }
    const uint64_t keep = element_bits(e.size);
    Patterns p;
    PlanOutcome outcome = PLAN_RAISE;
    if (patterns_init(&p, e.size, (size_t)n, n > FEW_OLDS) < 0) {
        goto done;
    }
    for (npy_intp i = 0; i < n; i++) {
        uint64_t old_bits = (uint64_t)pairs.olds[i] & keep;
        uint64_t new_bits =
            (uint64_t)pairs.news[pairs.pairwise ? i : 0] & keep;
        if (e.swapped) {
            old_bits = swap_bytes(old_bits, e.size);
            new_bits = swap_bytes(new_bits, e.size);
        }
        if (add_pattern(&p, old_bits, new_bits, i) < 0) {
            goto done;
        }
    }
    outcome =
        take_patterns(&p, false, MatchPattern{0, 0, 0, 0, 1, 0}, walks, many);
done:
    patterns_free(&p);
    return outcome;
}

void
many_plan_free(ManyPlan *plan)
{
    PyMem_Free(plan->old_bits);
    PyMem_Free(plan->new_bits);
    PyMem_RawFree(plan->lookup);
    PyMem_RawFree(plan->dense);
    plan->old_bits = plan->new_bits = NULL;
    plan->lookup = plan->dense = NULL;
}
