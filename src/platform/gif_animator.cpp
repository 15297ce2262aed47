#include "platform/gif_animator.h"

#include "base/exceptions.h"
#include "platform/picture_loader.h"

#include <QPainter>
#include <QtMath>

namespace qevra::platform {

GifAnimator::GifAnimator(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GifAnimator::load(const std::string& path)
{
    GifPicture gif = loadGif(path);
    const QRect whole(QPoint(0, 0), gif.screen);
    // What can be seen of the widget once it has the screen's size.
    QRect visible = whole;
    if (!viewArea_.isNull())
        visible &= viewArea_.translated(-pos());
    else if (parentWidget())
        visible &= parentWidget()->rect().translated(-pos());

    const qreal ratio = devicePixelRatioF();
    const QSize pixels(qCeil(visible.width() * ratio), qCeil(visible.height() * ratio));
    QImage kept;
    QRect part;
    if (qint64(gif.firstFrame.width()) * gif.firstFrame.height()
        > qint64(pixels.width()) * pixels.height()) {
        part = visible;
        if (!part.isEmpty()) {
            // The frame painted as paintEvent would paint it whole, cut to
            // the visible part.
            kept = QImage(pixels, QImage::Format_ARGB32_Premultiplied);
            if (kept.isNull())
                throw Exception(QStringLiteral("Not enough memory for a %1x%2 picture")
                                    .arg(pixels.width())
                                    .arg(pixels.height()));
            kept.setDevicePixelRatio(ratio);
            kept.fill(Qt::transparent);
            QPainter painter(&kept);
            painter.translate(-part.topLeft());
            painter.drawImage(whole, gif.firstFrame);
        }
    } else {
        kept = std::move(gif.firstFrame);
    }
    picture_ = std::move(kept);
    part_ = part;
    partOf_ = gif.screen;
    resize(gif.screen);
    update();
}

void GifAnimator::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    if (part_.isNull()) {
        painter.drawImage(rect(), picture_);
    } else if (size() == partOf_) {
        // Pixel for pixel at the ratio it was made for.
        painter.drawImage(part_.topLeft(), picture_);
    } else {
        // Resized since: the kept part stretched as the frame would be. What
        // was out of sight then stays blank.
        const qreal x = qreal(width()) / partOf_.width();
        const qreal y = qreal(height()) / partOf_.height();
        painter.drawImage(
            QRectF(part_.x() * x, part_.y() * y, part_.width() * x, part_.height() * y), picture_);
    }
}

} // namespace qevra::platform
