#include "controls/xp_check_box.h"

#include "controls/gradient.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <QShortcutEvent>

#include <vector>

namespace qevra::controls {

namespace {

constexpr QRgb kNormalTop = qRgb(220, 220, 215);
constexpr QRgb kNormalBottom = qRgb(255, 255, 255);
constexpr QRgb kHoverTop = qRgb(255, 240, 207);
constexpr QRgb kHoverBottom = qRgb(248, 179, 48);
constexpr QRgb kPressedTop = qRgb(176, 176, 167);
constexpr QRgb kPressedBottom = qRgb(241, 239, 223);
constexpr QRgb kOutline = qRgb(28, 81, 128);
constexpr QRgb kMark = qRgb(0, 160, 0);
constexpr QRgb kDisabledOutline = qRgb(128, 128, 128);
constexpr QRgb kDisabledInside = qRgb(255, 255, 255);
constexpr QRgb kDisabledMark = qRgb(192, 192, 192);
constexpr QRgb kDisabledCaption = qRgb(128, 128, 128);

constexpr int kFaceSteps = 10;
constexpr int kBoxSize = 14;

// The 1-pixel outline of (left, top, right, bottom): columns left and
// right − 1, rows top and bottom − 1.
void outline(QPainter& painter, int left, int top, int right, int bottom, QColor colour)
{
    if (right <= left || bottom <= top)
        return;
    painter.fillRect(QRect(left, top, right - left, 1), colour);
    painter.fillRect(QRect(left, bottom - 1, right - left, 1), colour);
    painter.fillRect(QRect(left, top, 1, bottom - top), colour);
    painter.fillRect(QRect(right - 1, top, 1, bottom - top), colour);
}

// The focus rectangle: every other pixel of the outline of (left, top,
// right, bottom), inverted. Each pixel is visited once, so the corners
// are not inverted twice.
void focusRectangle(QPainter& painter, int left, int top, int right, int bottom)
{
    if (right <= left || bottom <= top)
        return;
    std::vector<QPoint> dots;
    const auto dot = [&](int x, int y) {
        if ((x + y) % 2 == 0)
            dots.emplace_back(x, y);
    };
    for (int x = left; x < right; ++x) {
        dot(x, top);
        if (bottom - 1 > top)
            dot(x, bottom - 1);
    }
    for (int y = top + 1; y < bottom - 1; ++y) {
        dot(left, y);
        if (right - 1 > left)
            dot(right - 1, y);
    }
    painter.save();
    painter.setCompositionMode(QPainter::RasterOp_SourceXorDestination);
    painter.setPen(QPen(Qt::white, 1));
    painter.drawPoints(dots.data(), static_cast<int>(dots.size()));
    painter.restore();
}

} // namespace

TxpCheckBox::TxpCheckBox(QWidget* parent)
    : TxpCheckBox(QStringLiteral("XP Checkbox"), parent)
{
}

TxpCheckBox::TxpCheckBox(const QString& caption, QWidget* parent)
    : QWidget(parent)
    , caption_(caption)
    , color_(palette().color(QPalette::Active, QPalette::Button))
{
    resize(97, 17);
    setFocusPolicy(Qt::StrongFocus);
    grabAccelerator();
}

void TxpCheckBox::setCaption(const QString& caption)
{
    if (caption == caption_)
        return;
    caption_ = caption;
    grabAccelerator();
    repaint();
}

void TxpCheckBox::setBoxFont(const QFont& font)
{
    setFont(font);
    repaint();
}

void TxpCheckBox::setColor(const QColor& color)
{
    if (color == color_)
        return;
    color_ = color;
    update();
}

void TxpCheckBox::setChecked(bool checked)
{
    if (checked == checked_)
        return;
    checked_ = checked;
    repaint();
}

void TxpCheckBox::setAlignment(TCheckBoxAlignment alignment)
{
    if (alignment == alignment_)
        return;
    alignment_ = alignment;
    repaint();
}

void TxpCheckBox::click()
{
    checked_ = !checked_;
    update();
    if (OnClick)
        OnClick(this);
}

QString TxpCheckBox::displayText() const
{
    QString text = caption_;
    const qsizetype amp = text.indexOf(QLatin1Char('&'));
    if (amp >= 0)
        text.remove(amp, 1);
    return text;
}

int TxpCheckBox::acceleratorIndex() const
{
    const qsizetype amp = caption_.indexOf(QLatin1Char('&'));
    if (amp < 0 || amp + 1 >= caption_.size())
        return -1;
    return static_cast<int>(amp);
}

void TxpCheckBox::grabAccelerator()
{
    for (int* id : { &altShortcut_, &plainShortcut_ }) {
        if (*id != 0)
            releaseShortcut(*id);
        *id = 0;
    }
    const int index = acceleratorIndex();
    if (index < 0)
        return;
    // A letter key's code is its upper-case character whatever case it
    // types (Shift held is a different combination).
    const int key = static_cast<int>(displayText().at(index).toUpper().unicode());
    altShortcut_ = grabShortcut(QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key(key))));
    // The character alone: a focused control that takes typed text claims
    // the key first (shortcut override), so this only fires elsewhere.
    plainShortcut_ = grabShortcut(QKeySequence(QKeyCombination(Qt::NoModifier, Qt::Key(key))));
}

