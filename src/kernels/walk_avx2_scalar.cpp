/* The walks for AVX2 (with BMI1 and BMI2) without its masked stores
   (vmaskmov), which are microcoded on AMD's processors before Zen 4: there
   partial vectors are stored a lane at a time.  Built with those
   instructions enabled and called only on processors that have them. */
#if !defined(__AVX2__) || !defined(__BMI__) || !defined(__BMI2__)
#error "compile with -mavx2 -mbmi -mbmi2"
#endif
#define FENNICK_AVX2_SCALAR_STORES
#define WALK_TABLE walk_table_avx2_scalar
#define WALK_TARGET "avx2_scalar"
#include "walk_instances.h"
