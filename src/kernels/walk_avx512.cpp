/* The walks for AVX-512 (F, BW and VL, with AVX2, BMI1 and BMI2), built
   with those instructions enabled and called only on processors that have
   them. */
#if !defined(__AVX512F__) || !defined(__AVX512BW__) || !defined(__AVX512VL__)
#error "compile with -mavx512f -mavx512bw -mavx512vl"
#endif
#define WALK_TABLE walk_table_avx512
#define WALK_TARGET "avx512"
#include "walk_instances.h"
