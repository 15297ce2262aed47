#pragma once

#include <QPoint>
#include <QRect>

class QWidget;

namespace qevra::controls {

// Where the frame of a window goes so that all of it lies in `area` (a
// screen's available area): its own top-left corner when it already does;
// else moved in no further than needed, and to the area's left (top) edge
// where it is wider (taller) than the area.
QPoint placedInside(const QRect& frame, const QRect& area);

// Keeps a top-level window on its screen: each time it is shown, or resized
// while shown, and its frame does not lie wholly in the available area of
// the screen it is on, it is moved there (placedInside). A window that fits
// stays at its place.
void keepOnScreen(QWidget& window);

} // namespace qevra::controls
