/*
 * The lookups of many olds (replace_many), as the walks read them: for 8-
 * and 16-bit elements a table over every value, for wider ones a hash of
 * the patterns.  Built once per call (many_lookup.cpp) with the
 * interpreter lock held, then only read, by the scalar walk and by every
 * width's vector walk behind its prefilter.
 *
 * The hash is sized once, from the number of patterns, and never grows: its
 * memory is bounded by the patterns, whatever their values.  Its home slot
 * comes from the pattern mixed with a seed taken per lookup from the
 * record's address, so that no list of olds chosen in advance piles up in
 * one place.
 */
#ifndef FENNICK_KERNELS_MANY_LOOKUP_H
#define FENNICK_KERNELS_MANY_LOOKUP_H

#include <stdint.h>

#include "../numpy_api.h"
#include "walk.h"

namespace {

/* Elements of 8 or 16 bits: hit[v] when v matches, value[v] its new (zero
   elsewhere, so that any element's can be read). */
template <typename T>
struct Table {
    uint8_t hit[(size_t)1 << (8 * sizeof(T))];
    T value[(size_t)1 << (8 * sizeof(T))];
    size_t hits; /* values that match: all of them for a whole recoding */
};

/* Elements of 32 or 64 bits: open addressing with linear probing from a
   home among a power of two of slots, at most a quarter of them full, so
   that a probe for a value that is not there mostly stops at the first
   slot.  Probes never wrap: past the last home lie as many slots again as
   the hash holds patterns, and kProbes more, so that every run of full
   slots ends before the record does.  An empty
   slot holds the key kEmpty, which no 8- to 32-bit element can equal; a
   64-bit pattern equal to it is kept apart.  The slots follow the
   record. */
constexpr uint64_t kEmpty = 0xa5a5a5a5a5a5a5a5u;

struct Slot {
    uint64_t key, value;
};

struct Hash {
    int shift;      /* the home of x is mix(x) >> shift */
    uint64_t seed;  /* mixed into every key */
    npy_intp slots; /* homes: a power of two */
    npy_intp capacity;
    npy_intp count;
    uint64_t empty_hit; /* all ones when kEmpty is a pattern */
    uint64_t empty_value;
};

static inline Slot *
hash_slots(const Hash *h)
{
    return (Slot *)(h + 1);
}

/* The top bits of x (with the seed) times 2**64 over the golden ratio
   depend on every bit of x: floats and integers with long runs of equal
   low bits spread. */
static inline npy_intp
hash_home(const Hash *h, uint64_t x)
{
    return (npy_intp)(((x ^ h->seed) * 0x9e3779b97f4a7c15u) >> h->shift);
}

/* Whether `x` is a pattern of `h`, with its new in *value.  The first
   kProbes slots from its home are read with no branch (a pattern lies
   before the first empty slot from its home, and at most a quarter of
   the slots are full, so these mostly decide); past them, one at a
   time. */
constexpr int kProbes = 4;

template <typename T>
static inline bool
hash_lookup(const Hash *h, T x, T *value)
{
    if (sizeof(T) == 8 && (uint64_t)x == kEmpty) {
        *value = (T)h->empty_value;
        return h->empty_hit != 0;
    }
    const Slot *slots = hash_slots(h);
    const npy_intp at = hash_home(h, x);
    uint64_t hit = 0, found = 0, empty = 0;
    for (int j = 0; j < kProbes; j++) {
        const Slot &s = slots[at + j];
        const uint64_t m = 0 - (uint64_t)(s.key == (uint64_t)x);
        found |= s.value & m;
        hit |= m;
        empty |= s.key == kEmpty;
    }
    if ((hit | empty) != 0) {
        *value = (T)found;
        return hit != 0;
    }
    /* Ends: a run of full slots ends before the record does. */
    for (npy_intp s = at + kProbes;; s++) {
        const uint64_t key = slots[s].key;
        if (key == (uint64_t)x) {
            *value = (T)slots[s].value;
            return true;
        }
        if (key == kEmpty) {
            return false;
        }
    }
}

static inline bool
class_matches(const MatchPattern &k, uint64_t x)
{
    return ((x & k.and_mask) == k.and_bits) & ((x & k.not_mask) != k.not_bits);
}

/* A table's answer for x: whether it matches (the class folded in), and
   its new in *value. */
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

/* A hash's answer for x, the masked class (float NaNs) tested apart. */
template <typename T>
struct HashLookup {
    const Hash *h;
    MatchPattern klass;
    bool has_class;

    bool
    operator()(T x, T *value) const
    {
        if (has_class && class_matches(klass, x)) {
            *value = (T)klass.new_bits;
            return true;
        }
        return hash_lookup<T>(h, x, value);
    }
};

/* Elements of 32 or 64 bits whose patterns lie close together (codes of
   classes, say): a table over the values from lo to lo + span, with room
   for a few values a pattern, so that a lookup is a subtraction and two
   loads.  The values (span + 2 of them: the last, no hit, answers every
   value out of the table with no branch) and then the hits follow the
   record. */
struct Dense {
    uint64_t lo, span;
};

static inline uint64_t *
dense_values(const Dense *d)
{
    return (uint64_t *)(d + 1);
}

static inline uint8_t *
dense_hits(const Dense *d)
{
    return (uint8_t *)(dense_values(d) + d->span + 2);
}

/* A dense table's answer for x, the masked class tested apart. */
template <typename T>
struct DenseLookup {
    const Dense *d;
    MatchPattern klass;
    bool has_class;

    bool
    operator()(T x, T *value) const
    {
        if (has_class && class_matches(klass, x)) {
            *value = (T)klass.new_bits;
            return true;
        }
        const uint64_t at = (T)(x - (T)d->lo); /* wraps, as the lanes do */
        const uint64_t i = at > d->span ? d->span + 1 : at;
        *value = (T)dense_values(d)[i];
        return dense_hits(d)[i] != 0;
    }
};

/* The lookup of T's elements in `lookup` (a Table or a Hash, by size). */
template <typename T, bool kTable = sizeof(T) <= 2>
struct LookupOf;
template <typename T>
struct LookupOf<T, true> {
    typedef TableLookup<T> type;
    static type
    make(const void *lookup, const MatchPattern &, bool)
    {
        return type{(const Table<T> *)lookup};
    }
};
template <typename T>
struct LookupOf<T, false> {
    typedef HashLookup<T> type;
    static type
    make(const void *lookup, const MatchPattern &klass, bool has_class)
    {
        return type{(const Hash *)lookup, klass, has_class};
    }
};

}  // namespace

#endif /* FENNICK_KERNELS_MANY_LOOKUP_H */
