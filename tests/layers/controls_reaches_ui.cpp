// Reaches a higher layer: must not build.
#include "editor/copies_editor.h"
