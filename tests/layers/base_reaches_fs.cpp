// Reaches a higher layer: must not build.
#include "fs/file_system.h"
