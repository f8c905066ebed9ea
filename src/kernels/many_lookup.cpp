/*
 * Many olds through a lookup, element by element.  For 8- and 16-bit
 * elements a table over every value says whether it matches and what
 * replaces it.  Wider elements look their bits up in a hash of the
 * patterns, behind a filter of 2**16 bits that turns most non-matching
 * elements away with one load; the masked class (float NaNs) is tested
 * apart.
 *
 * Scalar code, the same on every processor; the walk never stores into an
 * element that does not match.
 */
#include <string.h>

#include "../iter/elem_iter.h"
#include "many.h"
#include "simd_lanes.h"

namespace {

/* Elements of 8 or 16 bits: hit[v] when v matches, value[v] its new (zero
   elsewhere, so that any element's can be read). */
template <typename T>
struct Table {
    uint8_t hit[(size_t)1 << (8 * sizeof(T))];
    T value[(size_t)1 << (8 * sizeof(T))];
    size_t hits; /* values that match: all of them for a whole recoding */
};

/* Elements of 32 or 64 bits: open addressing in which every pattern lies
   at most kProbes slots past its home, so that a lookup reads a fixed
   number of slots with no branch; a table that cannot place a pattern so
   doubles.  An empty slot holds the key kEmpty, which no 8- to 32-bit
   element can equal; a 64-bit pattern equal to it is kept apart.  The
   slots (kProbes - 1 spare ones at the end, so that no probe wraps) follow
   the record. */
constexpr int kProbes = 4;
constexpr uint64_t kEmpty = 0xa5a5a5a5a5a5a5a5u;

struct Slot {
    uint64_t key, value;
};

struct Hash {
    int shift; /* the home of x is hash(x) >> shift */
    npy_intp slots;
    uint64_t empty_hit; /* all ones when kEmpty is a pattern */
    uint64_t empty_value;
};

inline Slot *
hash_slots(const Hash *h)
{
    return (Slot *)(h + 1);
}

/* The top bits of x times 2**64 over the golden ratio depend on every bit
   of x: floats and integers with long runs of equal low bits spread. */
inline npy_intp
home(const Hash *h, uint64_t x)
{
    return (npy_intp)((x * 0x9e3779b97f4a7c15u) >> h->shift);
}

inline bool
class_matches(const MatchPattern &k, uint64_t x)
{
    return ((x & k.and_mask) == k.and_bits) & ((x & k.not_mask) != k.not_bits);
}

Hash *
hash_new(int log2_slots)
{
    const size_t slots = ((size_t)1 << log2_slots) + kProbes - 1;
    Hash *h = (Hash *)PyMem_RawMalloc(sizeof(Hash) + slots * sizeof(Slot));
    if (h != NULL) {
        *h = Hash{64 - log2_slots, (npy_intp)1 << log2_slots, 0, 0};
        for (size_t i = 0; i < slots; i++) {
            hash_slots(h)[i] = Slot{kEmpty, 0};
        }
    }
    return h;
}

/* Where `x` is or would go, within reach of its home; -1 when there is no
   room.  *found when it is there. */
npy_intp
hash_find(const Hash *h, uint64_t x, bool *found)
{
    const Slot *slots = hash_slots(h);
    const npy_intp at = home(h, x);
    for (npy_intp s = at; s < at + kProbes; s++) {
        if (slots[s].key == kEmpty || slots[s].key == x) {
            *found = slots[s].key == x;
            return s;
        }
    }
    *found = false;
    return -1;
}

/* Adds a pattern that is not there, doubling the hash (into a new record)
   until it finds a place.  Returns false when memory runs out. */
bool
hash_put(Hash **hp, uint64_t key, uint64_t value)
{
    if (key == kEmpty) {
        (*hp)->empty_hit = ~(uint64_t)0;
        (*hp)->empty_value = value;
        return true;
    }
    bool found;
    npy_intp s;
    while ((s = hash_find(*hp, key, &found)) < 0) {
        Hash *old = *hp;
        Hash *bigger = hash_new(64 - old->shift + 1);
        if (bigger == NULL) {
            return false;
        }
        bigger->empty_hit = old->empty_hit;
        bigger->empty_value = old->empty_value;
        const Slot *slots = hash_slots(old);
        for (npy_intp i = 0; i < old->slots + kProbes - 1; i++) {
            if (slots[i].key != kEmpty
                && !hash_put(&bigger, slots[i].key, slots[i].value)) {
                PyMem_RawFree(bigger);
                return false;
            }
        }
        PyMem_RawFree(old);
        *hp = bigger;
    }
    hash_slots(*hp)[s] = Slot{key, value};
    return true;
}

/* Whether `key` is there, with its value in *value. */
bool
hash_known(const Hash *h, uint64_t key, uint64_t *value)
{
    if (key == kEmpty) {
        *value = h->empty_value;
        return h->empty_hit != 0;
    }
    bool found;
    const npy_intp s = hash_find(h, key, &found);
    if (found) {
        *value = hash_slots(h)[s].value;
    }
    return found;
}

/* A hash for up to `capacity` patterns: at most a quarter full at
   first. */
Hash *
hash_for(npy_intp capacity)
{
    int log2_slots = 4;
    while (((npy_intp)1 << log2_slots) < 4 * capacity) {
        log2_slots++;
    }
    return hash_new(log2_slots);
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

/* Where each element's value before the call is read from. */
struct Source {
    uintptr_t delta; /* from an element to its value's copy, or 0 */

    const char *
    at(const char *p) const
    {
        return (const char *)((uintptr_t)p + delta);
    }
};

/* A table's answer for x: whether it matches, and its new in *value. */
template <typename T>
struct TableLookup {
    const Table<T> *t;

    bool
    operator()(T x, T *value) const
    {
        *value = t->value[x];
        return t->hit[x];
    }
};

/* A hash's answer for x: every slot within reach of its home read with no
   branch, then the masked class. */
template <typename T>
struct HashLookup {
    const Hash *h;
    MatchPattern klass;
    bool has_class;

    bool
    operator()(T x, T *value) const
    {
        const Slot *s = hash_slots(h) + home(h, x);
        uint64_t hit = 0, v = 0;
        for (int j = 0; j < kProbes; j++) {
            const uint64_t m = 0 - (uint64_t)(s[j].key == x);
            v |= s[j].value & m;
            hit |= m;
        }
        if (sizeof(T) == 8) {
            /* An empty slot's key: a match only if it is a pattern. */
            const uint64_t e = 0 - (uint64_t)(x == kEmpty);
            hit = (hit & ~e) | (h->empty_hit & e);
            v = (v & ~e) | (h->empty_value & e);
        }
        if (has_class && class_matches(klass, x)) {
            hit = 1;
            v = klass.new_bits;
        }
        *value = (T)v;
        return hit != 0;
    }
};

/* Replaces through `lookup` in every run of `it`, 64 elements a step:
   first every element is looked up (loads only), then a step whose
   elements all match stores them all, and another stores its matches one
   by one.  The addresses of the stores then never wait on the lookups, so
   the loads of the next step run ahead of them. */
template <typename T, typename Lookup>
void
walk_lookup(ElemIter *it, const Lookup &lookup, Source from)
{
    T values[64];
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        const npy_intp stride = it->inner_stride;
        for (npy_intp n = it->inner_len; n > 0;) {
            const npy_intp m = n < 64 ? n : 64;
            uint64_t hits = 0;
            for (npy_intp i = 0; i < m; i++) {
                hits |= (uint64_t)lookup(load_one<T>(from.at(p + i * stride)),
                                         &values[i])
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
walk_whole_table(ElemIter *it, const Table<T> *t, Source from)
{
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        const npy_intp stride = it->inner_stride;
        for (npy_intp n = it->inner_len; n > 0; n--, p += stride) {
            store_one<T>(p, t->value[load_one<T>(from.at(p))]);
        }
    }
}

/* A table's walk: every element stored when every value matches. */
template <typename T>
void
walk_table(ElemIter *it, const Table<T> *t, Source from)
{
    if (t->hits == sizeof t->hit) {
        walk_whole_table(it, t, from);
    }
    else {
        walk_lookup<T>(it, TableLookup<T>{t}, from);
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
lookup_add(void **lookup, npy_intp size, uint64_t old_bits, uint64_t new_bits,
           uint64_t *known)
{
    switch (size) {
    case 1:
        return table_add((Table<uint8_t> *)*lookup, old_bits, new_bits, known);
    case 2:
        return table_add((Table<uint16_t> *)*lookup, old_bits, new_bits,
                         known);
    default: {
        Hash *h = (Hash *)*lookup;
        if (hash_known(h, old_bits, known)) {
            return 0;
        }
        if (!hash_put(&h, old_bits, new_bits)) {
            return -1;
        }
        *lookup = h;
        return 1;
    }
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
        if (lookup_add(&plan->lookup, plan->size, plan->old_bits[i],
                       plan->new_bits[i], &known)
            < 0) {
            PyErr_NoMemory();
            return -1;
        }
    }
    if (plan->has_class) {
        lookup_add_class(plan->lookup, plan->size, plan->klass);
    }
    return 0;
}

void
many_lookup_walk(ElemIter *it, const ManyPlan *plan, const char *before)
{
    const Source from = {
        before == NULL ? 0 : (uintptr_t)before - (uintptr_t)it->run_ptr};
    const Hash *h = (const Hash *)plan->lookup;
    switch (plan->size) {
    case 1:
        walk_table(it, (const Table<uint8_t> *)plan->lookup, from);
        break;
    case 2:
        walk_table(it, (const Table<uint16_t> *)plan->lookup, from);
        break;
    case 4:
        walk_lookup<uint32_t>(
            it, HashLookup<uint32_t>{h, plan->klass, plan->has_class}, from);
        break;
    default:
        walk_lookup<uint64_t>(
            it, HashLookup<uint64_t>{h, plan->klass, plan->has_class}, from);
        break;
    }
}
