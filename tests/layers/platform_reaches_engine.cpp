// Reaches a layer beside it: must not build.
#include "search/search.h"
