#pragma once

#include <QColor>
#include <QRect>

class QPainter;

namespace qevra::controls {

// Directions of a gradient fill.
enum class GradientDirection {
    TopToBottom = 0,
    BottomToTop = 1,
    LeftToRight = 2,
    RightToLeft = 3,
};

// Fills the rectangle (left, top, right, bottom; right and bottom
// exclusive) with bands of solid colour running from `start` to `end` in
// `direction`, in at most `steps` bands (0 to 255). The band count is the
// larger of 2 and the smaller of `steps` and the extent; each band is
// extent ÷ count pixels; band i has base + i × difference ÷ (count − 1) per
// component, halves rounded away from zero; the rows or columns left over
// take the last band's colour. Fewer than 2 steps fill with `start`.
// Nothing outside the rectangle is painted; no antialiasing.
void gradientFill(QPainter& painter, int left, int top, int right, int bottom, QColor start,
    QColor end, GradientDirection direction, int steps);

// The colour of band `band` of `bands` from `base` by `difference`.
int gradientComponent(int base, int difference, int band, int bands);

} // namespace qevra::controls
