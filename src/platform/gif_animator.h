#pragma once

#include <QImage>
#include <QRect>
#include <QWidget>
#include <string>

namespace qevra::platform {

// Shows one GIF picture, still, stretched over its rectangle; transparent
// where it holds no picture, so what lies beneath shows through.
//
// Only the part of the widget inside its parent can ever be seen, so only
// that much of the picture is kept: the whole first frame when it has no
// more pixels than that part on this screen, else the frame as it paints
// onto that part, at the widget's device pixel ratio. A GIF of a large
// logical screen thus costs the window's pixels, not the screen's.
class GifAnimator : public QWidget {
    Q_OBJECT
public:
    explicit GifAnimator(QWidget* parent);

    // The part of the parent, in its coordinates, where this widget can be
    // seen, for a parent that will grow after a load (a window that widens).
    // A null rectangle (the default): the parent's rectangle at the load.
    void setViewArea(const QRect& area) { viewArea_ = area; }

    // Shows the first frame of the GIF file and takes the size of its
    // logical screen, the top-left corner staying put. Throws
    // qevra::Exception like loadPicture() and then keeps what it showed.
    void load(const std::string& path);

    // What is kept of the first frame (see above); null when none of it
    // can be seen.
    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
    // Where picture_ paints, for a part of the frame, when the widget is
    // partOf_ in size; null when picture_ is the whole frame.
    QRect part_;
    QSize partOf_;
    QRect viewArea_;
};

} // namespace qevra::platform
