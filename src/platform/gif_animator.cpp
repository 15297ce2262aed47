#include "platform/gif_animator.h"

#include <QPainter>

namespace qevra::platform {

GifAnimator::GifAnimator(QWidget* parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void GifAnimator::paintEvent(QPaintEvent*)
{
    if (picture_.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(rect(), picture_);
}

} // namespace qevra::platform
