#pragma once

#include <QColor>
#include <QPalette>

namespace qevra::controls {

// The background of the program's three windows: red 240, green 251,
// blue 255 (16776176 as one number).
QColor windowColour();

// The one palette of the three windows and every control in them: light
// window and list grounds in the window colour, black text, a blue
// selection, and the light, mid and dark greys the owner-drawn controls
// take as the system's button face, highlight, scroll-bar and shadow
// colours. Every role of every colour group is set, so nothing of the
// desktop's colour scheme reaches the windows: they look the same under a
// light or a dark theme.
const QPalette& programPalette();

// A colour of the program palette in its active group.
QColor programColour(QPalette::ColorRole role);

} // namespace qevra::controls
