// Reaches a higher layer: must not build.
#include "search/pairing.h"
