#include "support/pass_through.h"

#include "support/temp_tree.h"

#include <csignal>
#include <spawn.h>
#include <unistd.h>

namespace qevra::testing {

PassThrough::PassThrough(const std::string& program, const std::string& source,
    const std::string& mountPoint, const std::vector<std::string>& options)
{
    int out[2];
    if (::pipe(out) != 0)
        return;
    std::vector<std::string> arguments { program };
    arguments.insert(arguments.end(), options.begin(), options.end());
    arguments.push_back(source);
    arguments.push_back(mountPoint);
    std::vector<char*> argv;
    for (std::string& argument : arguments)
        argv.push_back(argument.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
    posix_spawn_file_actions_addclose(&actions, out[0]);
    const bool started
        = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv.data(), environ) == 0;
    posix_spawn_file_actions_destroy(&actions);
    ::close(out[1]);
    if (!started) {
        pid_ = -1;
        ::close(out[0]);
        return;
    }
    // It says "mounted" once the mount is there, or ends.
    std::string said;
    char buffer[64];
    ssize_t got = 0;
    while (
        said.find('\n') == std::string::npos && (got = ::read(out[0], buffer, sizeof buffer)) > 0)
        said.append(buffer, std::size_t(got));
    ::close(out[0]);
    mounted_ = said.starts_with("mounted");
}

PassThrough::~PassThrough()
{
    stop();
}

void PassThrough::signal(int number) const
{
    if (pid_ > 0)
        ::kill(pid_, number);
}

void PassThrough::stop()
{
    if (pid_ <= 0)
        return;
    ::kill(pid_, SIGTERM);
    waitFor(pid_);
    pid_ = -1;
}

} // namespace qevra::testing
