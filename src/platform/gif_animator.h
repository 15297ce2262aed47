#pragma once

#include <QImage>
#include <QWidget>

namespace qevra::platform {

// Shows one GIF picture, still, stretched over its rectangle; transparent
// where it holds no picture, so what lies beneath shows through.
class GifAnimator : public QWidget {
    Q_OBJECT
public:
    explicit GifAnimator(QWidget* parent);

    const QImage& picture() const { return picture_; }

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QImage picture_;
};

} // namespace qevra::platform
