/*
 * Many olds through a lookup, element by element.  For 8- and 16-bit
 * elements a table over every value says whether it matches and what
 * replaces it; wider elements look their bits up in a hash of the
 * patterns, behind a filter of 2**16 bits that turns most non-matching
 * elements away with one load.  The masked class is a test of its own
 * (folded into the table for narrow elements).
 *
 * Scalar code, the same on every processor; the walk never stores into an
 * element that does not match.
 */
#include <string.h>

#include "../iter/elem_iter.h"
#include "many.h"
#include "simd_lanes.h"

namespace {

/* Elements of 8 or 16 bits: hit[v] != 0 when v matches, value[v] its
   new. */
template <typename T>
struct Table {
    uint8_t hit[(size_t)1 << (8 * sizeof(T))];
    T value[(size_t)1 << (8 * sizeof(T))];
};

constexpr int kFilterBits = 16;

/* Elements of 32 or 64 bits: open addressing, linear probing, at most a
   quarter full. */
struct Hash {
    int shift; /* slot = hash >> shift */
    npy_intp mask;
    uint64_t filter[((size_t)1 << kFilterBits) / 64];
    /* then keys, values (capacity each) and used (capacity bytes) */
};

inline uint64_t
mix(uint64_t x)
{
    return x * 0x9e3779b97f4a7c15u; /* 2**64 / golden ratio: the top bits
                                        depend on every bit of x */
}

inline uint64_t
filter_bit(uint64_t h)
{
    return (h >> 20) & (((uint64_t)1 << kFilterBits) - 1);
}

inline bool
class_matches(const MatchPattern &k, uint64_t x)
{
    return ((x & k.and_mask) == k.and_bits) & ((x & k.not_mask) != k.not_bits);
}

template <typename T>
Table<T> *
build_table(const ManyPlan *plan)
{
    Table<T> *t = (Table<T> *)PyMem_RawMalloc(sizeof(Table<T>));
    if (t == NULL) {
        return NULL;
    }
    /* Values too, so the walk can read one for any element. */
    memset(t, 0, sizeof *t);
    if (plan->has_class) {
        for (size_t v = 0; v < sizeof t->hit; v++) {
            if (class_matches(plan->klass, v)) {
                t->hit[v] = 1;
                t->value[v] = (T)plan->klass.new_bits;
            }
        }
    }
    for (npy_intp i = 0; i < plan->count; i++) {
        t->hit[plan->old_bits[i]] = 1;
        t->value[plan->old_bits[i]] = (T)plan->new_bits[i];
    }
    return t;
}

Hash *
build_hash(const ManyPlan *plan)
{
    int log2_capacity = 4;
    while (((npy_intp)1 << log2_capacity) < 4 * plan->count) {
        log2_capacity++;
    }
    const size_t capacity = (size_t)1 << log2_capacity;
    Hash *h = (Hash *)PyMem_RawMalloc(sizeof(Hash) + capacity * 17);
    if (h == NULL) {
        return NULL;
    }
    memset(h, 0, sizeof(Hash) + capacity * 17);
    h->shift = 64 - log2_capacity;
    h->mask = (npy_intp)capacity - 1;
    uint64_t *keys = (uint64_t *)(h + 1);
    uint64_t *values = keys + capacity;
    uint8_t *used = (uint8_t *)(values + capacity);
    for (npy_intp i = 0; i < plan->count; i++) {
        const uint64_t m = mix(plan->old_bits[i]);
        h->filter[filter_bit(m) / 64] |= (uint64_t)1 << (filter_bit(m) % 64);
        npy_intp slot = (npy_intp)(m >> h->shift);
        while (used[slot]) {
            slot = (slot + 1) & h->mask;
        }
        used[slot] = 1;
        keys[slot] = plan->old_bits[i];
        values[slot] = plan->new_bits[i];
    }
    return h;
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
    const size_t capacity = (size_t)h->mask + 1;
    const uint64_t *keys = (const uint64_t *)(h + 1);
    const uint64_t *values = keys + capacity;
    const uint8_t *used = (const uint8_t *)(values + capacity);
    for (; it->runs_done < it->runs_total; elem_iter_next(it)) {
        char *p = it->run_ptr;
        for (npy_intp k = 0; k < it->inner_len; k++, p += it->inner_stride) {
            const T x = load_one<T>(from.at(p));
            if (plan->has_class && class_matches(plan->klass, x)) {
                store_one<T>(p, (T)plan->klass.new_bits);
                continue;
            }
            const uint64_t m = mix(x);
            const uint64_t f = filter_bit(m);
            if (!((h->filter[f / 64] >> (f % 64)) & 1)) {
                continue;
            }
            for (npy_intp slot = (npy_intp)(m >> h->shift); used[slot];
                 slot = (slot + 1) & h->mask) {
                if (keys[slot] == x) {
                    store_one<T>(p, (T)values[slot]);
                    break;
                }
            }
        }
    }
}

}  // namespace

int
many_lookup_build(ManyPlan *plan)
{
    switch (plan->size) {
    case 1:
        plan->lookup = build_table<uint8_t>(plan);
        break;
    case 2:
        plan->lookup = build_table<uint16_t>(plan);
        break;
    default:
        plan->lookup = build_hash(plan);
        break;
    }
    if (plan->lookup == NULL) {
        PyErr_NoMemory();
        return -1;
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
