#include "fs/resolve.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdio>
#include <ctime>
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
    if (!S_ISREG(status.st_mode) || !now.sameFile(seen) || (unchanged && !(now == seen)))
        return Seen::Other;
    return Seen::Same;
}

int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    // No hard link and unlink here: unlinking the old name would remove
    // whatever has it by then.
    struct stat status;
    if (::fstatat(toDir, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return errno == ENOENT ? ::renameat(fromDir, from, toDir, to) : -1;
}

Moved moveChecked(const Located& from, int toDir, const std::string& toName, const Descriptor& file,
    const struct stat& checked, bool unchanged)
{
    if (renameNoReplace(from.dir.get(), from.name.c_str(), toDir, toName.c_str()) != 0)
        return errno == EEXIST ? Moved::Taken : Moved::Failed;
    // The descriptor holds the inode checked, so an entry of its device and
    // inode number is that file and no other.
    struct stat arrived;
    struct stat held;
    const bool same = ::fstatat(toDir, toName.c_str(), &arrived, AT_SYMLINK_NOFOLLOW) == 0
        && ::fstat(file.get(), &held) == 0 && S_ISREG(arrived.st_mode)
        && arrived.st_dev == held.st_dev && arrived.st_ino == held.st_ino
        && held.st_dev == checked.st_dev && held.st_ino == checked.st_ino
        && (!unchanged
            || (arrived.st_size == checked.st_size
                && arrived.st_mtim.tv_sec == checked.st_mtim.tv_sec
                && arrived.st_mtim.tv_nsec == checked.st_mtim.tv_nsec));
    if (same)
        return Moved::Done;
    renameNoReplace(toDir, toName.c_str(), from.dir.get(), from.name.c_str());
    return Moved::NotTheFile;
}

std::string privateName()
{
    static std::atomic<std::uint64_t> counter { 0 };
    struct timespec now { };
    ::clock_gettime(CLOCK_REALTIME, &now);
    char name[80];
    std::snprintf(name, sizeof name, ".qevra-%ld-%llx-%llx", static_cast<long>(::getpid()),
        static_cast<unsigned long long>(counter.fetch_add(1)),
        static_cast<unsigned long long>(now.tv_nsec));
    return name;
}

} // namespace qevra::fs
