// The freedesktop trash, worked through directory descriptors: the file is
// reached without following any link, checked to be the file seen, and
// renamed into the trash's files/ folder after its .trashinfo was made there
// with O_EXCL. A file never leaves its file system: where neither the home
// trash nor a trash at the top of its own file system can be used, it stays.
#include "fs/trash.h"

#include "fs/resolve.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>
#include <vector>

namespace qevra::fs {

namespace {

constexpr std::string_view kInfoSuffix = ".trashinfo";

// Which mounted file system a descriptor lies on: its device and, where
// the kernel tells, its mount (two bind mounts of one device differ).
struct Mount {
    std::uint64_t device = 0;
    std::uint64_t id = 0;
    friend bool operator==(const Mount&, const Mount&) = default;
};

std::optional<Mount> mountOf(int fd)
{
    struct statx status { };
    if (::statx(fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_MNT_ID, &status) != 0)
        return std::nullopt;
    Mount mount;
    mount.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    if (status.stx_mask & STATX_MNT_ID)
        mount.id = status.stx_mnt_id;
    return mount;
}

// A trash directory opened for one move.
struct OpenTrash {
    std::string path;
    Descriptor files;
    Descriptor info;
    Mount mount;
};

// Opens the directory `name` in `at` without following a link, making it
// (mode 0700) when it is missing; it must be owned by the user.
Descriptor ownDirectory(int at, const char* name)
{
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Descriptor dir(::openat(at, name, flags));
    if (!dir && errno == ENOENT) {
        if (::mkdirat(at, name, 0700) != 0 && errno != EEXIST)
            return {};
        dir.reset(::openat(at, name, flags));
    }
    struct stat status;
    if (!dir || ::fstat(dir.get(), &status) != 0 || status.st_uid != ::geteuid())
        return {};
    return dir;
}

// The trash `name` in `at` with its files/ and info/, made when missing.
std::optional<OpenTrash> openTrashIn(int at, const char* name, std::string path)
{
    const Descriptor trash = ownDirectory(at, name);
    if (!trash)
        return std::nullopt;
    OpenTrash open;
    open.path = std::move(path);
    open.files = ownDirectory(trash.get(), "files");
    open.info = ownDirectory(trash.get(), "info");
    if (!open.files || !open.info)
        return std::nullopt;
    const auto mount = mountOf(open.files.get());
    if (!mount)
        return std::nullopt;
    open.mount = *mount;
    return open;
}

std::string joined(const std::vector<std::string>& parts, std::size_t count)
{
    std::string path;
    for (std::size_t i = 0; i < count; ++i)
        path += "/" + parts[i];
    return path.empty() ? std::string("/") : path;
}

std::string inside(const std::string& dir, std::string_view name)
{
    return dir + std::string(separatorFor(dir)) + std::string(name);
}

std::optional<std::string> dataHome()
{
    if (const char* xdg = std::getenv("XDG_DATA_HOME"); xdg && xdg[0] == '/')
        return std::string(xdg);
    std::string home;
    if (const char* variable = std::getenv("HOME"); variable && variable[0] == '/') {
        home = variable;
    } else {
        struct passwd entry;
        struct passwd* found = nullptr;
        char buffer[4096];
        if (::getpwuid_r(::getuid(), &entry, buffer, sizeof buffer, &found) != 0 || !found
            || !found->pw_dir || found->pw_dir[0] != '/')
            return std::nullopt;
        home = found->pw_dir;
    }
    return inside(home, ".local/share");
}

// The home trash, with the folders above it made as the data folder's
// rules ask (mode 0700). The data folder is the user's own setting, so a
// link there is followed; the trash and its folders must be real.
std::optional<OpenTrash> openHomeTrash()
{
    const auto home = dataHome();
    if (!home)
        return std::nullopt;
    for (std::size_t slash = home->find('/', 1); slash != std::string::npos;
         slash = home->find('/', slash + 1))
        ::mkdir(home->substr(0, slash).c_str(), 0700);
    ::mkdir(home->c_str(), 0700);
    const Descriptor base(::open(home->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!base)
        return std::nullopt;
    return openTrashIn(base.get(), "Trash", inside(*home, "Trash"));
}

// The trash at the top of the file system that holds the folder `dir`
// (its parts): the highest folder of the path still on `mount`. First
// $top/.Trash/$uid, when $top/.Trash is a real folder with the sticky bit;
// else $top/.Trash-$uid. `top` receives how many parts the top has.
std::optional<OpenTrash> openTopTrash(
    const std::vector<std::string>& dir, const Mount& mount, std::size_t& top)
{
    Descriptor topDir;
    for (std::size_t count = dir.size() + 1; count-- > 0;) {
        Descriptor folder(openWithoutLinks(joined(dir, count), O_PATH | O_DIRECTORY));
        const auto folderMount = folder ? mountOf(folder.get()) : std::nullopt;
        if (!folderMount || !(*folderMount == mount))
            break;
        topDir = std::move(folder);
        top = count;
    }
    if (!topDir)
        return std::nullopt;
    const std::string topPath = joined(dir, top);
    const std::string uid = std::to_string(::getuid());
    const Descriptor shared(
        ::openat(topDir.get(), ".Trash", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat status;
    if (shared && ::fstat(shared.get(), &status) == 0 && (status.st_mode & S_ISVTX)) {
        if (auto trash = openTrashIn(shared.get(), uid.c_str(), inside(topPath, ".Trash/" + uid)))
            return trash;
    }
    const std::string own = ".Trash-" + uid;
    return openTrashIn(topDir.get(), own.c_str(), inside(topPath, own));
}

// Renames without replacing anything at the target: -1 with EEXIST when the
// name is taken. Where the file system lacks the flag, a hard link (which
// never replaces) and an unlink do it, and as a last resort a check for a
// free name before the rename.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to)
{
    if (::renameat2(fromDir, from, toDir, to, RENAME_NOREPLACE) == 0)
        return 0;
    if (errno != EINVAL && errno != ENOSYS)
        return -1;
    if (::linkat(fromDir, from, toDir, to, 0) == 0) {
        ::unlinkat(fromDir, from, 0);
        return 0;
    }
    if (errno == EEXIST)
        return -1;
    struct stat status;
    if (::fstatat(toDir, to, &status, AT_SYMLINK_NOFOLLOW) == 0) {
        errno = EEXIST;
        return -1;
    }
    return errno == ENOENT ? ::renameat(fromDir, from, toDir, to) : -1;
}

bool writeAll(int fd, std::string_view text)
{
    while (!text.empty()) {
        const ssize_t written = ::write(fd, text.data(), text.size());
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        text.remove_prefix(std::size_t(written));
    }
    return true;
}

std::string infoText(std::string_view original)
{
    char date[32] = {};
    const std::time_t now = std::time(nullptr);
    struct tm local { };
    if (::localtime_r(&now, &local))
        std::strftime(date, sizeof date, "%Y-%m-%dT%H:%M:%S", &local);
    return "[Trash Info]\nPath=" + encodeTrashPath(original) + "\nDeletionDate=" + date + "\n";
}

// The name of attempt `attempt` (1, 2, ...) for a file named `name` in the
// trash: the name itself, then a number before its extension. It leaves
// room for ".trashinfo" and the number within a file name's limit.
std::string trashName(std::string_view name, int attempt)
{
    constexpr std::size_t kRoom = NAME_MAX - kInfoSuffix.size() - 12;
    if (name.size() > kRoom) {
        std::size_t cut = kRoom;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80)
            --cut; // not inside a UTF-8 character
        name = name.substr(0, cut);
    }
    if (attempt == 1)
        return std::string(name);
    const std::size_t dot = name.rfind('.');
    std::string number(1, '.');
    number += std::to_string(attempt);
    if (dot == std::string_view::npos || dot == 0)
        return std::string(name) + number;
    return std::string(name.substr(0, dot)) + number + std::string(name.substr(dot));
}

// Moves the located file into `trash`; nothing when the trash lies on
// another file system than the file.
std::optional<TrashMove> moveInto(const OpenTrash& trash, const Located& at, const FileStamp& seen,
    const std::string& original, std::string_view infoPath)
{
    const std::string info = infoText(infoPath);
    TrashMove result;
    for (int attempt = 1; attempt <= 10000; ++attempt) {
        const std::string name = trashName(at.name, attempt);
        const std::string infoName = name + std::string(kInfoSuffix);
        Descriptor out(::openat(trash.info.get(), infoName.c_str(),
            O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (!out) {
            if (errno == EEXIST)
                continue;
            return result;
        }
        if (!writeAll(out.get(), info) || ::close(out.release()) != 0) {
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            return result;
        }
        if (renameNoReplace(at.dir.get(), at.name.c_str(), trash.files.get(), name.c_str()) != 0) {
            const int error = errno;
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            if (error == EEXIST)
                continue;
            if (error == EXDEV)
                return std::nullopt;
            if (error == ENOENT)
                result.outcome = Trashing::Missing;
            return result;
        }
        // What was renamed must be the file checked a moment ago: another
        // file that took its name meanwhile goes back where it was.
        struct stat status;
        if (::fstatat(trash.files.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0
            || !S_ISREG(status.st_mode) || !stampOf(status).sameFile(seen)) {
            if (renameNoReplace(trash.files.get(), name.c_str(), at.dir.get(), at.name.c_str())
                == 0)
                ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            result.outcome = Trashing::NotTheFileSeen;
            return result;
        }
        result.outcome = Trashing::Moved;
        result.file = { original, trash.path, name, stampOf(status) };
        return result;
    }
    return result;
}

// The parts of a path reached without links, with "." and empty parts
// dropped and ".." taking the part before it (which, with no link on the
// way, is what the kernel does too).
std::vector<std::string> partsOf(std::string_view path)
{
    std::vector<std::string> parts;
    while (!path.empty()) {
        const std::size_t slash = path.find('/');
        const std::string_view part = path.substr(0, slash);
        path = slash == std::string_view::npos ? std::string_view() : path.substr(slash + 1);
        if (part.empty() || part == ".")
            continue;
        if (part == "..") {
            if (!parts.empty())
                parts.pop_back();
            continue;
        }
        parts.emplace_back(part);
    }
    return parts;
}

} // namespace

std::optional<std::string> homeTrashPath()
{
    const auto home = dataHome();
    if (!home)
        return std::nullopt;
    return inside(*home, "Trash");
}

std::string encodeTrashPath(std::string_view path)
{
    static const char hex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char ch : path) {
        const auto byte = static_cast<unsigned char>(ch);
        if ((byte >= 'a' && byte <= 'z') || (byte >= 'A' && byte <= 'Z')
            || (byte >= '0' && byte <= '9') || ch == '-' || ch == '_' || ch == '.' || ch == '~'
            || ch == '/') {
            encoded += ch;
        } else {
            encoded += '%';
            encoded += hex[byte >> 4];
            encoded += hex[byte & 15];
        }
    }
    return encoded;
}

TrashMove moveFileToTrash(const std::string& path, const FileStamp& seen, bool unchanged)
{
    TrashMove result;
    const auto located = path.starts_with('/') ? locate(path) : std::nullopt;
    if (!located) {
        result.outcome = Trashing::Missing;
        return result;
    }
    Descriptor file;
    struct stat status;
    switch (checkSeen(*located, seen, unchanged, file, status)) {
    case Seen::Same:
        break;
    case Seen::Missing:
        result.outcome = Trashing::Missing;
        return result;
    case Seen::Other:
        result.outcome = Trashing::NotTheFileSeen;
        return result;
    case Seen::Failed:
        return result;
    }
    const auto mount = mountOf(located->dir.get());
    if (!mount)
        return result;
    std::vector<std::string> dir = partsOf(path);
    dir.pop_back(); // the file's own name
    if (auto home = openHomeTrash(); home && home->mount == *mount) {
        // The home trash names the file by its absolute path.
        const std::string absolute = inside(joined(dir, dir.size()), located->name);
        if (auto moved = moveInto(*home, *located, seen, path, absolute))
            return *moved;
    }
    std::size_t top = 0;
    if (const auto trash = openTopTrash(dir, *mount, top)) {
        // A trash at the top of a file system names the file from there.
        std::string relative;
        for (std::size_t i = top; i < dir.size(); ++i)
            relative += dir[i] + "/";
        relative += located->name;
        if (auto moved = moveInto(*trash, *located, seen, path, relative))
            return *moved;
    }
    result.outcome = Trashing::NoTrash;
    return result;
}

Restoring restoreTrashedFile(const TrashedFile& file)
{
    // The trash may lie behind the user's own links (the data folder); its
    // folders must be real, and the file in it must be the one moved there.
    const Descriptor trash(::open(file.trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!trash)
        return Restoring::Gone;
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    const Descriptor files(::openat(trash.get(), "files", flags));
    const Descriptor info(::openat(trash.get(), "info", flags));
    struct stat status;
    if (!files || ::fstatat(files.get(), file.name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(status.st_mode) || !stampOf(status).sameFile(file.stamp))
        return Restoring::Gone;
    const auto located = locate(file.original);
    if (!located)
        return Restoring::Failed;
    if (renameNoReplace(files.get(), file.name.c_str(), located->dir.get(), located->name.c_str())
        != 0)
        return errno == EEXIST ? Restoring::PathTaken : Restoring::Failed;
    if (info)
        ::unlinkat(info.get(), (file.name + std::string(kInfoSuffix)).c_str(), 0);
    return Restoring::Restored;
}

} // namespace qevra::fs
