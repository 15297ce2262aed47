#pragma once

#include "controls/owner_drawn.h"

#include <QPointer>
#include <QString>

namespace qevra::controls {

// The push button of both windows. It paints its whole face itself: a
// light blue-grey gradient inside a dark blue rounded border, an orange frame
// while the pointer is over it, the caption shifted by one pixel while it is
// held down, a dotted focus mark, and a flat grey look when disabled. A
// completed press (left button or Enter/Space) runs the click action. The
// mouse's changes of the look repaint it at once.
class TxpButton : public OwnerDrawnControl {
    Q_OBJECT
public:
    // 75 × 25 pixels with the caption "XP Button".
    explicit TxpButton(QWidget* parent);
    TxpButton(const QString& caption, QWidget* parent);
    ~TxpButton() override;

    void setText(const QString& text) { setCaption(text); }

    // Copies every attribute of `font` into the button's own font and
    // repaints at once. A plain setFont() shows at the next paint.
    void setButtonFont(const QFont& font);

    // Esc anywhere in the window runs the click action of an enabled Cancel
    // button; Enter that of an enabled Default button.
    bool Cancel = false;
    bool Default = false;
    // Non-zero: after OnClick, the owning dialog is closed with this result.
    int ModalResult = 0;

    // The caption without its first "&", and the character after that "&"
    // (null when there is none).
    QString captionText() const;
    QChar accelerator() const;

    // OnClick, then ModalResult to the owning dialog when non-zero. Changes
    // no state of the button and does not repaint.
    void click() override;

protected:
    bool event(QEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void watchWindow();
    void grabAccelerator() override;
    void paintEnabled(QPainter& painter);
    void paintDisabled(QPainter& painter);
    // The caption's top-left corner, `offset` pixels right and down of centre.
    QPoint captionOrigin(int offset) const;
    void paintCaption(QPainter& painter, QColor colour, int offset);
    void paintUnderline(QPainter& painter, QColor colour, int offset);

    int shortcutId_ = 0;
    QPointer<QWidget> watchedWindow_;
};

} // namespace qevra::controls
