// Reaches the widgets: must not build.
#include <QWidget>
