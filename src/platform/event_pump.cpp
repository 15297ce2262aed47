#include "platform/event_pump.h"

#include <QCoreApplication>

namespace qevra::platform {

void EventPump::runNow(Clock::time_point now)
{
    QCoreApplication::processEvents();
    last_ = now;
}

} // namespace qevra::platform
