/* replace_many's walks of a few olds for AVX2: walk_avx2.cpp's
   unit, built apart (see walk_instances.h). */
#define WALK_FEW_UNIT
#include "walk_avx2.cpp"
