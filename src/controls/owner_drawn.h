#pragma once

#include <QChar>
#include <QColor>
#include <QString>
#include <QWidget>
#include <functional>

class QPainter;

namespace qevra::controls {

// Pixel helpers of the owner-drawn controls. Every one fills whole pixels
// and draws nothing for an empty range.

// The pixels x1 .. x2 − 1 of row y.
void horizontalLine(QPainter& painter, int x1, int x2, int y, QColor colour);
// The pixels y1 .. y2 − 1 of column x.
void verticalLine(QPainter& painter, int x, int y1, int y2, QColor colour);
// The 1-pixel outline of (left, top, right, bottom): columns left and
// right − 1, rows top and bottom − 1.
void rectangleOutline(QPainter& painter, int left, int top, int right, int bottom, QColor colour);
// The dotted focus mark: every other pixel of the outline of (left, top,
// right, bottom), inverted. Each pixel is visited once, so the corners are
// not inverted twice.
void focusMark(QPainter& painter, int left, int top, int right, int bottom);

// Captions mark their accelerator character with the "&" before it.

// The caption as drawn: without its first "&".
QString captionWithoutMark(const QString& caption);
// Index of the first "&" when a character follows it (which is then the
// accelerator's index in captionWithoutMark()), or -1.
qsizetype acceleratorIndex(const QString& caption);
// The character after the first "&" (null when there is none).
QChar acceleratorOf(const QString& caption);

// The state and mouse handling that the owner-drawn button and check box
// share: a caption with an accelerator, the hover, pressed and focused looks,
// and the click, enter and exit actions. A completed left press runs click().
class OwnerDrawnControl : public QWidget {
    Q_OBJECT
public:
    QString caption() const { return caption_; }
    // A text equal to the current one changes nothing; any other takes its
    // accelerator and repaints at once.
    void setCaption(const QString& caption);
    QString text() const { return caption(); }

    std::function<void(QObject* sender)> OnClick;
    // Run when the control gets and loses the keyboard focus within its window.
    std::function<void(QObject* sender)> OnEnter;
    std::function<void(QObject* sender)> OnExit;

    bool hover() const { return hover_; }
    bool pressed() const { return pressed_; }
    bool focused() const { return focused_; }

    virtual void click() = 0;

protected:
    // How a change of the hover or pressed look made by the mouse shows.
    enum class MouseRepaint { AtOnce, Scheduled };

    OwnerDrawnControl(const QString& caption, MouseRepaint mouseRepaint, QWidget* parent);

    // Takes the keyboard shortcuts of the caption's accelerator anew.
    virtual void grabAccelerator() = 0;

    void enterEvent(QEnterEvent* event) override;
    void leaveEvent(QEvent* event) override;
    void hideEvent(QHideEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;
    void mouseDoubleClickEvent(QMouseEvent* event) override;

    // Repaints at once or schedules a repaint, as the mouse changes show.
    void showMouseChange();
    // Shows or hides the focus mark, scheduling a repaint when that changes.
    void setFocusedLook(bool focused);
    // The control becomes its window's active control: OnEnter runs unless
    // it already is.
    void becomeActive();
    // It stops being that control: OnExit runs unless it already was not.
    void stopBeingActive();

    QString caption_;
    bool hover_ = false;
    bool pressed_ = false;
    bool focused_ = false;

private:
    MouseRepaint mouseRepaint_;
    // The control is its window's active control (OnEnter ran, OnExit not yet).
    bool active_ = false;
};

} // namespace qevra::controls
