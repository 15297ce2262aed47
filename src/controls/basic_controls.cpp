#include "controls/basic_controls.h"

#include <QCompleter>
#include <QLineEdit>

namespace qevra::controls {

Label::Label(const QString& caption, QWidget* parent)
    : QLabel(caption, parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
    resize(sizeHint());
}

void Label::setCaption(const QString& caption)
{
    if (caption == text())
        return;
    setText(caption);
    resize(sizeHint());
}

TxpButton::TxpButton(const QString& caption, QWidget* parent)
    : QPushButton(caption, parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    setAutoDefault(false);
}

TxpCheckBox::TxpCheckBox(const QString& caption, QWidget* parent)
    : QCheckBox(caption, parent)
{
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
}

TfsComboBox::TfsComboBox(QWidget* parent)
    : QComboBox(parent)
{
    setEditable(true);
    // Enter never adds the typed text to the list.
    setInsertPolicy(QComboBox::NoInsert);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    completer()->setCompletionMode(QCompleter::InlineCompletion);
    completer()->setCaseSensitivity(Qt::CaseInsensitive);
    lineEdit()->setCursor(Qt::PointingHandCursor);
}

} // namespace qevra::controls
