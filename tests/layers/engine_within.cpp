// Stays within its layer: builds.
#include "base/exceptions.h"
#include "fs/file_system.h"
#include "search/pairing.h"
