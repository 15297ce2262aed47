#include "controls/palette.h"

#include <QPaintEvent>
#include <QPainter>
#include <QWidget>

namespace qevra::controls {

namespace {

QPalette makePalette()
{
    const QColor window(240, 251, 255);
    const QColor black(0, 0, 0);
    const QColor white(255, 255, 255);
    const QColor grayText(128, 128, 128);

    QPalette palette;
    const auto all = [&palette](QPalette::ColorRole role, QColor colour) {
        for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
            palette.setColor(group, role, colour);
    };
    all(QPalette::Window, window);
    all(QPalette::WindowText, black);
    all(QPalette::Base, window);
    all(QPalette::AlternateBase, QColor(247, 247, 247));
    all(QPalette::Text, black);
    all(QPalette::PlaceholderText, grayText);
    all(QPalette::Button, QColor(239, 239, 239));
    all(QPalette::ButtonText, black);
    all(QPalette::BrightText, white);
    all(QPalette::Light, white);
    all(QPalette::Midlight, QColor(202, 202, 202));
    all(QPalette::Mid, QColor(184, 184, 184));
    all(QPalette::Dark, QColor(159, 159, 159));
    all(QPalette::Shadow, QColor(118, 118, 118));
    all(QPalette::Highlight, QColor(48, 140, 198));
    all(QPalette::HighlightedText, white);
    all(QPalette::Link, QColor(0, 0, 255));
    all(QPalette::LinkVisited, QColor(128, 0, 128));
    all(QPalette::ToolTipBase, QColor(255, 255, 220));
    all(QPalette::ToolTipText, black);
    // Disabled text is the system's grey text, still readable on the window
    // colour (the copies editor's second list is disabled and read all the time).
    for (const auto role : { QPalette::WindowText, QPalette::Text, QPalette::ButtonText })
        palette.setColor(QPalette::Disabled, role, grayText);
    palette.setColor(QPalette::Disabled, QPalette::Highlight, QColor(145, 145, 145));
    return palette;
}

// Paints the window colour as a window's ground under a style sheet.
class WindowGround : public QObject {
public:
    explicit WindowGround(QWidget* window)
        : QObject(window)
        , window_(window)
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (watched == window_ && event->type() == QEvent::Paint
            && window_->testAttribute(Qt::WA_StyleSheet)) {
            QPainter painter(window_);
            painter.fillRect(static_cast<QPaintEvent*>(event)->rect(), windowColour());
        }
        return false;
    }

private:
    QWidget* window_;
};

} // namespace

QColor windowColour()
{
    return QColor(240, 251, 255);
}

const QPalette& programPalette()
{
    static const QPalette palette = makePalette();
    return palette;
}

QColor programColour(QPalette::ColorRole role)
{
    return programPalette().color(QPalette::Active, role);
}

const QPalette& drawingPalette(const QWidget& control)
{
    return control.testAttribute(Qt::WA_StyleSheet) ? programPalette() : control.palette();
}

void keepProgramColours(QWidget& window)
{
    window.setPalette(programPalette());
    window.setAutoFillBackground(true);
    // A style sheet may give the window another ground (and turn the fill
    // off): the window colour is painted over it before anything else.
    window.installEventFilter(new WindowGround(&window));
}

} // namespace qevra::controls
