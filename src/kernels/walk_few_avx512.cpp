/* replace_many's walks of a few olds for AVX-512: walk_avx512.cpp's
   unit, built apart (see walk_instances.h). */
#define WALK_FEW_UNIT
#include "walk_avx512.cpp"
