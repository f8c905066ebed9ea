/*
 * The choice of vector width: once per process, at module initialisation,
 * the widest build of the walks that both the processor and the operating
 * system (which must save the wider registers) support, of two builds of a
 * width the one whose stores suit the processor, and whether the walks ask
 * for the lines ahead of them.  Nothing else takes part: no environment
 * variable, no setting.
 */
#include "cpu.h"
#include "kernels.h"
#include "walk.h"

/* The builds compiled in, widest first; the baseline is always there. */
static const WalkTable *const built_tables[] = {
#ifdef FENNICK_HAVE_AVX512
    &walk_table_avx512,
#endif
#ifdef FENNICK_HAVE_AVX2
    &walk_table_avx2,
#endif
#ifdef FENNICK_HAVE_AVX2_SCALAR
    &walk_table_avx2_scalar,
#endif
    &walk_table_baseline,
};
static const int built_count =
    (int)(sizeof(built_tables) / sizeof(built_tables[0]));
static_assert(sizeof(built_tables) / sizeof(built_tables[0])
                  <= KERNELS_MAX_TABLES,
              "room for every build");

const WalkTable *walk_table = &walk_table_baseline;

/* Where nothing else is known: far enough ahead for the lines to arrive,
   within the next page of memory. */
static const intptr_t kPrefetchAhead = 4096;
intptr_t walk_prefetch_ahead = kPrefetchAhead;

/* The builds this processor runs, widest first, found by kernels_init:
   asking the processor is slow (under a hypervisor, a trap each time). */
static const WalkTable *usable_tables[KERNELS_MAX_TABLES];
static int usable_count = 0;

void
kernels_init(void)
{
    walk_prefetch_ahead = cpu_software_prefetch_slow() ? 0 : kPrefetchAhead;
    usable_count = 0;
    for (int i = 0; i < built_count; i++) {
        if (cpu_runs(built_tables[i]->name)) {
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
