/* The copying walks for avx2_scalar, built with the instructions of
   walk_avx2_scalar.cpp's unit and called only on processors that have them. */
#if !defined(__AVX2__) || !defined(__BMI__) || !defined(__BMI2__)
#error "compile with -mavx2 -mbmi -mbmi2"
#endif
#define FENNICK_AVX2_SCALAR_STORES
#define COPY_TABLE copy_table_avx2_scalar
#define WALK_TARGET "avx2_scalar"
#include "copy_instances.h"
