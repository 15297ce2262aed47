#include "search/worker_thread.h"

#include <cerrno>
#include <pthread.h>
#include <sys/resource.h>
#include <unistd.h>

namespace qevra::search {

namespace {

// Nice steps below the starting thread: each step weighs about 1.25 times
// less with the scheduler.
constexpr int kLowerBy = 5;

} // namespace

void becomeWorker(const char* name)
{
    ::pthread_setname_np(::pthread_self(), name);
    // On Linux the nice value belongs to the thread; a worker inherits its
    // starter's, and may always lower its own.
    const auto self = static_cast<id_t>(::gettid());
    errno = 0;
    const int now = ::getpriority(PRIO_PROCESS, self);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, self, now + kLowerBy);
}

} // namespace qevra::search
