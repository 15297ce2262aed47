#include "controls/basic_controls.h"

#include "controls/accessibility.h"
#include "controls/palette.h"

#include <QCompleter>
#include <QFocusEvent>
#include <QInputMethodEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QPainter>
#include <QStyle>

namespace qevra::controls {

Label::Label(const QString& caption, QWidget* parent)
    : QLabel(caption, parent)
    , textColour_(programColour(QPalette::WindowText))
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

void Label::setTextColour(QColor colour)
{
    textColour_ = colour;
    QPalette own = palette();
    own.setColor(QPalette::WindowText, colour);
    setPalette(own);
}

bool Label::event(QEvent* event)
{
    const bool handled = QLabel::event(event);
    // A style sheet's rule may give labels a ground of their own, which the
    // caption in its own colour would not stand out from: the label keeps
    // showing its window's ground.
    if ((event->type() == QEvent::Polish || event->type() == QEvent::StyleChange)
        && testAttribute(Qt::WA_StyleSheet))
        setAttribute(Qt::WA_StyledBackground, false);
    return handled;
}

void Label::paintEvent(QPaintEvent* event)
{
    // Qt's label takes its text colour from a style sheet's rules when it
    // paints, whatever its palette: under one, the caption is drawn here in
    // its own colour (without the sheet's border).
    if (!testAttribute(Qt::WA_StyleSheet)) {
        QLabel::paintEvent(event);
        return;
    }
    QPainter painter(this);
    QPalette colours = palette();
    colours.setColor(QPalette::WindowText, textColour_);
    style()->drawItemText(&painter, contentsRect(),
        int(QStyle::visualAlignment(layoutDirection(), alignment())), colours, isEnabled(), text(),
        QPalette::WindowText);
}

void Label::nameForAccessibility()
{
    if (!accessibleTitle_.isEmpty())
        setAccessibleName(accessibleTitle_ + QStringLiteral(": ") + text());
}

// The edit field of a flat combo box: it covers part of the box's outer
// rings, so it paints its share of the frame after its own face. Without
// the focus it shows the start of its text (a line edit otherwise stays
// scrolled to its cursor, typically at the end).
class FlatComboEdit : public QLineEdit {
public:
    explicit FlatComboEdit(TfsComboBox* box)
        : QLineEdit(box)
        , box_(box)
    {
        // A text set from elsewhere (the program, the drop-down list) while
        // the box has no focus shows from its start too: setting a text
        // puts the cursor at its end (a selection made from code stays).
        connect(this, &QLineEdit::cursorPositionChanged, this, [this] {
            if (!typing_ && !hasFocus() && !hasSelectedText())
                setCursorPosition(0);
        });
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

    void keyPressEvent(QKeyEvent* event) override
    {
        typing_ = true;
        QLineEdit::keyPressEvent(event);
        typing_ = false;
    }

    void inputMethodEvent(QInputMethodEvent* event) override
    {
        typing_ = true;
        QLineEdit::inputMethodEvent(event);
        typing_ = false;
    }

    void focusOutEvent(QFocusEvent* event) override
    {
        // Another window or the drop-down list takes the focus only for a
        // while: the cursor and the selection (the completed rest, which
        // the next typed key replaces) come back with it.
        saved_ = Editing { text(), cursorPosition(), selectionStart(),
            static_cast<int>(selectedText().size()) };
        QLineEdit::focusOutEvent(event);
        setCursorPosition(0);
    }

    void focusInEvent(QFocusEvent* event) override
    {
        const Qt::FocusReason reason = event->reason();
        QLineEdit::focusInEvent(event);
        const bool back = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
        if (!back || saved_.text != text())
            return;
        if (saved_.selectionLength <= 0)
            setCursorPosition(saved_.cursor);
        else if (saved_.cursor == saved_.selectionStart)
            setSelection(saved_.selectionStart + saved_.selectionLength, -saved_.selectionLength);
        else
            setSelection(saved_.selectionStart, saved_.selectionLength);
    }

private:
    struct Editing {
        QString text;
        int cursor = 0;
        int selectionStart = -1;
        int selectionLength = 0;
    };

    TfsComboBox* box_;
    Editing saved_;
    bool typing_ = false;
};

TfsComboBox::TfsComboBox(QWidget* parent)
    : QComboBox(parent)
    , flat_(this)
{
    installAccessibleFactory();
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
