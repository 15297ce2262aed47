// The engine knows no widget: must not build.
#include <QWidget>
