#include "controls/xp_button.h"

#include "controls/gradient.h"
#include "controls/palette.h"

#include <QApplication>
#include <QDialog>
#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPainter>
#include <algorithm>

namespace qevra::controls {

namespace {

const QColor kFace(214, 211, 211);
const QColor kBorder(0, 60, 116);
const QColor kLight(253, 253, 253);
const QColor kDark(205, 204, 223);
const QColor kHighlight(206, 231, 255);
const QColor kShade(105, 130, 238);
const QColor kInner(188, 212, 246);
const QColor kWhite(255, 255, 255);
const QColor kHoverFrame(248, 179, 48);
const QColor kDisabledFace(241, 241, 237);
const QColor kDisabledBorder(196, 195, 191);
const QColor kDisabledCaption(161, 161, 146);

// Pixels from the left edge that a rounded rectangle `width` × `height` with
// corner w × h leaves out on the row `fromEdge` rows from its top or bottom.
// The corner is a quarter of the ellipse through the centres of the
// corner's outermost pixels.
int cornerInset(int width, int height, int w, int h, int fromEdge)
{
    const int a = std::min(w, width) - 1;
    const int b = std::min(h, height) - 1;
    if (a <= 0 || b <= 0)
        return 0;
    const long long dy = b - 2 * fromEdge;
    if (dy <= 0)
        return 0;
    const long long limit = static_cast<long long>(a) * a * b * b;
    int inset = 0;
    for (long long dx = a; dx > 0; dx -= 2, ++inset) {
        if (dx * dx * b * b + dy * dy * a * a <= limit)
            break;
    }
    return inset;
}

void roundedFill(
    QPainter& painter, int left, int top, int right, int bottom, int w, int h, QColor colour)
{
    const int width = right - left;
    const int height = bottom - top;
    for (int y = top; y < bottom; ++y) {
        const int inset = cornerInset(width, height, w, h, std::min(y - top, bottom - 1 - y));
        horizontalLine(painter, left + inset, right - inset, y, colour);
    }
}

// The pixels of the rounded rectangle that touch its outside.
void roundedOutline(
    QPainter& painter, int left, int top, int right, int bottom, int w, int h, QColor colour)
{
    const int width = right - left;
    const int height = bottom - top;
    const auto insetAt = [&](int y) {
        return cornerInset(width, height, w, h, std::min(y - top, bottom - 1 - y));
    };
    for (int y = top; y < bottom; ++y) {
        const int inset = insetAt(y);
        if (y == top || y == bottom - 1) {
            horizontalLine(painter, left + inset, right - inset, y, colour);
            continue;
        }
        // Along a corner the outline reaches in as far as the neighbouring rows begin.
        const int reach = std::max(inset + 1, std::max(insetAt(y - 1), insetAt(y + 1)));
        const int span = std::min(reach - inset, (width - 2 * inset + 1) / 2);
        horizontalLine(painter, left + inset, left + inset + span, y, colour);
        horizontalLine(painter, right - inset - span, right - inset, y, colour);
    }
}

bool activationKey(int key)
{
    return key == Qt::Key_Return || key == Qt::Key_Enter || key == Qt::Key_Space;
}

} // namespace

TxpButton::TxpButton(QWidget* parent)
    : TxpButton(QStringLiteral("XP Button"), parent)
{
}

TxpButton::TxpButton(const QString& caption, QWidget* parent)
    : OwnerDrawnControl(caption, MouseRepaint::AtOnce, parent)
{
    resize(75, 25);
    setFocusPolicy(Qt::StrongFocus);
    setCursor(Qt::PointingHandCursor);
    grabAccelerator();
    watchWindow();
}

TxpButton::~TxpButton()
{
    if (watchedWindow_)
        watchedWindow_->removeEventFilter(this);
}

void TxpButton::setButtonFont(const QFont& font)
{
    QFont own(font);
    own.setResolveMask(QFont::AllPropertiesResolved);
    setFont(own);
    repaint();
}

QString TxpButton::captionText() const
{
    return captionWithoutMark(caption_);
}

QChar TxpButton::accelerator() const
{
    return acceleratorOf(caption_);
}

void TxpButton::click()
{
    const QPointer<TxpButton> self(this);
    if (OnClick) {
        const auto handler = OnClick;
        handler(this);
    }
    if (!self || ModalResult == 0)
        return;
    if (auto* dialog = qobject_cast<QDialog*>(window()))
        dialog->done(ModalResult);
}

void TxpButton::watchWindow()
{
    QWidget* const target = parentWidget() ? window() : nullptr;
    if (target == watchedWindow_)
        return;
    if (watchedWindow_)
        watchedWindow_->removeEventFilter(this);
    watchedWindow_ = target;
    if (target)
        target->installEventFilter(this);
}

void TxpButton::grabAccelerator()
{
    if (shortcutId_ != 0) {
        releaseShortcut(shortcutId_);
        shortcutId_ = 0;
    }
    const QChar key = accelerator();
    if (!key.isNull() && !key.isSpace())
        shortcutId_ = grabShortcut(QKeySequence(
            QKeyCombination(Qt::AltModifier, static_cast<Qt::Key>(key.toUpper().unicode()))));
}

bool TxpButton::event(QEvent* event)
{
    switch (event->type()) {
    case QEvent::Shortcut:
        // Alt with the accelerator character.
        if (isEnabled())
            click();
        return true;
    case QEvent::ParentChange:
        watchWindow();
        break;
    default:
        break;
    }
    return OwnerDrawnControl::event(event);
}

bool TxpButton::eventFilter(QObject* watched, QEvent* event)
{
    // Keys the focused control left alone come up to the window.
    if (watched != watchedWindow_ || event->type() != QEvent::KeyPress || !isEnabled())
        return OwnerDrawnControl::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool enter = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter;
    if ((Cancel && key->key() == Qt::Key_Escape) || (Default && enter)) {
        click();
        return false;
    }
    const QChar mark = accelerator();
    const QString typed = key->text();
    const bool plain
        = (key->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier)) == 0;
    if (plain && !mark.isNull() && typed.size() == 1 && typed.at(0).toUpper() == mark.toUpper()) {
        const QWidget* focus = QApplication::focusWidget();
        if (!focus || !focus->testAttribute(Qt::WA_InputMethodEnabled))
            click();
    }
    return false;
}

