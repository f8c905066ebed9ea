/*
 * The table of walks of one target, named by target.h (the build defines
 * WALK_VMASKMOV_STORES for a target whose walks store through AVX2's
 * vmaskmov).  target_walks.cpp includes this once; everything else it
 * compiles has internal linkage, so the targets never mix.
 * target_walks_few.cpp builds the same unit with WALK_FEW_UNIT defined,
 * for the walks of replace_many's olds.
 */
#include "replace_walk.h"
#ifdef WALK_FEW_UNIT
#include "match_many.h"
#endif

#ifndef WALK_VMASKMOV_STORES
#define WALK_VMASKMOV_STORES false
#endif

#define WALK_CONCAT_(a, b) a##b
#define WALK_CONCAT(a, b) WALK_CONCAT_(a, b)
/* replace_many's walks of a few olds, in a unit of their own (the same
   file built with WALK_FEW_UNIT defined): in one unit with the others,
   their many instances used up the compiler's budget for inlining there,
   and the replace walks of AVX2 and AVX-512 then called replace_few and
   their span setup out of line. */
#define WALK_FEW_TABLE WALK_CONCAT(WALK_TABLE, _few)
#define WALK_MANY_TABLE WALK_CONCAT(WALK_TABLE, _many)

/* Declared extern first: a namespace-scope const is otherwise local. */
extern const WalkFewFunc WALK_FEW_TABLE[4];
extern const WalkManyFunc WALK_MANY_TABLE[WALK_MANY_KINDS];

#ifdef WALK_FEW_UNIT
const WalkFewFunc WALK_FEW_TABLE[4] = {walk_few<uint8_t>, walk_few<uint16_t>,
                                       walk_few<uint32_t>, walk_few<uint64_t>};
const WalkManyFunc WALK_MANY_TABLE[WALK_MANY_KINDS] = {
    walk_filtered<uint8_t>,
    walk_filtered<uint16_t>,
    walk_filtered<uint32_t>,
    walk_filtered<uint64_t>,
    walk_dense<uint32_t>,
    walk_dense<uint64_t>,
    walk_compared<uint8_t>,
    walk_compared<uint16_t>,
    walk_compared<uint32_t>,
    walk_compared<uint64_t>,
    Simd<uint8_t>::kByteShuffle ? walk_byte_set<uint8_t> : NULL};
#else
extern const WalkTable WALK_TABLE;
extern const CopyTable COPY_TABLE; /* target_copy.cpp's */
/* The walk of each kind, in WalkKind's order. */
#define WALKS(w)                                                              \
    {                                                                         \
        w<double, MatchEqual>,    /* WALK_F64_EQUAL */                        \
        w<double, MatchNan>,      /* WALK_F64_NAN */                          \
        w<float, MatchEqual>,     /* WALK_F32_EQUAL */                        \
        w<float, MatchNan>,       /* WALK_F32_NAN */                          \
        w<uint8_t, MatchEqual>,   /* WALK_BITS8_EQUAL */                      \
        w<uint16_t, MatchEqual>,  /* WALK_BITS16_EQUAL */                     \
        w<uint32_t, MatchEqual>,  /* WALK_BITS32_EQUAL */                     \
        w<uint64_t, MatchEqual>,  /* WALK_BITS64_EQUAL */                     \
        w<uint8_t, MatchMasked>,  /* WALK_BITS8_MASKED */                     \
        w<uint16_t, MatchMasked>, /* WALK_BITS16_MASKED */                    \
        w<uint32_t, MatchMasked>, /* WALK_BITS32_MASKED */                    \
        w<uint64_t, MatchMasked>, /* WALK_BITS64_MASKED */                    \
    }

const WalkTable WALK_TABLE = {
    WALK_TARGET,          WALK_ISA,
    WALK_VMASKMOV_STORES, (int)Simd<uint8_t>::kLanes,
    WALKS(walk),          WALK_FEW_TABLE,
    WALK_MANY_TABLE,      &COPY_TABLE,
};
static_assert(WALK_KINDS == 12, "one walk per kind");
#endif
