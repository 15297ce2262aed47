#include "support/temp_tree.h"

#include <cerrno>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <fstream>
#include <grp.h>
#include <sched.h>
#include <spawn.h>
#include <stdexcept>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

extern "C" char** environ;

namespace qevra::testing {

namespace {

void makeParents(const std::string& path)
{
    for (std::size_t slash = path.find('/', 1); slash != std::string::npos;
         slash = path.find('/', slash + 1)) {
        ::mkdir(path.substr(0, slash).c_str(), 0755);
    }
}

} // namespace

TempTree::TempTree()
{
    const char* base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/qevra-test-XXXXXX";
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    root_ = pattern;
    // Readable and searchable by the unprivileged children of some tests.
    ::chmod(root_.c_str(), 0755);
}

TempTree::~TempTree()
{
    // rm copes with trees deeper than a path can name and with directories
    // that were made unreadable.
    ::chmod(root_.c_str(), 0755);
    char rm[] = "rm";
    char flags[] = "-rf";
    char* argv[] = { rm, flags, root_.data(), nullptr };
    pid_t pid = 0;
    if (posix_spawnp(&pid, "rm", nullptr, nullptr, argv, environ) == 0)
        waitFor(pid);
}

std::string TempTree::path(std::string_view relative) const
{
    return root_ + "/" + std::string(relative);
}

std::string TempTree::dir(std::string_view relative) const
{
    const std::string full = path(relative);
    makeParents(full + "/");
    return full;
}

std::string TempTree::file(std::string_view relative, std::string_view content) const
{
    const std::string full = path(relative);
    makeParents(full);
    std::ofstream out(full, std::ios::binary | std::ios::trunc);
    out.write(content.data(), static_cast<std::streamsize>(content.size()));
    if (!out)
        throw std::runtime_error("cannot write " + full);
    return full;
}

std::string TempTree::sizedFile(std::string_view relative, std::size_t size, char fill) const
{
    return file(relative, std::string(size, fill));
}

std::string TempTree::link(std::string_view relative, std::string_view target) const
{
    const std::string full = path(relative);
    makeParents(full);
    if (::symlink(std::string(target).c_str(), full.c_str()) != 0)
        throw std::runtime_error("cannot link " + full);
    return full;
}

int waitFor(int pid)
{
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return -1;
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

int runUnprivileged(const std::function<int()>& work)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        const gid_t nobodyGroup = 65534;
        const uid_t nobody = 65534;
        if (::setgroups(0, nullptr) != 0 || ::setgid(nobodyGroup) != 0 || ::setuid(nobody) != 0)
            ::_exit(125);
        ::_exit(work());
    }
    return waitFor(pid);
}

DataHome::DataHome()
{
    if (const char* old = std::getenv("XDG_DATA_HOME"))
        old_ = old;
}

DataHome::DataHome(const std::string& dataHome)
    : DataHome()
{
    point(dataHome);
}

DataHome::~DataHome()
{
    if (old_)
        ::setenv("XDG_DATA_HOME", old_->c_str(), 1);
    else
        ::unsetenv("XDG_DATA_HOME");
}

void DataHome::point(const std::string& dataHome)
{
    ::setenv("XDG_DATA_HOME", dataHome.c_str(), 1);
}

int inMountNamespace(const std::function<int()>& work)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0)
            ::_exit(kChildSkipped);
        ::_exit(work());
    }
    return waitFor(pid);
}

std::string numbered(std::string_view prefix, long long number, std::string_view suffix)
{
    std::string text(prefix);
    text.append(std::to_string(number)).append(suffix);
    return text;
}

std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::set<std::string> namesIn(const std::string& dir)
{
    std::set<std::string> names;
    if (DIR* handle = ::opendir(dir.c_str())) {
        while (const dirent* entry = ::readdir(handle)) {
            const std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.insert(name);
        }
        ::closedir(handle);
    }
    return names;
}

} // namespace qevra::testing
