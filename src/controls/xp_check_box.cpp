#include "controls/xp_check_box.h"

#include "controls/accessibility.h"
#include "controls/gradient.h"
#include "controls/palette.h"

#include <QFocusEvent>
#include <QFontMetrics>
#include <QKeyEvent>
#include <QKeySequence>
#include <QPainter>
#include <QShortcutEvent>

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

} // namespace

TxpCheckBox::TxpCheckBox(QWidget* parent)
    : TxpCheckBox(QStringLiteral("XP Checkbox"), parent)
{
}

TxpCheckBox::TxpCheckBox(const QString& caption, QWidget* parent)
    : OwnerDrawnControl(caption, MouseRepaint::Scheduled, parent)
    , color_(programColour(QPalette::Button))
{
    resize(97, 17);
    setFocusPolicy(Qt::StrongFocus);
    grabAccelerator();
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
    notifyCheckedChanged(this);
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
    notifyCheckedChanged(this);
    if (OnClick)
        OnClick(this);
}

void TxpCheckBox::grabAccelerator()
{
    for (int* id : { &altShortcut_, &plainShortcut_ }) {
        if (*id != 0)
            releaseShortcut(*id);
        *id = 0;
    }
    const QChar accelerator = acceleratorOf(caption_);
    if (accelerator.isNull())
        return;
    // A letter key's code is its upper-case character whatever case it
    // types (Shift held is a different combination).
    const int key = static_cast<int>(accelerator.toUpper().unicode());
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
    return OwnerDrawnControl::event(event);
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
        rectangleOutline(painter, left, top, right, bottom, QColor(kOutline));
    } else {
        painter.fillRect(QRect(left, top, kBoxSize, bottom - top), QColor(kDisabledInside));
        rectangleOutline(painter, left, top, right, bottom, QColor(kDisabledOutline));
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

    const QString text = captionWithoutMark(caption_);
    const QFontMetrics metrics(font());
    const int textWidth = metrics.horizontalAdvance(text);
    const int textHeight = metrics.height();
    // The program's text colour on the box's own ground, whatever palette an
    // application style sheet gives the box.
    const QColor textColour
        = enabled ? programColour(QPalette::WindowText) : QColor(kDisabledCaption);
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

    const qsizetype accelerator = acceleratorIndex(caption_);
    if (accelerator >= 0) {
        const int from = textLeft + metrics.horizontalAdvance(text.left(accelerator));
        const int to = textLeft + metrics.horizontalAdvance(text.left(accelerator + 1));
        horizontalLine(painter, from, to, textHeight + 2, textColour);
    }

    if (enabled && focused_) {
        if (captionRight)
            focusMark(painter, 17, 1, textWidth + 25, h - 1);
        else
            focusMark(painter, 1, 1, textWidth + 8, h - 1);
    }
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
    setFocusedLook(true);
    becomeActive();
}

void TxpCheckBox::focusOutEvent(QFocusEvent* event)
{
    setFocusedLook(false);
    // Another window or a popup taking the focus leaves the box the active
    // control of its own window.
    const Qt::FocusReason reason = event->reason();
    if (reason != Qt::ActiveWindowFocusReason && reason != Qt::PopupFocusReason)
        stopBeingActive();
}

} // namespace qevra::controls
