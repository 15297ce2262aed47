#include "controls/flat_controls.h"

#include "controls/palette.h"

#include <QApplication>
#include <QEvent>
#include <QPainter>
#include <QPointer>
#include <QScreen>
#include <QSet>
#include <QWidget>

namespace qevra::controls {

namespace {

TFlatStyle programStyle = TFlatStyle::fsFlat;

// The system colours of the frame come from the program's palette, not from
// the control's own (which its window may colour) nor from the desktop's.
QColor platformColour(QPalette::ColorRole role)
{
    return programColour(role);
}

void fillRing(QPainter& painter, int k, int width, int height, QColor colour)
{
    const int w = width - 2 * k;
    const int h = height - 2 * k;
    if (w <= 0 || h <= 0)
        return;
    painter.fillRect(k, k, w, 1, colour);
    painter.fillRect(k, height - k - 1, w, 1, colour);
    painter.fillRect(k, k, 1, h, colour);
    painter.fillRect(width - k - 1, k, 1, h, colour);
}

} // namespace

TFlatStyle globalFlatStyle()
{
    return programStyle;
}

std::uint32_t packColour(QColor colour)
{
    return std::uint32_t(colour.blue()) * 65536u + std::uint32_t(colour.green()) * 256u
        + std::uint32_t(colour.red());
}

QColor unpackColour(std::uint32_t packed)
{
    return QColor(int(packed & 0xffu), int((packed >> 8) & 0xffu), int((packed >> 16) & 0xffu));
}

QColor flatColourFor(QColor scrollBar, QColor window, int screenDepth)
{
    if (screenDepth <= 8)
        return window;
    return unpackColour(packColour(scrollBar) + 1579032u);
}

QColor flatColour()
{
    static const QColor colour = [] {
        const QScreen* screen = QGuiApplication::primaryScreen();
        return flatColourFor(platformColour(QPalette::Mid), platformColour(QPalette::Base),
            screen ? screen->depth() : 32);
    }();
    return colour;
}

void drawFlatFrame(QPainter& painter, int width, int height, bool hot)
{
    const QColor face = platformColour(QPalette::Button);
    painter.save();
    painter.setRenderHint(QPainter::Antialiasing, false);
    if (hot && width > 0 && height > 0) {
        // The light sides own the top-right and bottom-left corners.
        painter.fillRect(0, 0, width - 1, 1, platformColour(QPalette::Dark));
        painter.fillRect(0, 0, 1, height - 1, platformColour(QPalette::Dark));
        painter.fillRect(0, height - 1, width, 1, platformColour(QPalette::Light));
        painter.fillRect(width - 1, 0, 1, height, platformColour(QPalette::Light));
    } else {
        fillRing(painter, 0, width, height, face);
    }
    fillRing(painter, 1, width, height, face);
    fillRing(painter, 2, width, height, flatColour());
    painter.restore();
}

QRegion flatFrameRegion(int width, int height)
{
    const QRect whole(0, 0, width, height);
    return QRegion(whole) - QRegion(whole.adjusted(3, 3, -3, -3));
}

TFlatStyle initialFlatStyle(const QWidget* parent)
{
    if (parent) {
        if (const auto* manager = parent->window()->findChild<TfsManager*>())
            return manager->flatStyle();
    }
    return programStyle;
}

FlatFrameState::FlatFrameState(QWidget* control)
    : control_(control)
    , style_(initialFlatStyle(control->parentWidget()))
{
}

bool FlatFrameState::setStyle(TFlatStyle style)
{
    if (style == style_)
        return false;
    style_ = style;
    // The pointer may have come or gone while the frame was not followed.
    hover_ = style == TFlatStyle::fsFlat && control_->underMouse();
    return true;
}

bool FlatFrameState::isHot() const
{
    if (hover_)
        return true;
    // The application's focus widget is that of the active window. It may
    // sit in a child of the control (the edit field of a combo box) or in a
    // window the control owns (its drop-down list).
    for (const QWidget* w = QApplication::focusWidget(); w; w = w->parentWidget()) {
        if (w == control_)
            return true;
    }
    return false;
}

bool FlatFrameState::follow(const QEvent* event)
{
    if (style_ != TFlatStyle::fsFlat)
        return false;
    switch (event->type()) {
    case QEvent::Enter:
        if (hover_)
            return false;
        hover_ = true;
        return true;
    case QEvent::Leave:
        if (!hover_)
            return false;
        hover_ = false;
        return true;
    // A window losing or regaining activation sends these as well.
    case QEvent::FocusIn:
    case QEvent::FocusOut:
        return true;
    default:
        return false;
    }
}

TfsManager::TfsManager(QObject* parent)
    : QObject(parent)
    , flatStyle_(programStyle)
    , globalStyle_(programStyle)
{
}

void TfsManager::setFlatStyle(TFlatStyle style)
{
    if (style == flatStyle_)
        return;
    flatStyle_ = style;
    propagate(style, "FlatStyle");
}

void TfsManager::setGlobalStyle(TFlatStyle style)
{
    if (style == globalStyle_)
        return;
    programStyle = style;
    globalStyle_ = style;
    flatStyle_ = style;
    propagate(style, "GlobalStyle");
}

void TfsManager::propagate(TFlatStyle value, const char* name)
{
    // Gathered first: a manager reached below hands the value on again
    // while this walk is still going.
    QList<QPointer<QObject>> targets;
    QSet<QObject*> seen;
    const auto gather = [&](QObject* object) {
        if (!seen.contains(object)) {
            seen.insert(object);
            targets.append(object);
        }
    };
    for (QWidget* window : QApplication::topLevelWidgets()) {
        gather(window);
        for (QObject* child : window->findChildren<QObject*>())
            gather(child);
    }
    const QVariant variant = QVariant::fromValue(value);
    for (const QPointer<QObject>& target : targets) {
        if (!target)
            continue;
        if (auto* manager = qobject_cast<TfsManager*>(target.data()))
            manager->setProperty(name, variant);
        else if (target->isWidgetType() && target->metaObject()->indexOfProperty("FlatStyle") >= 0)
            target->setProperty("FlatStyle", variant);
    }
}

} // namespace qevra::controls
