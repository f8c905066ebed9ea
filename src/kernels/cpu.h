/*
 * What the processor this process runs on can execute, and what it does
 * slowly: the questions the choice of width asks.  Answered by cpu_x86.cpp on x86-64 and by
 * cpu_any.cpp on every other platform, where only the baseline is built.
 */
#ifndef FENNICK_KERNELS_CPU_H
#define FENNICK_KERNELS_CPU_H

/* Whether this processor, and the operating system for the registers it
   must save, run the instructions named `isa` (a target's, as the build
   lists it: "baseline", "avx2", "avx512"). */
bool cpu_runs(const char *isa);

/* Whether AVX2's masked stores (vmaskmov) are microcoded on this processor,
   so that the build without them serves it better. */
bool cpu_vmaskmov_stores_slow(void);

/* Whether the walks' own requests for the lines ahead of a contiguous run
   slow it on this processor when it comes from memory, where the hardware
   prefetchers keep up alone. */
bool cpu_software_prefetch_slow(void);

/* Whether the processor permutes bytes across a 64-byte vector (AVX-512
   VBMI), which the AVX-512 walks then use where they have it. */
bool cpu_permutes_bytes(void);

#endif /* FENNICK_KERNELS_CPU_H */
