/* replace_many's walks of a few olds for the compiler's default instructions: walk_baseline.cpp's
   unit, built apart (see walk_instances.h). */
#define WALK_FEW_UNIT
#include "walk_baseline.cpp"
