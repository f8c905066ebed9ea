/* The walks built with the compiler's default instructions for the
   platform: always built, the only build where nothing wider exists, and on
   x86-64 the fallback on every processor (SSE2). */
#if defined(__x86_64__)
#define WALK_TARGET "baseline"
#elif defined(__aarch64__)
#define WALK_TARGET "neon"
#else
#define WALK_TARGET "generic"
#endif
#define WALK_TABLE walk_table_baseline
#include "walk_instances.h"
