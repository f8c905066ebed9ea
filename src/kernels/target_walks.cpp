/* The in-place walks of one target (target.h), but for replace_many's
   walks of a few olds (target_walks_few.cpp). */
#include "target.h"
#include "walk_instances.h"
