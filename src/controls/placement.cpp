#include "controls/placement.h"

#include <QEvent>
#include <QScreen>
#include <QWidget>
#include <algorithm>

namespace qevra::controls {

namespace {

// One axis of placedInside(): the start of a span of `length` at `start`
// within the span of `room` at `from`.
int placedOnAxis(int start, int length, int from, int room)
{
    if (length >= room)
        return from;
    return std::clamp(start, from, from + room - length);
}

// Moves its window onto its screen as it is shown and resized.
class ScreenKeeper : public QObject {
public:
    explicit ScreenKeeper(QWidget* window)
        : QObject(window)
        , window_(window)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        const bool placing = event->type() == QEvent::Show
            || (event->type() == QEvent::Resize && window_->isVisible());
        if (watched == window_ && placing)
            fit();
        return false;
    }

private:
    void fit()
    {
        const QScreen* screen = window_->screen();
        if (!screen)
            return;
        // The frame is known once the window has been shown; before, it is
        // the window's own rectangle.
        const QRect frame = window_->frameGeometry();
        const QPoint placed = placedInside(frame, screen->availableGeometry());
        if (placed != frame.topLeft())
            window_->move(placed);
    }

    QWidget* window_;
};

} // namespace

QPoint placedInside(const QRect& frame, const QRect& area)
{
    return { placedOnAxis(frame.left(), frame.width(), area.left(), area.width()),
        placedOnAxis(frame.top(), frame.height(), area.top(), area.height()) };
}

void keepOnScreen(QWidget& window)
{
    window.installEventFilter(new ScreenKeeper(&window));
}

} // namespace qevra::controls
