#include "controls/status_bar.h"

#include "controls/accessibility.h"
#include "controls/palette.h"

#include <QEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace qevra::controls {

namespace {
// Blank rows above the panel and below it.
constexpr int kGapAbove = 2;
constexpr int kGapBelow = 1;
} // namespace

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent)
{
    installAccessibleFactory();
    setFont(QToolTip::font());
    if (parent)
        parent->installEventFilter(this);
    dock();
}

void StatusBar::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
    notifyAccessible(this, QAccessible::NameChanged);
}

int StatusBar::barHeight() const
{
    return std::max(kDesignedHeight, kGapAbove + fontMetrics().height() + 2 + kGapBelow);
}

QRect StatusBar::textArea() const
{
    // Inside the edge lines, two pixels in from the sides.
    return QRect(2, kGapAbove + 1, std::max(0, width() - 5),
        std::max(0, height() - kGapAbove - kGapBelow - 2));
}

void StatusBar::dock()
{
    const QWidget* parent = parentWidget();
    if (!parent)
        return;
    const int h = barHeight();
    setGeometry(0, parent->height() - h, parent->width(), h);
}

bool StatusBar::event(QEvent* event)
{
    if (event->type() == QEvent::ParentChange && parentWidget())
        parentWidget()->installEventFilter(this);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::ParentChange)
        dock();
    return QWidget::event(event);
}

bool StatusBar::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == parentWidget() && event->type() == QEvent::Resize)
        dock();
    return QWidget::eventFilter(watched, event);
}

void StatusBar::paintEvent(QPaintEvent*)
{
    // Drawn on the window's ground in the program's colours, whatever
    // palette an application style sheet gives the bar.
    QPainter painter(this);
    const QRect panel = rect().adjusted(0, kGapAbove, -1, -1 - kGapBelow);
    painter.setPen(programColour(QPalette::Dark));
    painter.drawLine(panel.topLeft(), panel.topRight());
    painter.drawLine(panel.topLeft(), panel.bottomLeft());
    painter.setPen(programColour(QPalette::Light));
    painter.drawLine(panel.bottomLeft(), panel.bottomRight());
    painter.drawLine(panel.topRight(), panel.bottomRight());
    painter.setPen(programColour(QPalette::WindowText));
    painter.drawText(textArea(), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

} // namespace qevra::controls