bool TxpCheckBox::event(QEvent* event)
{
    if (event->type() == QEvent::Shortcut) {
        const int id = static_cast<QShortcutEvent*>(event)->shortcutId();
        if (id != 0 && (id == altShortcut_ || id == plainShortcut_)) {
            if (isEnabled()) {
                if (!hasFocus())
                    setFocus(Qt::ShortcutFocusReason);
                click();
            }
            return true;
        }
    }
    return QWidget::event(event);
}

void TxpCheckBox::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    const bool enabled = isEnabled();

    painter.fillRect(rect(), color_);

    const int middle = h / 2;
    const int left = alignment_ == TCheckBoxAlignment::cbaRight ? 1 : w - 15;
    const int top = middle - 7;
    const int right = left + kBoxSize;
    const int bottom = middle + 7;

    if (enabled) {
        if (pressed_) {
            gradientFill(painter, left, top, right, bottom, QColor(kPressedTop),
                QColor(kPressedBottom), GradientDirection::TopToBottom, kFaceSteps);
        } else if (hover_) {
            gradientFill(painter, left, top, right, bottom, QColor(kHoverTop), QColor(kHoverBottom),
                GradientDirection::TopToBottom, kFaceSteps);
            // Only a ring of the glow shows: one pixel at the top and left,
            // two at the bottom and right.
            painter.fillRect(
                QRect(QPoint(left + 2, top + 2), QPoint(right - 4, bottom - 4)), color_);
        } else {
            gradientFill(painter, left, top, right, bottom, QColor(kNormalTop),
                QColor(kNormalBottom), GradientDirection::TopToBottom, kFaceSteps);
        }
        outline(painter, left, top, right, bottom, QColor(kOutline));
    } else {
        painter.fillRect(QRect(left, top, kBoxSize, bottom - top), QColor(kDisabledInside));
        outline(painter, left, top, right, bottom, QColor(kDisabledOutline));
    }

    if (checked_) {
        // Drawn aliased, so the mark has one solid colour; the half-pixel
        // shift centres the pen on the pixels the points name.
        painter.save();
        painter.translate(0.5, 0.5);
        painter.setPen(QPen(QColor(enabled ? kMark : kDisabledMark), 3, Qt::SolidLine, Qt::RoundCap,
            Qt::RoundJoin));
        painter.setBrush(Qt::NoBrush);
        const QPoint mark[]
            = { { left + 3, top + 6 }, { left + 5, bottom - 5 }, { right - 5, top + 4 } };
        painter.drawPolyline(mark, 3);
        painter.restore();
    }

    const QString text = displayText();
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();
    const QColor textColour
        = enabled ? palette().color(QPalette::WindowText) : QColor(kDisabledCaption);
    const bool captionRight = alignment_ == TCheckBoxAlignment::cbaRight;
    const int textLeft = captionRight ? 20 : 2;
    const QRect clip = captionRight ? QRect(QPoint(20, 2), QPoint(w - 3, h - 1))
                                    : QRect(QPoint(2, 2), QPoint(w - 21, h - 1));
    if (!text.isEmpty() && clip.isValid()) {
        painter.save();
        painter.setClipRect(clip);
        painter.setFont(font());
        painter.setPen(textColour);
        painter.setBackgroundMode(Qt::OpaqueMode);
        painter.setBackground(color_);
        painter.drawText(QPoint(textLeft, (h - textHeight) / 2 + metrics.ascent()), text);
        painter.restore();
    }

    const int accelerator = acceleratorIndex();
    if (accelerator >= 0) {
        const int from = textLeft + metrics.horizontalAdvance(text.left(accelerator));
        const int to = textLeft + metrics.horizontalAdvance(text.left(accelerator + 1));
        if (to > from)
            painter.fillRect(QRect(from, textHeight + 2, to - from, 1), textColour);
    }

    if (enabled && focused_) {
        if (captionRight)
            focusRectangle(painter, 17, 1, textWidth + 25, h - 1);
        else
            focusRectangle(painter, 1, 1, textWidth + 8, h - 1);
    }
}

