/*
 * The choice of vector width: once per process, at module initialisation,
 * the widest build of the walks that both the processor and the operating
 * system (which must save the wider registers) support, of two builds of a
 * width the one whose stores suit the processor, and in which runs the walks
 * ask for the lines ahead of them.  Nothing else takes part: no environment
 * variable, no setting.
 */
#include "cpu.h"
#include "kernels.h"
#include "walk.h"

/* The builds compiled in, widest first, as the build lists them. */
#define WALK_TABLE_ENTRY(target) &walk_table_##target,
static const WalkTable *const built_tables[] = {
    FENNICK_TARGETS(WALK_TABLE_ENTRY)};
#undef WALK_TABLE_ENTRY
static const int built_count =
    (int)(sizeof(built_tables) / sizeof(built_tables[0]));
static_assert(sizeof(built_tables) / sizeof(built_tables[0])
                  <= KERNELS_MAX_TABLES,
              "room for every build");

#define NARROWEST_(target) &walk_table_##target
#define NARROWEST(target) NARROWEST_(target)
const WalkTable *walk_table = NARROWEST(FENNICK_NARROWEST);

/* Where prefetches slow a run from memory: runs up to half the last
   level of cache that one of Zen 4's core complexes shares, whose lines
   come from it sooner when asked for; where a vector is a whole line,
   none, as they slow those loops in the cache too. */
static const npy_intp kPrefetchInCacheMost = (npy_intp)16 << 20;
npy_intp walk_prefetch_most[2] = {NPY_MAX_INTP, NPY_MAX_INTP};
bool walk_permutes_bytes = false;

/* The builds this processor runs, widest first, found by kernels_init:
   asking the processor is slow (under a hypervisor, a trap each time). */
static const WalkTable *usable_tables[KERNELS_MAX_TABLES];
static int usable_count = 0;

void
kernels_init(void)
{
    const bool slow = cpu_software_prefetch_slow();
    walk_prefetch_most[0] = slow ? kPrefetchInCacheMost : NPY_MAX_INTP;
    walk_prefetch_most[1] = slow ? 0 : NPY_MAX_INTP;
    walk_permutes_bytes = cpu_permutes_bytes();
    usable_count = 0;
    for (int i = 0; i < built_count; i++) {
        if (cpu_runs(built_tables[i]->isa)) {
            usable_tables[usable_count++] = built_tables[i];
        }
    }
    /* The widest whose stores suit the processor; the baseline always
       runs and suits every one, so there is one. */
    const bool slow_vmaskmov = cpu_vmaskmov_stores_slow();
    for (int i = 0; i < usable_count; i++) {
        if (!(usable_tables[i]->vmaskmov_stores && slow_vmaskmov)) {
            walk_table = usable_tables[i];
            break;
        }
    }
}

int
kernels_usable(const WalkTable **tables, int capacity)
{
    int n = 0;
    for (; n < usable_count && n < capacity; n++) {
        tables[n] = usable_tables[n];
    }
    return n;
}
