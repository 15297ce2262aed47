#pragma once

#include <QColor>
#include <QPalette>

class QWidget;

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

// What an owner-drawn control draws with: its palette, or the program's
// under a style sheet (`-stylesheet FILE`, or one a theming tool sets), whose
// rules override a widget's palette colour by colour and take the text and
// ground from different sources.
const QPalette& drawingPalette(const QWidget& control);

// Gives a window of the program its palette and its ground, which stays the
// window colour under a style sheet too.
void keepProgramColours(QWidget& window);

} // namespace qevra::controls
