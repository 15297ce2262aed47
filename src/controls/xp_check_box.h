#pragma once

#include <QColor>
#include <QString>
#include <QWidget>

#include <functional>

class QFont;

namespace qevra::controls {

// Side of the caption: cbaRight puts the box at the left edge and the
// caption to its right; cbaLeft puts the caption at the left and the box at
// the right edge.
enum class TCheckBoxAlignment { cbaLeft, cbaRight };

// The owner-drawn check box of the criteria: a 14 × 14 box with a gradient
// face, a green mark when checked, an orange ring under the pointer, and its
// caption beside the box. A completed press toggles the state first and then
// runs OnClick, so the handler sees the new state.
class TxpCheckBox : public QWidget {
    Q_OBJECT
public:
    explicit TxpCheckBox(QWidget* parent);
    TxpCheckBox(const QString& caption, QWidget* parent);

    QString caption() const { return caption_; }
    void setCaption(const QString& caption);
    QString text() const { return caption(); }
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

    std::function<void(QObject* sender)> OnClick;
    std::function<void(QObject* sender)> OnEnter;
    std::function<void(QObject* sender)> OnExit;

    bool hover() const { return hover_; }
    bool pressed() const { return pressed_; }
    bool focused() const { return focused_; }

    // The click action: toggles, schedules a repaint, then runs OnClick.
    void click();

protected:
    bool event(QEvent* event) override;
    void paintEvent(QPaintEvent* event) override;
    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void keyReleaseEvent(QKeyEvent* event) override;
    void focusInEvent(QFocusEvent* event) override;
    void focusOutEvent(QFocusEvent* event) override;

private:
    // The caption as drawn: without its first "&".
    QString displayText() const;
    // Index in displayText() of the accelerator character, or -1.
    int acceleratorIndex() const;
    void grabAccelerator();

    QString caption_;
    QColor color_;
    bool checked_ = false;
    TCheckBoxAlignment alignment_ = TCheckBoxAlignment::cbaRight;
    bool hover_ = false;
    bool pressed_ = false;
    bool focused_ = false;
    // OnEnter has run and OnExit has not yet: the box is the window's active
    // control (a window losing activation does not change that).
    bool active_ = false;
    int altShortcut_ = 0;
    int plainShortcut_ = 0;
};

} // namespace qevra::controls
