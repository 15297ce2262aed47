#pragma once

#include <QColor>
#include <QObject>
#include <QRegion>

#include <cstdint>

class QEvent;
class QPainter;
class QWidget;

namespace qevra::controls {

// The look of a flat control: the plain platform border, or the quiet
// frame of two button-face rings and one light ring that turns sunken
// while the control is hot.
enum class TFlatStyle { fsStandard = 0, fsFlat = 1 };

// The style new controls take when their window holds no manager; fsFlat
// until a manager's GlobalStyle changes it.
TFlatStyle globalFlatStyle();

// Colours packed as one number: blue × 65536 + green × 256 + red.
std::uint32_t packColour(QColor colour);
// The inverse of packColour; bits above blue are dropped.
QColor unpackColour(std::uint32_t packed);

// The colour of the inner ring: on displays deeper than 8 bits, the
// scroll-bar colour with 24 added to each component as one addition on
// the packed value (a component above 231 carries into the next one); on
// 8 bits or fewer, the window colour.
QColor flatColourFor(QColor scrollBar, QColor window, int screenDepth);
// flatColourFor() of the application's colours and the primary screen,
// computed at the first call and kept for the rest of the program.
QColor flatColour();

// Paints the frame over the outer three pixels of a control of the given
// size: ring k is the 1-pixel outline of (k, k, width − k, height − k).
// Cold: rings 0 and 1 in the button face, ring 2 in the flat colour. Hot:
// ring 0 sunken (top and left in the shadow colour, bottom and right in the
// highlight colour), rings 1 and 2 as cold.
void drawFlatFrame(QPainter& painter, int width, int height, bool hot);
// The pixels drawFlatFrame() covers.
QRegion flatFrameRegion(int width, int height);

// The style a flat control takes at creation: the FlatStyle of the first
// manager its window holds, else the global style.
TFlatStyle initialFlatStyle(const QWidget* parent);

// The pointer-and-focus state that decides whether a flat control's frame
// is hot: the pointer is over it, or it (or a widget inside it) has the
// focus in the active window.
class FlatFrameState {
public:
    explicit FlatFrameState(QWidget* control);

    TFlatStyle style() const { return style_; }
    // True when the style changed.
    bool setStyle(TFlatStyle style);
    bool hover() const { return hover_; }
    bool isHot() const;

    // Follows an event the control has received: pointer enter and leave,
    // focus in and out. True when the frame must be repainted. Does nothing
    // unless the style is fsFlat.
    bool follow(const QEvent* event);

private:
    QWidget* control_;
    TFlatStyle style_;
    bool hover_ = false;
};

// The component that sets the style of the flat controls: FlatStyle for
// every flat control of every window, GlobalStyle for the controls created
// later in windows holding no manager as well.
class TfsManager : public QObject {
    Q_OBJECT
    Q_PROPERTY(qevra::controls::TFlatStyle FlatStyle READ flatStyle WRITE setFlatStyle)
    Q_PROPERTY(qevra::controls::TFlatStyle GlobalStyle READ globalStyle WRITE setGlobalStyle)
public:
    explicit TfsManager(QObject* parent);

    TFlatStyle flatStyle() const { return flatStyle_; }
    // A different value is stored and handed on under "FlatStyle".
    void setFlatStyle(TFlatStyle style);
    TFlatStyle globalStyle() const { return globalStyle_; }
    // A different value becomes the global style and both styles of this
    // manager, and is handed on under "GlobalStyle".
    void setGlobalStyle(TFlatStyle style);

protected:
    // Hands a value on to every top-level window and everything inside it:
    // a widget with a FlatStyle property gets it set; a manager gets the
    // property `name` set, and hands it on again only if it differed.
    virtual void propagate(TFlatStyle value, const char* name);

private:
    TFlatStyle flatStyle_;
    TFlatStyle globalStyle_;
};

} // namespace qevra::controls
