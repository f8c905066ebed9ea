/*
 * The table of copying walks of one target, named by target.h:
 * target_copy.cpp includes this once.
 */
#include "copy_walk.h"

extern const CopyTable COPY_TABLE;
const CopyTable COPY_TABLE = {
    WALK_TARGET,
    {
        copy_walk<double, MatchEqual>,    /* WALK_F64_EQUAL */
        copy_walk<double, MatchNan>,      /* WALK_F64_NAN */
        copy_walk<float, MatchEqual>,     /* WALK_F32_EQUAL */
        copy_walk<float, MatchNan>,       /* WALK_F32_NAN */
        copy_walk<uint8_t, MatchEqual>,   /* WALK_BITS8_EQUAL */
        copy_walk<uint16_t, MatchEqual>,  /* WALK_BITS16_EQUAL */
        copy_walk<uint32_t, MatchEqual>,  /* WALK_BITS32_EQUAL */
        copy_walk<uint64_t, MatchEqual>,  /* WALK_BITS64_EQUAL */
        copy_walk<uint8_t, MatchMasked>,  /* WALK_BITS8_MASKED */
        copy_walk<uint16_t, MatchMasked>, /* WALK_BITS16_MASKED */
        copy_walk<uint32_t, MatchMasked>, /* WALK_BITS32_MASKED */
        copy_walk<uint64_t, MatchMasked>, /* WALK_BITS64_MASKED */
    },
    {copy_few<uint8_t>, copy_few<uint16_t>, copy_few<uint32_t>,
     copy_few<uint64_t>},
};
static_assert(WALK_KINDS == 12, "one copying walk per kind");
