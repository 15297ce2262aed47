#include "editor/copies_editor.h"

#include "app/main_window.h"
#include "platform/fonts.h"

#include <QCloseEvent>

namespace qevra {

TForm2::TForm2(TForm1* form1, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint)
    , form1_(form1)
{
    setWindowTitle(QStringLiteral("Редактор копий"));
    setFixedSize(654, 356);
    move(219, 152);
    setFont(platform::windowFont(11));
    QPalette colours = palette();
    colours.setColor(QPalette::Window, QColor(240, 251, 255));
    setPalette(colours);
    setAutoFillBackground(true);
}

void TForm2::clearNameLists()
{
}

void TForm2::FormClose()
{
    if (form1_)
        form1_->show();
}

void TForm2::closeEvent(QCloseEvent* event)
{
    FormClose();
    event->accept();
}

} // namespace qevra
