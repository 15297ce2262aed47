#include "controls/owner_drawn.h"

#include "controls/accessibility.h"
#include "controls/palette.h"

#include <QMouseEvent>
#include <QPainter>

namespace qevra::controls {

void horizontalLine(QPainter& painter, int x1, int x2, int y, QColor colour)
{
    if (x2 > x1)
        painter.fillRect(x1, y, x2 - x1, 1, colour);
}

void verticalLine(QPainter& painter, int x, int y1, int y2, QColor colour)
{
    if (y2 > y1)
        painter.fillRect(x, y1, 1, y2 - y1, colour);
}

void rectangleOutline(QPainter& painter, int left, int top, int right, int bottom, QColor colour)
{
    if (right <= left || bottom <= top)
        return;
    horizontalLine(painter, left, right, top, colour);
    horizontalLine(painter, left, right, bottom - 1, colour);
    verticalLine(painter, left, top, bottom, colour);
    verticalLine(painter, right - 1, top, bottom, colour);
}

void focusMark(QPainter& painter, int left, int top, int right, int bottom)
{
    if (right <= left || bottom <= top)
        return;
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_NotDestination);
    const auto dot = [&](int x, int y) {
        if ((x + y) % 2 == 0)
            painter.fillRect(x, y, 1, 1, Qt::white);
    };
    for (int x = left; x < right; ++x) {
        dot(x, top);
        if (bottom - 1 > top)
            dot(x, bottom - 1);
    }
    for (int y = top + 1; y < bottom - 1; ++y) {
        dot(left, y);
        if (right - 1 > left)
            dot(right - 1, y);
    }
    painter.restore();
}

QString captionWithoutMark(const QString& caption)
{
    QString text = caption;
    const qsizetype mark = text.indexOf(QLatin1Char('&'));
    if (mark >= 0)
        text.remove(mark, 1);
    return text;
}

qsizetype acceleratorIndex(const QString& caption)
{
    const qsizetype mark = caption.indexOf(QLatin1Char('&'));
    if (mark < 0 || mark + 1 >= caption.size())
        return -1;
    return mark;
}

QChar acceleratorOf(const QString& caption)
{
    const qsizetype mark = acceleratorIndex(caption);
    return mark < 0 ? QChar() : caption.at(mark + 1);
}

OwnerDrawnControl::OwnerDrawnControl(
    const QString& caption, MouseRepaint mouseRepaint, QWidget* parent)
    : QWidget(parent)
    , caption_(caption)
    , mouseRepaint_(mouseRepaint)
{
    // The face is drawn in fixed light colours, so the caption and the
    // system colours never come from the desktop's scheme.
    setPalette(programPalette());
    installAccessibleFactory();
}

void OwnerDrawnControl::setCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    grabAccelerator();
    repaint();
    notifyAccessible(this, QAccessible::NameChanged);
}

void OwnerDrawnControl::showMouseChange()
{
    if (mouseRepaint_ == MouseRepaint::AtOnce)
        repaint();
    else
        update();
}

void OwnerDrawnControl::setFocusedLook(bool focused)
{
    if (focused == focused_)
        return;
    focused_ = focused;
    update();
}

void OwnerDrawnControl::becomeActive()
{
    if (active_)
        return;
    active_ = true;
    if (OnEnter)
        OnEnter(this);
}

void OwnerDrawnControl::stopBeingActive()
{
    if (!active_)
        return;
    active_ = false;
    if (OnExit)
        OnExit(this);
}

void OwnerDrawnControl::enterEvent(QEnterEvent*)
{
    if (hover_)
        return;
    hover_ = true;
    showMouseChange();
}

void OwnerDrawnControl::leaveEvent(QEvent*)
{
    if (!hover_)
        return;
    hover_ = false;
    showMouseChange();
}

void OwnerDrawnControl::hideEvent(QHideEvent* event)
{
    QWidget::hideEvent(event);
    // No leave comes for a pointer that stays where a hidden control was;
    // shown again, the control starts without the hover look.
    hover_ = false;
}

void OwnerDrawnControl::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_)
        return;
    pressed_ = true;
    if (!hasFocus() && isEnabled())
        setFocus(Qt::MouseFocusReason);
    showMouseChange();
}

void OwnerDrawnControl::mouseReleaseEvent(QMouseEvent* event)
{
    // The mouse stays grabbed while a button is down; a release away from
    // the control is not a release over it and leaves the press pending.
    if (event->button() != Qt::LeftButton || !pressed_
        || !rect().contains(event->position().toPoint()))
        return;
    pressed_ = false;
    showMouseChange();
    click();
}

void OwnerDrawnControl::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click comes only as this event; it is
    // itself the click, and the release that follows finds nothing pending.
    if (event->button() == Qt::LeftButton)
        click();
}

} // namespace qevra::controls
