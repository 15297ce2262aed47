// Reaches a higher layer by a relative path, which the compiler would find
// beside the including file: the include check must refuse it.
#include "../../src/app/main_window.h"
