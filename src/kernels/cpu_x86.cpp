/*
 * The vector builds an x86-64 processor runs: CPUID says what the
 * processor has, XGETBV which registers the operating system saves.
 */
#include <cpuid.h>
#include <stdint.h>
#include <string.h>

#include "cpu.h"

/* The register state the operating system saves (XCR0). */
static uint64_t
saved_state(void)
{
    uint32_t lo, hi;
    __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
    return ((uint64_t)hi << 32) | lo;
}

bool
cpu_runs(const char *isa)
{
    if (strcmp(isa, "baseline") == 0) {
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
    if (strcmp(isa, "avx2") == 0) {
        return avx2;
    }
    const bool avx512 = (state & 0xe6) == 0xe6 /* and opmask, ZMM */
                        && (b & bit_AVX512F) && (b & bit_AVX512BW)
                        && (b & bit_AVX512VL);
    return strcmp(isa, "avx512") == 0 && avx2 && avx512;
}

/* Whether the processor is AMD's (or Hygon's, which are AMD's design). */
static bool
amd_design(void)
{
    unsigned a, b, c, d;
    if (!__get_cpuid(0, &a, &b, &c, &d)) {
        return false;
    }
    char vendor[12];
    memcpy(vendor, &b, 4);
    memcpy(vendor + 4, &d, 4);
    memcpy(vendor + 8, &c, 4);
    return memcmp(vendor, "AuthenticAMD", 12) == 0
           || memcmp(vendor, "HygonGenuine", 12) == 0;
}

/* Whether the processor has AVX-512 F: among AMD's, Zen 4 and later. */
static bool
has_avx512f(void)
{
    unsigned a, b, c, d;
    return __get_cpuid_count(7, 0, &a, &b, &c, &d) && (b & bit_AVX512F);
}

bool
cpu_vmaskmov_stores_slow(void)
{
    /* AMD's processors microcode vmaskmov stores up to Zen 3; Zen 4, the
       first with AVX-512, does not. */
    return amd_design() && !has_avx512f();
}

bool
cpu_software_prefetch_slow(void)
{
    /* On Zen 4 the walks' prefetches of the lines ahead take bandwidth
       from a stream from memory that the hardware prefetchers already
       follow, at every width; earlier processors are left as they were
       measured. */
    return amd_design() && has_avx512f();
}

bool
cpu_permutes_bytes(void)
{
    unsigned a, b, c, d;
    return cpu_runs("avx512") && __get_cpuid_count(7, 0, &a, &b, &c, &d)
           && (c & bit_AVX512VBMI);
}
