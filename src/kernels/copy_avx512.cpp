/* The copying walks for avx512, built with the instructions of
   walk_avx512.cpp's unit and called only on processors that have them. */
#if !defined(__AVX512F__) || !defined(__AVX512BW__) || !defined(__AVX512VL__)
#error "compile with -mavx512f -mavx512bw -mavx512vl"
#endif
#define COPY_TABLE copy_table_avx512
#define WALK_TARGET "avx512"
#include "copy_instances.h"
