#pragma once

#include "controls/owner_drawn.h"

#include <QColor>
#include <QString>

class QFont;

namespace qevra::controls {

// Side of the caption: cbaRight puts the box at the left edge and the
// caption to its right; cbaLeft puts the caption at the left and the box at
// the right edge.
enum class TCheckBoxAlignment { cbaLeft, cbaRight };

// The owner-drawn check box of the criteria: a 14 × 14 box with a gradient
// face, a green mark when checked, an orange ring under the pointer, and its
// caption beside the box. A completed press toggles the state first and then
// runs OnClick, so the handler sees the new state. The mouse's changes of the
// look schedule a repaint.
class TxpCheckBox : public OwnerDrawnControl {
    Q_OBJECT
public:
    explicit TxpCheckBox(QWidget* parent);
    TxpCheckBox(const QString& caption, QWidget* parent);

    // Copies the font into the box's own font and repaints at once.
    void setBoxFont(const QFont& font);
    // Background of the whole control.
    QColor color() const { return color_; }
    void setColor(const QColor& color);
    // Setting the state from code repaints at once and runs no OnClick.
    bool isChecked() const { return checked_; }
    void setChecked(bool checked);
    TCheckBoxAlignment alignment() const { return alignment_; }
    void setAlignment(TCheckBoxAlignment alignment);

    // The click action: toggles, schedules a repaint, then runs OnClick.
    void click() override;

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    void grabAccelerator() override;

    QColor color_;
    bool checked_ = false;
    TCheckBoxAlignment alignment_ = TCheckBoxAlignment::cbaRight;
    int altShortcut_ = 0;
    int plainShortcut_ = 0;
};

} // namespace qevra::controls