void TxpCheckBox::enterEvent(QEnterEvent*)
{
    if (hover_)
        return;
    hover_ = true;
    update();
}

void TxpCheckBox::leaveEvent(QEvent*)
{
    if (!hover_)
        return;
    hover_ = false;
    update();
}

void TxpCheckBox::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton || pressed_)
        return;
    pressed_ = true;
    if (!hasFocus() && isEnabled())
        setFocus(Qt::MouseFocusReason);
    update();
}

void TxpCheckBox::mouseReleaseEvent(QMouseEvent* event)
{
    // The mouse stays grabbed while a button is down; a release away from
    // the box is not a release over it and leaves the press pending.
    if (event->button() != Qt::LeftButton || !pressed_
        || !rect().contains(event->position().toPoint()))
        return;
    pressed_ = false;
    update();
    click();
}

void TxpCheckBox::mouseDoubleClickEvent(QMouseEvent* event)
{
    // The second press of a double click comes only as this event; it is
    // itself the click, and the release that follows finds nothing pending.
    if (event->button() == Qt::LeftButton)
        click();
}

void TxpCheckBox::keyPressEvent(QKeyEvent* event)
{
    if (!pressed_ && event->key() == Qt::Key_Space) {
        pressed_ = true;
        update();
    }
    QWidget::keyPressEvent(event);
}

void TxpCheckBox::keyReleaseEvent(QKeyEvent* event)
{
    // A held key repeats as release and press pairs; only the real release
    // completes the press, and any key's release does.
    if (event->isAutoRepeat() || !pressed_) {
        QWidget::keyReleaseEvent(event);
        return;
    }
    pressed_ = false;
    click();
}

void TxpCheckBox::focusInEvent(QFocusEvent*)
{
    if (!focused_) {
        focused_ = true;
        update();
    }
    if (!active_) {
        active_ = true;
        if (OnEnter)
            OnEnter(this);
    }
}

void TxpCheckBox::focusOutEvent(QFocusEvent* event)
{
    if (focused_) {
        focused_ = false;
        update();
    }
    // Another window or a popup taking the focus leaves the box the active
    // control of its own window.
    const Qt::FocusReason reason = event->reason();
    if (!active_ || reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason)
        return;
    active_ = false;
    if (OnExit)
        OnExit(this);
}

} // namespace qevra::controls
