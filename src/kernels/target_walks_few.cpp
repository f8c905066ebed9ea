/* replace_many's walks of a few olds and of many of one target, in a unit
   of their own (see walk_instances.h). */
#define WALK_FEW_UNIT
#include "target.h"
#include "walk_instances.h"
