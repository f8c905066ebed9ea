/*
 * What a walk needs to know, and the table of walks that one build of the
 * kernel template provides.
 *
 * An element matches by one of two kinds of test.  The float walks compare
 * with IEEE equality (or test for NaN) in the element type, as the
 * processor does.  The bit walks look only at the stored bits, so they serve
 * integers, bools, float16 and data in either byte order alike:
 *
 *     EQUAL:   x == old_bits
 *     MASKED:  (x & and_mask) == and_bits  &&  (x & not_mask) != not_bits
 *
 * MASKED expresses "is a zero" (and_mask drops the sign bit), "is a NaN"
 * (exponent all ones, fraction not zero) and "is nonzero"; a not_mask of 0
 * with not_bits of 1 switches its second half off.  Every matching element
 * is overwritten with new_bits; no other element is stored to.
 */
#ifndef FENNICK_KERNELS_WALK_H
#define FENNICK_KERNELS_WALK_H

#include <stdint.h>

#include "../iter/elem_iter.h"

struct MatchPattern {
    uint64_t old_bits; /* EQUAL (and the float walks' `old`) */
    uint64_t and_mask; /* MASKED */
    uint64_t and_bits;
    uint64_t not_mask;
    uint64_t not_bits;
    uint64_t new_bits; /* written where an element matches */
};

/* The walks, by element and test; the bit walks by element width. */
enum WalkKind {
    WALK_F64_EQUAL,
    WALK_F64_NAN,
    WALK_F32_EQUAL,
    WALK_F32_NAN,
    WALK_BITS8_EQUAL,
    WALK_BITS16_EQUAL,
    WALK_BITS32_EQUAL,
    WALK_BITS64_EQUAL,
    WALK_BITS8_MASKED,
    WALK_BITS16_MASKED,
    WALK_BITS32_MASKED,
    WALK_BITS64_MASKED,
    WALK_KINDS
};

/* Replaces in every run of `it` by `pattern`.  Touches nothing but array
   memory, so it runs without the interpreter lock. */
typedef void (*WalkFunc)(ElemIter *it, const MatchPattern *pattern);

/* A few olds at once (replace_many): `count` (at least 1) exact bit
   patterns, each with its new, and perhaps the masked class `klass` with
   its own new (klass.new_bits).  No two match the same element. */
#define WALK_FEW 8

/* Up to this many olds the walk behind the prefilter (below) may compare
   a vector with each of them (FewPatterns holds them). */
#define WALK_COMPARED 64

struct FewPatterns {
    int count;
    uint64_t old_bits[WALK_COMPARED], new_bits[WALK_COMPARED];
    bool has_class;
    MatchPattern klass;
    bool same_new; /* every match, the class's too, takes new_bits[0] */
};

/* Replaces every element of `it` that matches one of `few` by its new.
   Walks by the elements' size: 1, 2, 4 or 8 bytes, compared as bits. */
typedef void (*WalkFewFunc)(ElemIter *it, const FewPatterns *few);

/* Many olds (replace_many): a vector prefilter in front of a lookup.  Every
   pattern lies in one of two ranges of bits taken as unsigned integers,
   lo[k] <= x <= lo[k] + span[k]; only the lanes in one go to `lookup` (a
   table over every value for 8- and 16-bit elements, a hash of the
   patterns or a dense table of the values near them for wider ones,
   many_lookup.h).  The masked class, if any, is
   tested as a vector apart (and folded into a table too). */
struct ManyFilter {
    uint64_t lo[2], span[2];
    const void *lookup;
    bool has_class;
    MatchPattern klass;
    const FewPatterns *few; /* the patterns, for the walk that compares a
                               vector in range with each; else NULL */
    bool same_new;          /* every match, the class's too, takes new_bits */
    uint64_t new_bits;      /* that new, when same_new */
};

/* Replaces every element of `it` that `many` matches by its new.  Walks by
   the elements' size: 1, 2, 4 or 8 bytes, compared as bits. */
typedef void (*WalkManyFunc)(ElemIter *it, const ManyFilter *many);

/* walk_many's entries: the filtered walks by log2 of the element size,
   the dense ones for 4 and 8 bytes, the compared ones by size, and the
   walk of 8-bit elements through a set of their values in registers (NULL
   where the target has no byte shuffle). */
enum {
    WALK_MANY_FILTERED = 0,
    WALK_MANY_DENSE = 4, /* 4 bytes; 8 bytes next */
    WALK_MANY_COMPARED = 6,
    WALK_MANY_BYTE_SET = 10,
    WALK_MANY_KINDS
};

struct CopyTable;

struct WalkTable {
    const char *name;     /* the target's, from the build's list */
    const char *isa;      /* what cpu_runs checks the processor for */
    bool vmaskmov_stores; /* stores through AVX2's vmaskmov */
    int vector_bytes;     /* of the walks' vectors */
    WalkFunc walk[WALK_KINDS];
    const WalkFewFunc *walk_few;   /* 4, by log2 of the element size */
    const WalkManyFunc *walk_many; /* WALK_MANY_KINDS of them */
    const CopyTable *copy;         /* the copying walks of the same target */
};

/* The longest contiguous run, in bytes, in which the walks ask for the
   lines ahead of them, by whether their vectors are a line of the cache
   (64 bytes) wide: any where the processor gains by it, else those that
   the cache could hold, or with such vectors none.  Set once, by the
   processor, before any walk (kernels_init). */
extern npy_intp walk_prefetch_most[2];
/* Whether the processor permutes bytes across a 64-byte vector
   (cpu_permutes_bytes), set once by kernels_init. */
extern bool walk_permutes_bytes;

/* One table per target built, each from its own build of the template:
   FENNICK_TARGETS(X), from the build's list of targets, applies X to each
   name, widest first, and FENNICK_NARROWEST names the one every processor
   of the platform runs. */
#include "fennick_targets.h"
#define WALK_TABLE_DECLARE(target) extern const WalkTable walk_table_##target;
FENNICK_TARGETS(WALK_TABLE_DECLARE)
#undef WALK_TABLE_DECLARE

#endif /* FENNICK_KERNELS_WALK_H */
