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
};

/* Elements of 32 or 64 bits: open addressing in which every pattern lies
   at most kProbes slots past its home, so that a lookup reads a fixed
   number of slots with no branch; a table that cannot place a pattern so
   doubles.  The slots (kProbes - 1 spare ones at the end, so that no probe
   wraps) follow the record. */
constexpr int kProbes = 4;

struct Slot {
    uint64_t key, value;
    uint64_t used; /* all ones or zero, to mask with */
};

struct Hash {
    int shift; /* the home of x is hash(x) >> shift */
    npy_intp slots;
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
    const size_t slots = (size_t)1 << log2_slots;
    Hash *h = (Hash *)PyMem_RawCalloc(
        1, sizeof(Hash) + (slots + kProbes - 1) * sizeof(Slot));
    if (h != NULL) {
        *h = Hash{64 - log2_slots, (npy_intp)slots};
    }
    return h;
}

/* A slot for `x` within reach of its home, or -1 when none is free;
   *found when x is there already. */
npy_intp
hash_find(const Hash *h, uint64_t x, bool *found)
{
    const Slot *slots = hash_slots(h);
    const npy_intp at = home(h, x);
    for (npy_intp s = at; s < at + kProbes; s++) {
        if (!slots[s].used || slots[s].key == x) {
            *found = slots[s].used != 0;
            return s;
        }
    }
    *found = false;
    return -1;
}

/* Adds to `*hp`, doubling it (into a new record) until the pattern finds a
   place.  Returns false when memory runs out. */
bool
hash_put(Hash **hp, uint64_t key, uint64_t value)
{
    bool found;
    npy_intp s;
    while ((s = hash_find(*hp, key, &found)) < 0) {
        Hash *old = *hp;
        Hash *bigger = hash_new(64 - old->shift + 1);
        if (bigger == NULL) {
            return false;
        }
        const Slot *slots = hash_slots(old);
        for (npy_intp i = 0; i < old->slots + kProbes - 1; i++) {
            if (slots[i].used
                && !hash_put(&bigger, slots[i].key, slots[i].value)) {
                PyMem_RawFree(bigger);
                return false;
            }
        }
        PyMem_RawFree(old);
        *hp = bigger;
    }
    hash_slots(*hp)[s] = Slot{key, value, ~(uint64_t)0};
    return true;
}

/* A hash for up to `capacity` patterns: at most an eighth full at first. */
Hash *
hash_for(npy_intp capacity)
{
    int log2_slots = 4;
    while (((npy_intp)1 << log2_slots) < 8 * capacity) {
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
    return true;
}

template <typename T>
void
table_add_class(Table<T> *t, const MatchPattern &klass)
{
    for (size_t v = 0; v < sizeof t->hit; v++) {
        if (class_matches(klass, v)) {
            t->hit[v] = 1;
            t->value[v] = (T)klass.new_bits;
        }
    }
}

/* Where each element's value before the call is read from. */
struct Source {
    const char *before, *lowest;

    const char *
    at(const char *p) const
    {
        return before == NULL ? p : before + (p - lowest);
    }
};

template <typename T>
void
walk_table(ElemIter *it, const Table<T> *t, Source from)
{
    alignas(8) char scratch[8];
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        for (npy_intp k = 0; k < it->inner_len; k++, p += it->inner_stride) {
            const T x = load_one<T>(from.at(p));
            /* No branch on the match: a non-match stores to scratch. */
            store_one<T>(t->hit[x] ? p : scratch, t->value[x]);
        }
    }
}

template <typename T>
void
walk_hash(ElemIter *it, const ManyPlan *plan, const Hash *h, Source from)
{
    alignas(8) char scratch[8];
    const Slot *slots = hash_slots(h);
    const MatchPattern klass = plan->klass;
    const bool has_class = plan->has_class;
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        for (npy_intp k = 0; k < it->inner_len; k++, p += it->inner_stride) {
            const T x = load_one<T>(from.at(p));
            const Slot *s = slots + home(h, x);
            // every slot within reach, with no branch
            uint64_t hit = 0, value = 0;
            for (int j = 0; j < kProbes; j++) {
                const uint64_t m = s[j].used & (0 - (uint64_t)(s[j].key == x));
                value |= s[j].value & m;
                hit |= m;
            }
            if (has_class && class_matches(klass, x)) {
                hit = 1;
                value = klass.new_bits;
            }
            /* A non-match stores to scratch. */
            store_one<T>(hit ? p : scratch, (T)value);
        }
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
        bool found;
        Hash *h = (Hash *)*lookup;
        const npy_intp s = hash_find(h, old_bits, &found);
        if (found) {
            *known = hash_slots(h)[s].value;
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
    const Source from = {before, it->run_ptr};
    switch (plan->size) {
    case 1:
        walk_table(it, (const Table<uint8_t> *)plan->lookup, from);
        break;
    case 2:
        walk_table(it, (const Table<uint16_t> *)plan->lookup, from);
        break;
    case 4:
        walk_hash<uint32_t>(it, plan, (const Hash *)plan->lookup, from);
        break;
    default:
        walk_hash<uint64_t>(it, plan, (const Hash *)plan->lookup, from);
        break;
    }
}
