/*
 * The table of walks of one vector width.  Each target's unit
 * (walk_<target>.cpp) defines WALK_TABLE and WALK_TARGET and includes this
 * once; everything else it compiles has internal linkage, so the widths
 * never mix.
 */
#define NO_IMPORT_ARRAY
#include "replace_walk.h"

/* Declared extern first: a namespace-scope const is otherwise local. */
extern const WalkTable WALK_TABLE;
const WalkTable WALK_TABLE = {
    WALK_TARGET,
    {
        walk<double, MatchEqual>,    /* WALK_F64_EQUAL */
        walk<double, MatchNan>,      /* WALK_F64_NAN */
        walk<float, MatchEqual>,     /* WALK_F32_EQUAL */
        walk<float, MatchNan>,       /* WALK_F32_NAN */
        walk<uint8_t, MatchEqual>,   /* WALK_BITS8_EQUAL */
        walk<uint16_t, MatchEqual>,  /* WALK_BITS16_EQUAL */
        walk<uint32_t, MatchEqual>,  /* WALK_BITS32_EQUAL */
        walk<uint64_t, MatchEqual>,  /* WALK_BITS64_EQUAL */
        walk<uint8_t, MatchMasked>,  /* WALK_BITS8_MASKED */
        walk<uint16_t, MatchMasked>, /* WALK_BITS16_MASKED */
        walk<uint32_t, MatchMasked>, /* WALK_BITS32_MASKED */
        walk<uint64_t, MatchMasked>, /* WALK_BITS64_MASKED */
    },
};
static_assert(WALK_KINDS == 12, "one walk per kind");
