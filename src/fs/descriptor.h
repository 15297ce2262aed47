#pragma once

#include <string>
#include <sys/stat.h>

namespace qevra::fs {

// An open file descriptor, closed when it goes out of scope.
class Descriptor {
public:
    Descriptor() = default;
    explicit Descriptor(int fd)
        : fd_(fd)
    {
    }
    ~Descriptor() { reset(); }
    Descriptor(Descriptor&& other) noexcept
        : fd_(other.release())
    {
    }
    Descriptor& operator=(Descriptor&& other) noexcept
    {
        if (this != &other)
            reset(other.release());
        return *this;
    }
    Descriptor(const Descriptor&) = delete;
    Descriptor& operator=(const Descriptor&) = delete;

    int get() const { return fd_; }
    explicit operator bool() const { return fd_ >= 0; }
    int release()
    {
        const int fd = fd_;
        fd_ = -1;
        return fd;
    }
    void reset(int fd = -1);

private:
    int fd_ = -1;
};

// A regular file opened for reading, or why it could not be.
struct OpenedFile {
    Descriptor fd;
    int error = 0; // errno value when `fd` is not open
    struct stat status { }; // of the open descriptor
};

// Opens a file for reading the hostile-tree way: without blocking (a named
// pipe or a device never holds the caller), without following a symbolic
// link in the last component, never as a controlling terminal; then checks
// on the descriptor that it is a regular file and, unless the file is only
// to be examined (`forReading` false), makes it blocking again for reading.
// A link fails with ELOOP, a directory with EISDIR, any other kind of file
// with ENXIO.
OpenedFile openRegularFile(const std::string& path, bool forReading = true);

// The same, relative to a directory descriptor.
OpenedFile openRegularFileAt(int dirFd, const char* name, bool forReading = true);

} // namespace qevra::fs
