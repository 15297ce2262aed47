#include "controls/status_bar.h"

#include "controls/accessibility.h"

#include <QPainter>
#include <QStyle>
#include <QToolTip>

namespace qevra::controls {

StatusBar::StatusBar(QWidget* parent)
    : QWidget(parent)
{
    installAccessibleFactory();
    setFont(QToolTip::font());
}

void StatusBar::setText(const QString& text)
{
    if (text == text_)
        return;
    text_ = text;
    update();
    notifyAccessible(this, QAccessible::NameChanged);
}

void StatusBar::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const QRect panel = rect().adjusted(0, 2, -1, -1);
    painter.setPen(palette().color(QPalette::Dark));
    painter.drawLine(panel.topLeft(), panel.topRight());
    painter.drawLine(panel.topLeft(), panel.bottomLeft());
    painter.setPen(palette().color(QPalette::Light));
    painter.drawLine(panel.bottomLeft(), panel.bottomRight());
    painter.drawLine(panel.topRight(), panel.bottomRight());
    painter.setPen(palette().color(QPalette::WindowText));
    painter.drawText(
        panel.adjusted(2, 0, -2, 0), Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine, text_);
}

} // namespace qevra::controls
