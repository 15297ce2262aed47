#include "fs/file_system.h"

#include "fs/descriptor.h"
#include "fs/mounts.h"
#include "fs/resolve.h"
#include "fs/trash.h"

#include "base/exceptions.h"

#include <cerrno>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>

namespace qevra::fs {

void DirListing::add(std::string_view name, EntryType type)
{
    entries_.push_back({ static_cast<std::uint32_t>(names_.size()),
        static_cast<std::uint32_t>(name.size()), type });
    names_.append(name);
}

void FileSystem::measureEach(
    std::span<const std::string_view> paths, std::span<FileStamp> stamps, std::span<int> errors)
{
    for (std::size_t i = 0; i < paths.size(); ++i) {
        errors[i] = 0;
        try {
            stamps[i] = measure(std::string(paths[i]));
        } catch (const EInOutError& error) {
            errors[i] = error.code() != 0 ? error.code() : EIO;
        } catch (const std::exception&) {
            errors[i] = EIO;
        }
    }
}

bool FileSystem::inTrash(const std::string& path)
{
    return liesInTrash(path);
}

void FileSystem::examineEach(
    std::span<const std::string_view> paths, Resolve resolve, std::span<FileStamp> stamps)
{
    for (std::size_t i = 0; i < paths.size(); ++i)
        stamps[i] = examine(std::string(paths[i]), resolve).value_or(FileStamp());
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
    explicit PosixReadStream(OpenedFile opened)
        : fd_(std::move(opened.fd))
        , stamp_(stampOf(opened.status))
    {
    }
    std::optional<FileStamp> stamp() override { return stamp_; }
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
    FileStamp stamp_; // taken on the descriptor as it was opened
};

// Takes the stamp of the file `name` names in `dirFd`, without opening it:
// nothing can block, no device hears of it, and nothing is read. The
// answers are those of a non-blocking open of the file for reading that
// follows no link in its last component, then a look at what was opened:
// the error of the lookup or of the permission check (for the effective
// user, as an open checks), ELOOP for a link, EISDIR for a directory, ENXIO
// for anything else that is not a regular file. Returns 0, or the error.
int measureAt(int dirFd, const char* name, FileStamp& stamp, AliasedDevices& devices)
{
    struct stat st;
    if (::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (S_ISLNK(st.st_mode))
        return ELOOP;
    if (::faccessat(dirFd, name, R_OK, AT_EACCESS | AT_SYMLINK_NOFOLLOW) != 0)
        return errno;
    if (S_ISDIR(st.st_mode))
        return EISDIR;
    if (!S_ISREG(st.st_mode))
        return ENXIO;
    stamp = stampOf(st);
    stamp.aliased = devices.at(dirFd, name, stamp.device);
    return 0;
}

// Runs `act(i, dirFd, name)` for each of `paths`, where `name` in `dirFd`
// reaches what the path reaches when its last component is not followed:
// each directory is found once for a run of its files, as the whole path
// would reach it (links above the file are followed, as they are by a
// lookup of the path), so only the kernel's walk of the path is saved. Where
// the directory cannot be opened, or the path has no directory part, the
// path is given whole (with AT_FDCWD), so that any error is its own.
template <typename Act> void forEachInItsDirectory(std::span<const std::string_view> paths, Act act)
{
    Descriptor dir;
    std::string_view dirPath;
    bool tried = false;
    std::string name;
    for (std::size_t i = 0; i < paths.size(); ++i) {
        const std::string_view path = paths[i];
        const std::size_t slash = path.rfind('/');
        if (slash != std::string_view::npos && slash + 1 < path.size()) {
            const std::string_view parent = path.substr(0, slash);
            if (!tried || parent != dirPath) {
                dirPath = parent;
                tried = true;
                dir.reset(::open(parent.empty() ? "/" : std::string(parent).c_str(),
                    O_PATH | O_DIRECTORY | O_CLOEXEC));
            }
            if (dir) {
                name.assign(path.substr(slash + 1));
                act(i, dir.get(), name.c_str());
                continue;
            }
        }
        name.assign(path);
        act(i, AT_FDCWD, name.c_str());
    }
}

class PosixFileSystem final : public FileSystem {
public:
    bool readDirectory(const std::string& dir, DirListing& out) override
    {
        out.clear();
        Descriptor fd(openWithoutLinks(dir, O_RDONLY | O_DIRECTORY));
        if (!fd)
            return false;
        DIR* handle = ::fdopendir(fd.get());
        if (!handle)
            return false;
        fd.release();
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

    void examineEach(std::span<const std::string_view> paths, Resolve resolve,
        std::span<FileStamp> stamps) override
    {
        if (resolve != Resolve::NoFinalLink) {
            FileSystem::examineEach(paths, resolve, stamps);
            return;
        }
        AliasedDevices devices;
        forEachInItsDirectory(paths, [&](std::size_t i, int dirFd, const char* name) {
            struct stat st;
            const bool regular
                = ::fstatat(dirFd, name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISREG(st.st_mode);
            stamps[i] = regular ? stampOf(st) : FileStamp();
            if (regular)
                stamps[i].aliased = devices.at(dirFd, name, stamps[i].device);
        });
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

    FileStamp measure(const std::string& path) override
    {
        FileStamp stamp;
        AliasedDevices devices;
        if (const int error = measureAt(AT_FDCWD, path.c_str(), stamp, devices); error != 0)
            throw EInOutError(error);
        return stamp;
    }

    void measureEach(std::span<const std::string_view> paths, std::span<FileStamp> stamps,
        std::span<int> errors) override
    {
        AliasedDevices devices;
        forEachInItsDirectory(paths, [&](std::size_t i, int dirFd, const char* name) {
            errors[i] = measureAt(dirFd, name, stamps[i], devices);
        });
    }

    std::unique_ptr<ReadStream> openRead(const std::string& path) override
    {
        OpenedFile opened = openRegularFile(path);
        if (!opened.fd)
            return nullptr;
        return std::make_unique<PosixReadStream>(std::move(opened));
    }

    std::optional<FileStamp> examine(const std::string& path, Resolve resolve) override
    {
        struct stat st;
        FileStamp stamp;
        switch (resolve) {
        case Resolve::NoLinks: {
            const auto located = locate(path);
            if (!located
                || ::fstatat(located->dir.get(), located->name.c_str(), &st, AT_SYMLINK_NOFOLLOW)
                    != 0
                || !S_ISREG(st.st_mode))
                return std::nullopt;
            stamp = stampOf(st);
            stamp.aliased = aliasedAt(located->dir.get(), located->name.c_str());
            return stamp;
        }
        case Resolve::NoFinalLink:
            if (::fstatat(AT_FDCWD, path.c_str(), &st, AT_SYMLINK_NOFOLLOW) != 0
                || !S_ISREG(st.st_mode))
                return std::nullopt;
            stamp = stampOf(st);
            stamp.aliased = aliasedAt(AT_FDCWD, path.c_str());
            return stamp;
        case Resolve::FollowLinks: {
            if (::fstatat(AT_FDCWD, path.c_str(), &st, 0) != 0 || !S_ISREG(st.st_mode))
                return std::nullopt;
            // Where the links lead: the file itself is asked, through a
            // descriptor that opens nothing.
            stamp = stampOf(st);
            const Descriptor file(::open(path.c_str(), O_PATH | O_CLOEXEC));
            struct statfs where;
            stamp.aliased
                = !file || ::fstatfs(file.get(), &where) != 0 || aliasingFileSystem(where.f_type);
            return stamp;
        }
        }
        return std::nullopt;
    }

    Removal removeFile(const std::string& path, const FileStamp& seen, bool unchanged) override
    {
        const auto located = locate(path);
        if (!located)
            return Removal::Missing;
        Descriptor file;
        struct stat st;
        switch (checkSeen(*located, seen, unchanged, file, st)) {
        case Seen::Same:
            break;
        case Seen::Missing:
            return Removal::Missing;
        case Seen::Other:
            return Removal::NotTheFileSeen;
        case Seen::Failed:
            return Removal::Failed;
        }
        // The name is taken from the file before it goes: unlinking the name
        // at once would remove whatever had it by then. No mode changes:
        // unlinking needs no write permission on the file, and another name
        // of it may live on.
        for (int attempt = 0; attempt < 16; ++attempt) {
            const std::string hidden = privateName();
            switch (moveChecked(*located, located->dir.get(), hidden, file, st, unchanged)) {
            case Moved::Done:
                if (::unlinkat(located->dir.get(), hidden.c_str(), 0) == 0)
                    return Removal::Removed;
                renameNoReplace(
                    located->dir.get(), hidden.c_str(), located->dir.get(), located->name.c_str());
                return Removal::Failed;
            case Moved::Taken:
                continue;
            case Moved::NotTheFile:
                return Removal::NotTheFileSeen;
            case Moved::Failed:
                return errno == ENOENT ? Removal::Missing : Removal::Failed;
            }
        }
        return Removal::Failed;
    }

    TrashMove moveToTrash(const std::string& path, const FileStamp& seen, bool unchanged) override
    {
        return moveFileToTrash(path, seen, unchanged);
    }

    Restoring restoreFromTrash(const TrashedFile& file, FileStamp* restored) override
    {
        return restoreTrashedFile(file, restored);
    }
};

} // namespace

FileStamp stampOf(const struct stat& st)
{
    FileStamp stamp;
    stamp.device = static_cast<std::uint64_t>(st.st_dev);
    stamp.inode = static_cast<std::uint64_t>(st.st_ino);
    stamp.size = static_cast<std::int64_t>(st.st_size);
    stamp.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    stamp.changed = static_cast<std::int64_t>(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec;
    return stamp;
}

FileSystem& realFileSystem()
{
    static PosixFileSystem instance;
    return instance;
}

} // namespace qevra::fs
