/*
 * Many olds through a lookup (many_lookup.h): the lookups' construction (a
 * table for 8- and 16-bit elements, else a hash, sized once from the
 * number of patterns and never grown, and the dense table of wide olds
 * that lie close together); the record that the prefilter's vector walks
 * (match_many.h) read; and the walk element by element, with no
 * prefilter, of copies of views whose elements may share bytes and of
 * wholly recoded 8- and 16-bit elements.
 *
 * Scalar code, the same on every processor; the walk never stores into an
 * element that does not match.
 */
#include <string.h>

#include "../iter/elem_iter.h"
#include "many.h"
#include "many_lookup.h"
#include "simd_lanes.h"

namespace {

/* A hash for up to `capacity` patterns: a power of two of homes, at least
   four per pattern, so that it is at most a quarter full, and the slots
   past them.  Returns NULL when memory runs out. */
Hash *
hash_for(npy_intp capacity)
{
    int log2_slots = 4;
    while (((npy_intp)1 << log2_slots) < 4 * capacity) {
        log2_slots++;
    }
    const size_t homes = (size_t)1 << log2_slots;
    const size_t slots = homes + (size_t)capacity + kProbes;
    Hash *h = (Hash *)PyMem_RawMalloc(sizeof(Hash) + slots * sizeof(Slot));
    if (h != NULL) {
        /* The record's address varies from call to call and from run to
           run: a seed that no one choosing the olds can know. */
        const uint64_t seed =
            ((uint64_t)(uintptr_t)h >> 4) * 0xd6e8feb86659fd93u;
        *h = Hash{64 - log2_slots,
                  seed ^ (seed >> 32),
                  (npy_intp)homes,
                  capacity,
                  0,
                  0,
                  0};
        for (size_t i = 0; i < slots; i++) {
            hash_slots(h)[i] = Slot{kEmpty, 0};
        }
    }
    return h;
}

/* Adds `key` -> `value` unless `key` is there, in which case *known gets
   its value.  Returns 1 when added, 0 when there already, -1 when the hash
   holds its capacity already (never, for a caller that sized it). */
int
hash_add(Hash *h, uint64_t key, uint64_t value, uint64_t *known)
{
    if (key == kEmpty) {
        if (h->empty_hit != 0) {
            *known = h->empty_value;
            return 0;
        }
        h->empty_hit = ~(uint64_t)0;
        h->empty_value = value;
        return 1;
    }
    Slot *slots = hash_slots(h);
    npy_intp s = hash_home(h, key);
    for (; slots[s].key != kEmpty; s++) {
        if (slots[s].key == key) {
            *known = slots[s].value;
            return 0;
        }
    }
    if (h->count == h->capacity) {
        return -1;
    }
    h->count++;
    slots[s] = Slot{key, value};
    return 1;
}

template <typename T>
bool
table_add(Table<T> *t, uint64_t old_bits, uint64_t new_bits, uint64_t *known)
{
    if (t->hit[old_bits]) {
        *known = t->value[old_bits];
        return false;
    }
    t->hit[old_bits] = 1;
    t->value[old_bits] = (T)new_bits;
    t->hits++;
    return true;
}

template <typename T>
void
table_add_class(Table<T> *t, const MatchPattern &klass)
{
    for (size_t v = 0; v < sizeof t->hit; v++) {
        if (class_matches(klass, v)) {
            t->hits += !t->hit[v];
            t->hit[v] = 1;
            t->value[v] = (T)klass.new_bits;
        }
    }
}

/* Replaces through `lookup` in every run of `it`, 64 elements a step:
   first every element is looked up (loads only), then a step whose
   elements all match stores them all, and another stores its matches one
   by one.  The addresses of the stores then never wait on the lookups, so
   the loads of the next step run ahead of them. */
template <typename T, typename Lookup>
void
walk_lookup(ElemIter *it, const Lookup &lookup)
{
    T values[64];
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        const npy_intp stride = it->inner_stride;
        for (npy_intp n = it->inner_len; n > 0;) {
            const npy_intp m = n < 64 ? n : 64;
            uint64_t hits = 0;
            for (npy_intp i = 0; i < m; i++) {
                hits |=
                    (uint64_t)lookup(load_one<T>(p + i * stride), &values[i])
                    << i;
            }
            if (hits == ~(uint64_t)0 >> (64 - m)) {
                for (npy_intp i = 0; i < m; i++) {
                    store_one<T>(p + i * stride, values[i]);
                }
            }
            else {
                for (; hits != 0; hits &= hits - 1) {
                    const int i = __builtin_ctzll(hits);
                    store_one<T>(p + i * stride, values[i]);
                }
            }
            p += m * stride;
            n -= m;
        }
    }
}

/* Replaces every element of every run of `it` through `t`, a table in which
   every value matches: each element is stored, as a take from the table
   would store it. */
template <typename T>
void
walk_whole_table(ElemIter *it, const Table<T> *t)
{
    constexpr int kLanes = 8 / sizeof(T);
    constexpr int kBits = 8 * sizeof(T);
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        const npy_intp stride = it->inner_stride;
        npy_intp n = it->inner_len;
        /* A contiguous run a 64-bit word at a time: one load and one store
           for its elements, so that the table's loads set the pace. */
        for (; stride == (npy_intp)sizeof(T) && n >= kLanes;
             n -= kLanes, p += 8) {
            const uint64_t w = load_one<uint64_t>(p);
            uint64_t r = 0;
            for (int j = 0; j < kLanes; j++) {
                r |= (uint64_t)t->value[(T)(w >> (kBits * j))] << (kBits * j);
            }
            store_one<uint64_t>(p, r);
        }
        for (; n > 0; n--, p += stride) {
            store_one<T>(p, t->value[load_one<T>(p)]);
        }
    }
}

