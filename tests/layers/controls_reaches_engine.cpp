// The controls know no engine type: must not build.
#include "search/path_list.h"
