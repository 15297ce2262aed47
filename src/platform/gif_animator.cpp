#include "platform/gif_animator.h"

#include "platform/picture_loader.h"

#include <QPainter>

namespace qevra::platform {

GifAnimator::GifAnimator(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GifAnimator::load(const std::string& path)
{
    GifPicture gif = loadGif(path);
    picture_ = std::move(gif.firstFrame);
    resize(gif.screen);
    update();
}

void GifAnimator::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

} // namespace qevra::platform