/* A table's walk: every element stored when every value matches. */
template <typename T>
void
walk_table(ElemIter *it, const Table<T> *t)
{
    if (t->hits == sizeof t->hit) {
        walk_whole_table(it, t);
    }
    else {
        walk_lookup<T>(it, TableLookup<T>{t});
    }
}

}  // namespace

void *
lookup_new(npy_intp size, npy_intp capacity)
{
    switch (size) {
    case 1:
        return PyMem_RawCalloc(1, sizeof(Table<uint8_t>));
    case 2:
        return PyMem_RawCalloc(1, sizeof(Table<uint16_t>));
    default:
        return hash_for(capacity);
    }
}

int
lookup_add(void *lookup, npy_intp size, uint64_t old_bits, uint64_t new_bits,
           uint64_t *known)
{
    switch (size) {
    case 1:
        return table_add((Table<uint8_t> *)lookup, old_bits, new_bits, known);
    case 2:
        return table_add((Table<uint16_t> *)lookup, old_bits, new_bits, known);
    default:
        return hash_add((Hash *)lookup, old_bits, new_bits, known);
    }
}

void
lookup_add_class(void *lookup, npy_intp size, const MatchPattern &klass)
{
    if (size == 1) {
        table_add_class((Table<uint8_t> *)lookup, klass);
    }
    else if (size == 2) {
        table_add_class((Table<uint16_t> *)lookup, klass);
    }
}

bool
lookup_whole(const void *lookup, npy_intp size)
{
    switch (size) {
    case 1:
        return ((const Table<uint8_t> *)lookup)->hits == 256;
    case 2:
        return ((const Table<uint16_t> *)lookup)->hits == 65536;
    default:
        return false;
    }
}

namespace {

template <typename T>
bool
table_sorted(const Table<T> *t, uint64_t *sorted, npy_intp count)
{
    /* A scan of every value, worth it over sorting the patterns once they
       are a sixty-fourth of the values or more. */
    if (t->hits != (size_t)count || 64 * (size_t)count < sizeof t->hit) {
        return false;
    }
    npy_intp k = 0;
    for (size_t v = 0; v < sizeof t->hit; v++) {
        if (t->hit[v]) {
            sorted[k++] = v;
        }
    }
    return true;
}

}  // namespace

bool
lookup_sorted(const void *lookup, npy_intp size, uint64_t *sorted,
              npy_intp count)
{
    switch (lookup == NULL ? 0 : size) {
    case 1:
        return table_sorted((const Table<uint8_t> *)lookup, sorted, count);
    case 2:
        return table_sorted((const Table<uint16_t> *)lookup, sorted, count);
    default:
        return false;
    }
}

void *
dense_new(const ManyPlan *plan, uint64_t lo, uint64_t span)
{
    Dense *d = (Dense *)PyMem_RawCalloc(
        1, sizeof(Dense) + (size_t)(span + 2) * (sizeof(uint64_t) + 1));
    if (d != NULL) {
        *d = Dense{lo, span};
        for (npy_intp i = 0; i < plan->count; i++) {
            const uint64_t at = plan->old_bits[i] - lo;
            dense_values(d)[at] = plan->new_bits[i];
            dense_hits(d)[at] = 1;
        }
    }
    return d;
}

ManyFilter
many_filter(const ManyPlan *plan)
{
    return ManyFilter{{plan->lo[0], plan->lo[1]},
                      {plan->span[0], plan->span[1]},
                      plan->walk == MANY_DENSE ? plan->dense : plan->lookup,
                      plan->has_class,
                      plan->klass,
                      NULL,
                      many_same_new(plan),
                      plan->new_bits[0]};
}

int
many_lookup_build(ManyPlan *plan)
{
    if (plan->lookup != NULL) {
        return 0;
    }
    plan->lookup = lookup_new(plan->size, plan->count);
    if (plan->lookup == NULL) {
        PyErr_NoMemory();
        return -1;
    }
    uint64_t known;
    for (npy_intp i = 0; i < plan->count; i++) {
        if (lookup_add(plan->lookup, plan->size, plan->old_bits[i],
                       plan->new_bits[i], &known)
            < 0) {
            PyErr_SetString(PyExc_SystemError, "replace_many: lookup full");
            return -1;
        }
    }
    if (plan->has_class) {
        lookup_add_class(plan->lookup, plan->size, plan->klass);
    }
    return 0;
}

void
many_lookup_walk(ElemIter *it, const ManyPlan *plan)
{
    const Hash *h = (const Hash *)plan->lookup;
    switch (plan->size) {
    case 1:
        walk_table(it, (const Table<uint8_t> *)plan->lookup);
        break;
    case 2:
        walk_table(it, (const Table<uint16_t> *)plan->lookup);
        break;
    case 4:
        walk_lookup<uint32_t>(
            it, HashLookup<uint32_t>{h, plan->klass, plan->has_class});
        break;
    default:
        walk_lookup<uint64_t>(
            it, HashLookup<uint64_t>{h, plan->klass, plan->has_class});
        break;
    }
}
