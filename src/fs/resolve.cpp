#include "fs/resolve.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <fcntl.h>
#include <linux/openat2.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace qevra::fs {

int openWithoutLinks(const std::string& path, int flags)
{
    flags |= O_CLOEXEC;
    static std::atomic<bool> kernelResolves { true };
    if (kernelResolves.load(std::memory_order_relaxed)) {
        open_how how {};
        how.flags = static_cast<std::uint64_t>(flags);
        how.resolve = RESOLVE_NO_SYMLINKS;
        const long fd = ::syscall(SYS_openat2, AT_FDCWD, path.c_str(), &how, sizeof how);
        if (fd >= 0 || (errno != ENOSYS && errno != EPERM))
            return static_cast<int>(fd);
        if (errno == ENOSYS)
            kernelResolves.store(false, std::memory_order_relaxed);
    }
    Descriptor at(::open(path.starts_with('/') ? "/" : ".", O_PATH | O_DIRECTORY | O_CLOEXEC));
    std::size_t begin = 0;
    for (;;) {
        if (!at)
            return -1;
        while (begin < path.size() && path[begin] == '/')
            ++begin;
        const std::size_t end = std::min(path.find('/', begin), path.size());
        std::size_t next = end;
        while (next < path.size() && path[next] == '/')
            ++next;
        const std::string component
            = begin < path.size() ? path.substr(begin, end - begin) : std::string(".");
        if (next >= path.size())
            return ::openat(at.get(), component.c_str(), flags | O_NOFOLLOW);
        at.reset(
            ::openat(at.get(), component.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        begin = next;
    }
}

std::optional<Located> locate(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return std::nullopt;
    Located located;
    located.name = path.substr(slash + 1);
    if (located.name.empty() || located.name == "." || located.name == "..")
        return std::nullopt;
    const std::string dir = slash == 0 ? std::string("/") : path.substr(0, slash);
    located.dir.reset(openWithoutLinks(dir, O_PATH | O_DIRECTORY));
    if (!located.dir)
        return std::nullopt;
    return located;
}

Seen checkSeen(
    const Located& at, const FileStamp& seen, bool unchanged, Descriptor& file, struct stat& status)
{
    file.reset(::openat(at.dir.get(), at.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!file)
        return errno == ENOENT ? Seen::Missing : Seen::Failed;
    if (::fstat(file.get(), &status) != 0)
        return Seen::Failed;
    const FileStamp now = stampOf(status);
    if (!S_ISREG(status.st_mode) || !now.sameFile(seen)
        || (unchanged && (now.size != seen.size || now.modified != seen.modified)))
        return Seen::Other;
    return Seen::Same;
}

} // namespace qevra::fs
