/*
 * The vector primitives of the target this unit is compiled for, chosen by
 * the compiler's own macros: one file per target, each defining
 * Simd<T> for lanes of T (uint8_t to uint64_t for the bit walks, float and
 * double for the IEEE walks) with the whole interface the kernel template
 * (replace_walk.h) is written against.  The template never asks which
 * processor it runs on.
 */
#ifndef FENNICK_KERNELS_SIMD_H
#define FENNICK_KERNELS_SIMD_H

/* FENNICK_GENERIC_SIMD builds the portable primitives on any processor, so
   that they can be tested where they are not the platform's own. */
#if defined(FENNICK_GENERIC_SIMD)
#include "simd_generic.h"
#elif defined(__AVX512F__) && defined(__AVX512BW__) && defined(__AVX512VL__)
#include "simd_avx512.h"
#elif defined(__AVX2__)
#include "simd_avx2.h"
#elif defined(__SSE2__)
#include "simd_sse2.h"
#elif defined(__aarch64__) && defined(__ARM_NEON)
#include "simd_neon.h"
#else
#include "simd_generic.h"
#endif

#endif /* FENNICK_KERNELS_SIMD_H */
