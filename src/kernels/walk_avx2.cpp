/* The walks for AVX2 (with BMI1 and BMI2), storing partial vectors with
   its masked stores (vmaskmov), built with those instructions enabled and
   called only on processors that have them. */
#if !defined(__AVX2__) || !defined(__BMI__) || !defined(__BMI2__)
#error "compile with -mavx2 -mbmi -mbmi2"
#endif
#define WALK_TABLE walk_table_avx2
#define WALK_TARGET "avx2"
#define WALK_VMASKMOV_STORES true
#include "walk_instances.h"
