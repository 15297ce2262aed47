#include "fs/file_system.h"

#include "fs/descriptor.h"

#include "platform/exceptions.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace qevra::fs {

void DirListing::add(std::string_view name, EntryType type)
{
    entries_.push_back({ static_cast<std::uint32_t>(names_.size()),
        static_cast<std::uint32_t>(name.size()), type });
    names_.append(name);
}

namespace {

EntryType typeOf(const struct stat& st)
{
    if (S_ISREG(st.st_mode))
        return EntryType::File;
    if (S_ISDIR(st.st_mode))
        return EntryType::Directory;
    return EntryType::Other;
}

class PosixReadStream final : public ReadStream {
public:
    explicit PosixReadStream(Descriptor fd)
        : fd_(std::move(fd))
    {
    }
    std::int64_t size() override
    {
        struct stat st;
        return ::fstat(fd_.get(), &st) == 0 ? static_cast<std::int64_t>(st.st_size) : -1;
    }
    std::int64_t read(char* buffer, std::int64_t count) override
    {
        std::int64_t total = 0;
        while (total < count) {
            const ssize_t got = ::read(fd_.get(), buffer + total, count - total);
            if (got < 0) {
                if (errno == EINTR)
                    continue;
                return -1;
            }
            if (got == 0)
                break;
            total += got;
        }
        return total;
    }

private:
    Descriptor fd_;
};

class PosixFileSystem final : public FileSystem {
public:
    bool readDirectory(const std::string& dir, DirListing& out) override
    {
        out.clear();
        DIR* handle = ::opendir(dir.c_str());
        if (!handle)
            return false;
        const int dirFd = ::dirfd(handle);
        while (const dirent* entry = ::readdir(handle)) {
            EntryType type = EntryType::Other;
            switch (entry->d_type) {
            case DT_REG:
                type = EntryType::File;
                break;
            case DT_DIR:
                type = EntryType::Directory;
                break;
            case DT_UNKNOWN: {
                // Some file systems do not say; ask without following links.
                struct stat st;
                if (::fstatat(dirFd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0)
                    type = typeOf(st);
                break;
            }
            default:
                break;
            }
            out.add(entry->d_name, type);
        }
        ::closedir(handle);
        return true;
    }

    bool fileExists(const std::string& path) override
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
    }

    bool directoryExists(const std::string& path) override
    {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
    }

    std::int64_t measure(const std::string& path) override
    {
        OpenedFile opened = openRegularFile(path);
        if (!opened.fd)
            throw EInOutError(opened.error);
        if (::close(opened.fd.release()) != 0)
            throw EInOutError(errno);
        return opened.status.st_size;
    }

    std::unique_ptr<ReadStream> openRead(const std::string& path) override
    {
        OpenedFile opened = openRegularFile(path);
        if (!opened.fd)
            return nullptr;
        return std::make_unique<PosixReadStream>(std::move(opened.fd));
    }

    bool readAttributes(const std::string& path, std::uint32_t& attributes) override
    {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return false;
        attributes = (st.st_mode & S_IWUSR) ? 0 : kReadOnlyAttribute;
        return true;
    }

    bool writeAttributes(const std::string& path, std::uint32_t attributes) override
    {
        struct stat st;
        if (::stat(path.c_str(), &st) != 0)
            return false;
        mode_t mode = st.st_mode & 07777;
        if (attributes & kReadOnlyAttribute)
            mode &= ~mode_t(S_IWUSR);
        else
            mode |= S_IWUSR;
        return ::chmod(path.c_str(), mode) == 0;
    }

    bool deleteFile(const std::string& path) override { return ::unlink(path.c_str()) == 0; }
};

} // namespace

FileSystem& realFileSystem()
{
    static PosixFileSystem instance;
    return instance;
}

} // namespace qevra::fs
