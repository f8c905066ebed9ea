/* The copying walks for avx2, built with the instructions of
   walk_avx2.cpp's unit and called only on processors that have them. */
#if !defined(__AVX2__) || !defined(__BMI__) || !defined(__BMI2__)
#error "compile with -mavx2 -mbmi -mbmi2"
#endif
#define COPY_TABLE copy_table_avx2
#define WALK_TARGET "avx2"
#include "copy_instances.h"
