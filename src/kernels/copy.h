/*
 * What the copying walks need to know, and the table of them that one
 * build of the copying template provides (one per vector width, as the
 * in-place walks: walk.h).
 */
#ifndef FENNICK_KERNELS_COPY_H
#define FENNICK_KERNELS_COPY_H

#include "../iter/pair_iter.h"
#include "walk.h"

/* Writes every element of `it`'s source into its destination, replaced by
   `pattern` where it matches.  `stream`: store the destination past the
   cache (a destination too large to stay in it).  Touches nothing but
   array memory, so it runs without the interpreter lock. */
typedef void (*CopyFunc)(PairIter *it, const MatchPattern *pattern,
                         bool stream);

struct CopyTable {
    const char *name; /* the name of the in-place table of its width */
    CopyFunc copy[WALK_KINDS];
};

extern const CopyTable copy_table_baseline;
#ifdef FENNICK_HAVE_AVX2
extern const CopyTable copy_table_avx2;
#endif
#ifdef FENNICK_HAVE_AVX2_SCALAR
extern const CopyTable copy_table_avx2_scalar;
#endif
#ifdef FENNICK_HAVE_AVX512
extern const CopyTable copy_table_avx512;
#endif

#endif /* FENNICK_KERNELS_COPY_H */