QPoint TxpButton::captionOrigin(int offset) const
{
    const QFontMetrics metrics(font());
    const QString text = captionText();
    return { (width() - metrics.horizontalAdvance(text)) / 2 + offset,
        (height() - metrics.height()) / 2 + offset };
}

void TxpButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (isEnabled())
        paintEnabled(painter);
    else
        paintDisabled(painter);
}

void TxpButton::paintEnabled(QPainter& painter)
{
    const int w = width();
    const int h = height();
    roundedFill(painter, 0, 0, w, h, 3, 3, kFace);
    roundedOutline(painter, 1, 1, w - 1, h - 1, 5, 5, kBorder);
    if (pressed_ && hover_)
        gradientFill(painter, 4, 4, w - 4, h - 4, kLight, kDark, GradientDirection::BottomToTop,
            std::min(255, h / 2));
    else
        gradientFill(painter, 4, 4, w - 4, h - 4, kLight, kDark, GradientDirection::TopToBottom,
            std::min(255, h / 3));
    horizontalLine(painter, 3, w - 3, 2, kHighlight);
    horizontalLine(painter, 3, w - 3, h - 3, kShade);
    rectangleOutline(painter, 2, 3, w - 2, h - 3, kInner);
    verticalLine(painter, 3, 4, h - 4, kWhite);
    verticalLine(painter, w - 4, 4, h - 4, kWhite);
    horizontalLine(painter, 3, w - 3, h - 1, kWhite);
    verticalLine(painter, w - 1, 3, h - 3, kWhite);
    if (hover_)
        roundedOutline(painter, 3, 3, w - 3, h - 3, 2, 2, kHoverFrame);
    // The program's colours, not the palette an application style sheet
    // may give the button: the face under the caption is always light.
    const QColor text = programColour(QPalette::WindowText);
    const int offset = pressed_ ? 1 : 0;
    paintCaption(painter, text, offset);
    if (focused_)
        focusMark(painter, 4, 4, w - 4, h - 4);
    paintUnderline(painter, text, offset);
}

