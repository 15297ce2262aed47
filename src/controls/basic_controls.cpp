#include "controls/basic_controls.h"

#include <QCompleter>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>

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
    nameForAccessibility();
}

void Label::setAccessibleTitle(const QString& title)
{
    accessibleTitle_ = title;
    nameForAccessibility();
}

void Label::nameForAccessibility()
{
    if (!accessibleTitle_.isEmpty())
        setAccessibleName(accessibleTitle_ + QStringLiteral(": ") + text());
}

// The edit field of a flat combo box: it covers part of the box's outer
// rings, so it paints its share of the frame after its own face.
class FlatComboEdit : public QLineEdit {
public:
    explicit FlatComboEdit(TfsComboBox* box)
        : QLineEdit(box)
        , box_(box)
    {
    }

protected:
    void paintEvent(QPaintEvent* event) override
    {
        QLineEdit::paintEvent(event);
        if (box_->flatStyle() != TFlatStyle::fsFlat)
            return;
        QPainter painter(this);
        painter.translate(-pos());
        box_->paintFlatFrame(painter);
    }

private:
    TfsComboBox* box_;
};

TfsComboBox::TfsComboBox(QWidget* parent)
    : QComboBox(parent)
    , flat_(this)
{
    setEditable(true);
    auto* edit = new FlatComboEdit(this);
    edit->setPalette(palette());
    setLineEdit(edit);
    // Enter never adds the typed text to the list.
    setInsertPolicy(QComboBox::NoInsert);
    setCursor(Qt::PointingHandCursor);
    setFocusPolicy(Qt::StrongFocus);
    completer()->setCompletionMode(QCompleter::InlineCompletion);
    completer()->setCaseSensitivity(Qt::CaseInsensitive);
    lineEdit()->setCursor(Qt::PointingHandCursor);
}

void TfsComboBox::setFlatStyle(TFlatStyle style)
{
    if (!flat_.setStyle(style))
        return;
    update();
}

bool TfsComboBox::event(QEvent* event)
{
    const bool handled = QComboBox::event(event);
    if (flat_.follow(event))
        update(flatFrameRegion(width(), height()));
    return handled;
}

void TfsComboBox::paintEvent(QPaintEvent* event)
{
    QComboBox::paintEvent(event);
    if (flat_.style() != TFlatStyle::fsFlat)
        return;
    QPainter painter(this);
    paintFlatFrame(painter);
}

void TfsComboBox::paintFlatFrame(QPainter& painter) const
{
    const int x = width() - style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, this) - 2;
    painter.fillRect(x, 0, 1, height() - 1, palette().color(QPalette::Base));
    drawFlatFrame(painter, width(), height(), flat_.isHot());
}

} // namespace qevra::controls
