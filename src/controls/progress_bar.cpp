#include "controls/progress_bar.h"

#include "controls/accessibility.h"
#include "controls/palette.h"

#include <QPainter>

namespace qevra::controls {

ProgressBar::ProgressBar(QWidget* parent)
    : QWidget(parent)
{
    installAccessibleFactory();
}

void ProgressBar::setMaximum(int maximum)
{
    if (maximum == max_)
        return;
    max_ = maximum;
    if (position_ > max_)
        position_ = max_;
    update();
}

bool ProgressBar::setPosition(int position)
{
    if (position > max_)
        return false;
    if (position != position_) {
        const int before = filledWidth(width(), position_, max_);
        position_ = position;
        if (filledWidth(width(), position_, max_) != before)
            update();
        notifyValueChanged(this, position_);
    }
    return true;
}

int ProgressBar::filledWidth(int width, int position, int maximum)
{
    if (maximum <= 0 || position <= 0 || width <= 0)
        return 0;
    const long long w = width, p = position, m = maximum;
    return static_cast<int>((2 * w * p + m) / (2 * m));
}

void ProgressBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QPalette& colours = drawingPalette(*this);
    const int filled = filledWidth(width(), position_, max_);
    painter.fillRect(QRect(0, 0, filled, height()), colours.color(QPalette::Highlight));
    // The unfilled part stands out from the window as a darker grey, so an
    // empty bar is still seen as a bar.
    painter.fillRect(QRect(filled, 0, width() - filled, height()), colours.color(QPalette::Dark));
}

} // namespace qevra::controls
