// Reaches a higher layer: must not build.
#include "app/main_window.h"
