/* The walks for baseline x86-64 (SSE2): always built, and the fallback on
   every processor. */
#define WALK_TABLE walk_table_baseline
#define WALK_TARGET "baseline"
#include "walk_instances.h"
