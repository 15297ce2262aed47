#pragma once

#include <QImage>
#include <QWidget>
#include <string>

namespace qevra::platform {

// Shows one GIF picture, still, stretched over its rectangle; transparent
// where it holds no picture, so what lies beneath shows through.
class GifAnimator : public QWidget {
    Q_OBJECT
public:
    explicit GifAnimator(QWidget* parent);

    // Shows the first frame of the GIF file and takes the size of its
    // logical screen, the top-left corner staying put. Throws
    // qevra::Exception like loadPicture() and then keeps what it showed.
    void load(const std::string& path);

    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

} // namespace qevra::platform
