#include "cli/find.h"

#include <atomic>
#include <csignal>
#include <string>
#include <vector>

namespace {

std::atomic<bool> interrupted { false };
static_assert(std::atomic<bool>::is_always_lock_free);

extern "C" void onInterrupt(int)
{
    interrupted.store(true);
}

} // namespace

int main(int argc, char** argv)
{
    // Ctrl+C ends the search at once; the program then ends with 130.
    struct sigaction action { };
    action.sa_handler = onInterrupt;
    sigemptyset(&action.sa_mask);
    ::sigaction(SIGINT, &action, nullptr);
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    return qevra::cli::runFind(arguments, stdout, stderr, interrupted);
}
