#include "fs/descriptor.h"

#include <cerrno>
#include <fcntl.h>
#include <unistd.h>

namespace qevra::fs {

void Descriptor::reset(int fd)
{
    if (fd_ >= 0)
        ::close(fd_);
    fd_ = fd;
}

OpenedFile openRegularFileAt(int dirFd, const char* name, bool forReading)
{
    OpenedFile opened;
    opened.fd.reset(
        ::openat(dirFd, name, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_NOCTTY | O_CLOEXEC));
    if (!opened.fd) {
        opened.error = errno;
        return opened;
    }
    if (::fstat(opened.fd.get(), &opened.status) != 0) {
        opened.error = errno;
    } else if (S_ISDIR(opened.status.st_mode)) {
        opened.error = EISDIR;
    } else if (!S_ISREG(opened.status.st_mode)) {
        opened.error = ENXIO;
    } else if (forReading) {
        // Of the flags F_SETFL changes, the open set O_NONBLOCK alone.
        if (::fcntl(opened.fd.get(), F_SETFL, 0) != 0)
            opened.error = errno;
    }
    if (opened.error != 0)
        opened.fd.reset();
    return opened;
}

OpenedFile openRegularFile(const std::string& path, bool forReading)
{
    return openRegularFileAt(AT_FDCWD, path.c_str(), forReading);
}

} // namespace qevra::fs
