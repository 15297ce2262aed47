#pragma once

#include <QFont>
#include <QStringList>

namespace qevra::platform {

// The first installed family of `families`, else the default family.
QString firstInstalled(const QStringList& families);

// The windows' font: "MS Sans Serif" where installed, else Liberation Sans
// or DejaVu Sans, at a pixel height.
QFont windowFont(int pixelSize = 11);

} // namespace qevra::platform
