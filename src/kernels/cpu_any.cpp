/* Platforms with one build of the walks, made for what every processor of
   the platform has (ASIMD on AArch64): it always runs. */
#include "cpu.h"

bool
cpu_runs(const char *)
{
    return true;
}

bool
cpu_vmaskmov_stores_slow(void)
{
    return false;
}

bool
cpu_software_prefetch_slow(void)
{
    return false;
}

bool
cpu_permutes_bytes(void)
{
    return false;
}
