// Reaches a higher layer: must not build.
#include "controls/name_list.h"
