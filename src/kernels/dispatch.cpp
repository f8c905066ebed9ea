/*
 * The choice of vector width: once per process, at module initialisation,
 * the widest build of the walks that both the processor and the operating
 * system (which must save the wider registers) support.  Nothing else takes
 * part: no environment variable, no setting.
 */
#define NO_IMPORT_ARRAY
#include <cpuid.h>
#include <string.h>

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
    &walk_table_baseline,
};
static const int built_count =
    (int)(sizeof(built_tables) / sizeof(built_tables[0]));

const WalkTable *walk_table = &walk_table_baseline;

/* The builds this processor runs, widest first, found by kernels_init:
   asking the processor is slow (under a hypervisor, a trap each time). */
static const WalkTable
    *usable_tables[sizeof(built_tables) / sizeof(built_tables[0])];
static int usable_count = 0;

/* The register state the operating system saves (XCR0). */
static uint64_t
saved_state(void)
{
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return ((uint64_t)hi << 32) | lo;
}

/* Whether this processor can run the build named `name`. */
static bool
cpu_runs(const char *name)
{
    if (strcmp(name, "baseline") == 0) {
        return true;
    }
    unsigned a, b, c, d;
    if (!__get_cpuid(1, &a, &b, &c, &d) || !(c & bit_OSXSAVE)
        || !(c & bit_AVX)) {
        return false;
    }
    const uint64_t state = saved_state();
    if (!__get_cpuid_count(7, 0, &a, &b, &c, &d)) {
        return false;
    }
    const bool avx2 = (state & 0x6) == 0x6 /* XMM and YMM */
                      && (b & bit_AVX2) && (b & bit_BMI) && (b & bit_BMI2);
    if (strcmp(name, "avx2") == 0) {
        return avx2;
    }
    const bool avx512 = (state & 0xe6) == 0xe6 /* and opmask, ZMM */
                        && (b & bit_AVX512F) && (b & bit_AVX512BW)
                        && (b & bit_AVX512VL);
    return strcmp(name, "avx512") == 0 && avx2 && avx512;
}

void
kernels_init(void)
{
    usable_count = 0;
    for (int i = 0; i < built_count; i++) {
        if (cpu_runs(built_tables[i]->name)) {
            usable_tables[usable_count++] = built_tables[i];
        }
    }
    /* The baseline always runs, so there is at least one. */
    walk_table = usable_tables[0];
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
