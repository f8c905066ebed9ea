/* The copying walks built with the compiler's default instructions for the
   platform, as walk_baseline.cpp's. */
#if defined(__x86_64__)
#define WALK_TARGET "baseline"
#elif defined(__aarch64__)
#define WALK_TARGET "neon"
#else
#define WALK_TARGET "generic"
#endif
#define COPY_TABLE copy_table_baseline
#include "copy_instances.h"