void TxpButton::paintDisabled(QPainter& painter)
{
    const int w = width();
    const int h = height();
    roundedFill(painter, 0, 0, w, h, 3, 3, kDisabledFace);
    roundedOutline(painter, 0, 0, w, h, 3, 3, kFace);
    const QColor corner = programColour(QPalette::Button);
    for (const QPoint point :
        { QPoint(0, 0), QPoint(w - 1, 0), QPoint(w - 1, h - 1), QPoint(0, h - 1) })
        painter.fillRect(point.x(), point.y(), 1, 1, corner);
    roundedOutline(painter, 1, 1, w - 1, h - 1, 5, 5, kDisabledBorder);
    paintCaption(painter, kDisabledCaption, 0);
    paintUnderline(painter, kDisabledCaption, 0);
}

void TxpButton::paintCaption(QPainter& painter, QColor colour, int offset)
{
    const QString text = captionText();
    if (text.isEmpty())
        return;
    // The caption is drawn without smoothing, like every other pixel of the face.
    QFont drawn = font();
    drawn.setStyleStrategy(QFont::StyleStrategy(drawn.styleStrategy() | QFont::NoAntialias));
    const QPoint origin = captionOrigin(offset);
    painter.save();
    painter.setClipRect(QRect(4, 4, std::max(0, width() - 8), std::max(0, height() - 8)));
    painter.setFont(drawn);
    painter.setPen(colour);
    painter.setBackgroundMode(Qt::TransparentMode);
    painter.drawText(origin.x(), origin.y() + QFontMetrics(font()).ascent(), text);
    painter.restore();
}

void TxpButton::paintUnderline(QPainter& painter, QColor colour, int offset)
{
    const qsizetype mark = acceleratorIndex(caption_);
    if (mark < 0)
        return;
    const QFontMetrics metrics(font());
    const QString text = captionText();
    const QPoint origin = captionOrigin(offset);
    const int from = origin.x() + metrics.horizontalAdvance(text.left(mark));
    const int to = origin.x() + metrics.horizontalAdvance(text.left(mark + 1));
    horizontalLine(painter, from, to, origin.y() + metrics.height(), colour);
}

void TxpButton::mouseMoveEvent(QMouseEvent* event)
{
    // While a mouse button is held the toolkit sends the pointer here and
    // reports no leaving; the hover look still follows the pointer.
    const bool over = rect().contains(event->position().toPoint());
    if (over == hover_)
        return;
    hover_ = over;
    repaint();
}

void TxpButton::keyPressEvent(QKeyEvent* event)
{
    if (!pressed_ && activationKey(event->key())) {
        pressed_ = true;
        update();
    }
    QWidget::keyPressEvent(event);
}

void TxpButton::keyReleaseEvent(QKeyEvent* event)
{
    QWidget::keyReleaseEvent(event);
    // A held key sends releases of its own between the repeated presses.
    if (event->isAutoRepeat() || !pressed_ || !activationKey(event->key()))
        return;
    pressed_ = false;
    update();
    click();
}

void TxpButton::focusInEvent(QFocusEvent* event)
{
    QWidget::focusInEvent(event);
    setFocusedLook(true);
    becomeActive();
}

void TxpButton::focusOutEvent(QFocusEvent* event)
{
    QWidget::focusOutEvent(event);
    setFocusedLook(false);
    // Another window taking the focus leaves the button its own window's
    // active control.
    const bool stays = (event->reason() == Qt::ActiveWindowFocusReason
                           || event->reason() == Qt::PopupFocusReason)
        && window()->focusWidget() == this;
    if (!stays)
        stopBeingActive();
}

} // namespace qevra::controls
