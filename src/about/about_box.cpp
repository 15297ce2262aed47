#include "about/about_box.h"

#include <QGuiApplication>
#include <QScreen>

namespace qevra {

TAboutBox::TAboutBox(QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
{
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(309, 177);
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(240, 251, 255));
    setPalette(colours);
    setAutoFillBackground(true);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    if (!placed_) {
        placed_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
    }
    QWidget::showEvent(event);
}

} // namespace qevra
