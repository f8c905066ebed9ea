/* The copying walks of one target (target.h). */
#include "target.h"
#include "copy_instances.h"
