/*
 * What the copying walks need to know, and the table of them that one
 * build of the copying template provides (one per target, reached through
 * the target's table of in-place walks: walk.h).
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

/* The same for a few olds (replace_many's `few`). */
typedef void (*CopyFewFunc)(PairIter *it, const FewPatterns *few, bool stream);

struct CopyTable {
    const char *name; /* its target's */
    CopyFunc copy[WALK_KINDS];
    CopyFewFunc copy_few[4]; /* by log2 of the element size */
};

#endif /* FENNICK_KERNELS_COPY_H */
