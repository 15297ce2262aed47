#include "controls/gradient.h"

#include <QPainter>
#include <algorithm>
#include <cstdlib>

namespace qevra::controls {

int gradientComponent(int base, int difference, int band, int bands)
{
    // band × difference ÷ (bands − 1), halves rounded away from zero.
    const int numerator = band * difference;
    const int denominator = bands - 1;
    const int magnitude = (2 * std::abs(numerator) + denominator) / (2 * denominator);
    return base + (numerator < 0 ? -magnitude : magnitude);
}

void gradientFill(QPainter& painter, int left, int top, int right, int bottom, QColor start,
    QColor end, GradientDirection direction, int steps)
{
    if (right <= left || bottom <= top)
        return;
    if (steps < 2) {
        painter.fillRect(QRect(QPoint(left, top), QPoint(right - 1, bottom - 1)), start);
        return;
    }
    const bool reversed = direction == GradientDirection::BottomToTop
        || direction == GradientDirection::RightToLeft;
    const bool vertical = direction == GradientDirection::TopToBottom
        || direction == GradientDirection::BottomToTop;
    const QColor base = reversed ? end : start;
    const QColor other = reversed ? start : end;
    const int extent = vertical ? bottom - top : right - left;
    const int bands = std::max(2, std::min(steps, extent));
    const int size = extent / bands;
    const auto band = [&](int from, int length, QColor colour) {
        if (length <= 0)
            return;
        const QRect area = vertical ? QRect(left, from, right - left, length)
                                    : QRect(from, top, length, bottom - top);
        painter.fillRect(area, colour);
    };
    const int origin = vertical ? top : left;
    if (size > 0) {
        for (int i = 0; i < bands; ++i) {
            const QColor colour(gradientComponent(base.red(), other.red() - base.red(), i, bands),
                gradientComponent(base.green(), other.green() - base.green(), i, bands),
                gradientComponent(base.blue(), other.blue() - base.blue(), i, bands));
            band(origin + i * size, size, colour);
        }
    }
    // The rest takes the last band's colour.
    band(origin + bands * size, extent - bands * size, other);
}

} // namespace qevra::controls
