// The freedesktop trash, worked through directory descriptors: the file is
// reached without following any link, checked to be the file seen, and
// renamed into the trash's files/ folder after its .trashinfo was made there
// with O_EXCL. A file never leaves its file system: where neither the home
// trash nor a trash at the top of its own file system can be used, it stays.
#include "fs/trash.h"

#include "fs/mounts.h"
#include "fs/resolve.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/statfs.h>
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

FolderIdentity folderIdentity(int fd)
{
    struct statx status { };
    FolderIdentity identity;
    if (::statx(
            fd, "", AT_EMPTY_PATH | AT_SYMLINK_NOFOLLOW, STATX_BASIC_STATS | STATX_BTIME, &status)
        != 0)
        return identity;
    identity.device = makedev(status.stx_dev_major, status.stx_dev_minor);
    identity.inode = status.stx_ino;
    identity.owner = status.stx_uid;
    if (status.stx_mask & STATX_BTIME)
        identity.born = static_cast<std::int64_t>(status.stx_btime.tv_sec) * 1000000000
            + status.stx_btime.tv_nsec;
    return identity;
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

// The data folder that holds the home trash, with the folders above it
// made as its rules ask (mode 0700). It is the user's own setting, so a
// link there is followed; the trash in it and its folders must be real.
struct DataFolder {
    std::string path;
    Descriptor fd;
};
std::optional<DataFolder> openDataFolder()
{
    const auto home = dataHome();
    if (!home)
        return std::nullopt;
    for (std::size_t slash = home->find('/', 1); slash != std::string::npos;
         slash = home->find('/', slash + 1))
        ::mkdir(home->substr(0, slash).c_str(), 0700);
    ::mkdir(home->c_str(), 0700);
    Descriptor fd(::open(home->c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!fd)
        return std::nullopt;
    return DataFolder { *home, std::move(fd) };
}

// The mount a trash at its top would serve, as the mount table tells it;
// where the table cannot say, what the folder itself tells.
MountEntry describeMount(int topDir, const Mount& mount, const std::string& topPath)
{
    if (mount.id != 0) {
        if (auto entry = mountEntry(mount.id))
            return *entry;
    }
    MountEntry entry { topPath, "/", {}, {} };
    struct statfs status;
    if (::fstatfs(topDir, &status) == 0) {
        switch (static_cast<unsigned long>(status.f_type)) {
        case 0x01021994:
            entry.type = "tmpfs";
            break;
        case 0x794c7630:
            entry.type = "overlay";
            break;
        case 0x9fa0:
            entry.type = "proc";
            break;
        case 0x62656572:
            entry.type = "sysfs";
            break;
        default:
            break;
        }
    }
    return entry;
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
    // The desktop keeps no trash on the system's own mounts (tmpfs, /tmp,
    // /run, ...): one made there would be listed by no file manager.
    if (systemInternalMount(describeMount(topDir.get(), mount, topPath)))
        return std::nullopt;
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
// room for ".trashinfo" and the number within a file name's limit: a longer
// name loses the end of its stem, keeping a short extension, and is cut
// between two UTF-8 characters where its bytes are UTF-8 (any bytes can
// make a name, so the cut never waits for a character boundary that may
// never come).
std::string trashName(std::string_view name, int attempt)
{
    constexpr std::size_t kRoom = NAME_MAX - kInfoSuffix.size() - 12;
    std::string_view stem = name;
    std::string_view extension;
    if (const std::size_t dot = name.rfind('.');
        dot != std::string_view::npos && dot > 0 && name.size() - dot <= 16) {
        stem = name.substr(0, dot);
        extension = name.substr(dot);
    }
    if (stem.size() + extension.size() > kRoom) {
        std::size_t cut = kRoom - extension.size();
        // At most three continuation bytes end a UTF-8 character early.
        for (int back = 0;
             back < 3 && cut > 1 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80; ++back)
            --cut;
        if ((static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80)
            cut = kRoom - extension.size();
        stem = stem.substr(0, cut);
    }
    if (attempt == 1)
        return std::string(stem) + std::string(extension);
    std::string number(1, '.'); // not "." + ...: GCC 12 warns falsely of an overlap there
    number += std::to_string(attempt);
    if (extension.empty()) {
        // A number before the extension of a name kept whole, else at its end.
        const std::size_t dot = stem.rfind('.');
        if (dot != std::string_view::npos && dot > 0)
            return std::string(stem.substr(0, dot)) + number + std::string(stem.substr(dot));
        return std::string(stem) + number;
    }
    return std::string(stem) + number + std::string(extension);
}

// Moves the located file into `trash`; nothing when the trash lies on
// another file system than the file.
std::optional<TrashMove> moveInto(const OpenTrash& trash, const Located& at, const Descriptor& file,
    const struct stat& checked, bool unchanged, const std::string& original,
    std::string_view infoPath)
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
        // What arrives must be the file checked a moment ago: another file
        // that took its name meanwhile goes back where it was.
        switch (moveChecked(at, trash.files.get(), name, file, checked, unchanged)) {
        case Moved::Done:
            break;
        case Moved::Taken:
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            continue;
        case Moved::NotTheFile: {
            // Its .trashinfo stays only with a file that could not go back.
            struct stat stuck;
            if (::fstatat(trash.files.get(), name.c_str(), &stuck, AT_SYMLINK_NOFOLLOW) != 0)
                ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            result.outcome = Trashing::NotTheFileSeen;
            return result;
        }
        case Moved::Failed: {
            const int error = errno;
            ::unlinkat(trash.info.get(), infoName.c_str(), 0);
            if (error == EXDEV)
                return std::nullopt;
            if (error == ENOENT)
                result.outcome = Trashing::Missing;
            return result;
        }
        }
        struct stat status;
        if (::fstatat(trash.files.get(), name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0)
            return result;
        result.outcome = Trashing::Moved;
        result.file = { original, trash.path, name, stampOf(status), folderIdentity(at.dir.get()) };
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
    // A file of the home trash's file system goes there or nowhere: a trash
    // made at the top of that file system would be one the desktop never
    // shows.
    if (const auto data = openDataFolder()) {
        struct stat dataStatus;
        if (::fstat(data->fd.get(), &dataStatus) == 0 && dataStatus.st_dev == status.st_dev) {
            if (const auto home
                = openTrashIn(data->fd.get(), "Trash", inside(data->path, "Trash"))) {
                // The home trash names the file by its absolute path.
                const std::string absolute = inside(joined(dir, dir.size()), located->name);
                if (auto moved = moveInto(*home, *located, file, status, unchanged, path, absolute))
                    return *moved;
            }
            result.outcome = Trashing::NoTrash;
            return result;
        }
    }
    std::size_t top = 0;
    if (const auto trash = openTopTrash(dir, *mount, top)) {
        // A trash at the top of a file system names the file from there.
        std::string relative;
        for (std::size_t i = top; i < dir.size(); ++i)
            relative += dir[i] + "/";
        relative += located->name;
        if (auto moved = moveInto(*trash, *located, file, status, unchanged, path, relative))
            return *moved;
    }
    result.outcome = Trashing::NoTrash;
    return result;
}

namespace {

// Whether the very file stands at its original path already, unchanged, in
// the folder it came from: put back by another program (the desktop's own
// trash).
bool alreadyBack(const TrashedFile& file)
{
    const auto located = locate(file.original);
    if (!located)
        return false;
    if ((file.folder.device != 0 || file.folder.inode != 0)
        && !(folderIdentity(located->dir.get()) == file.folder))
        return false;
    struct stat status;
    if (::fstatat(located->dir.get(), located->name.c_str(), &status, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISREG(status.st_mode))
        return false;
    // Its inode number may have gone to a new file since: the size and the
    // modification time, which a rename keeps, tell them apart.
    const FileStamp now = stampOf(status);
    return now.sameFile(file.stamp) && now.size == file.stamp.size
        && now.modified == file.stamp.modified;
}

Restoring putBack(const TrashedFile& file, FileStamp* restored);

} // namespace

Restoring restoreTrashedFile(const TrashedFile& file, FileStamp* restored)
{
    if (restored)
        *restored = FileStamp();
    // Back already, it counts as put back; what it holds now is not known,
    // so it gets no stamp.
    const Restoring outcome = putBack(file, restored);
    return outcome == Restoring::Gone && alreadyBack(file) ? Restoring::Restored : outcome;
}

namespace {

Restoring putBack(const TrashedFile& file, FileStamp* restored)
{
    // The trash may lie behind the user's own links (the data folder); its
    // folders must be real, and the file in it must be the one moved there.
    const Descriptor trash(::open(file.trash.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (!trash)
        return Restoring::Gone;
    const int flags = O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC;
    Located inTrash { Descriptor(::openat(trash.get(), "files", flags)), file.name };
    const Descriptor info(::openat(trash.get(), "info", flags));
    Descriptor held;
    struct stat status;
    if (!inTrash.dir)
        return Restoring::Gone;
    held.reset(::openat(inTrash.dir.get(), file.name.c_str(), O_PATH | O_NOFOLLOW | O_CLOEXEC));
    if (!held || ::fstat(held.get(), &status) != 0 || !S_ISREG(status.st_mode)
        || !stampOf(status).sameFile(file.stamp))
        return Restoring::Gone;
    const bool asLeft = stampOf(status) == file.stamp;
    const auto located = locate(file.original);
    if (!located)
        return Restoring::Failed;
    // Only into the folder it came from: one made at that path since, by
    // anyone, is another folder.
    if (file.folder.device != 0 || file.folder.inode != 0) {
        if (!(folderIdentity(located->dir.get()) == file.folder))
            return Restoring::FolderReplaced;
    }
    switch (moveChecked(inTrash, located->dir.get(), located->name, held, status, false)) {
    case Moved::Done:
        break;
    case Moved::Taken:
        return Restoring::PathTaken;
    case Moved::NotTheFile:
        return Restoring::Gone;
    case Moved::Failed:
        return errno == EEXIST ? Restoring::PathTaken : Restoring::Failed;
    }
    if (info)
        ::unlinkat(info.get(), (file.name + std::string(kInfoSuffix)).c_str(), 0);
    struct stat back;
    if (restored && asLeft
        && ::fstatat(located->dir.get(), located->name.c_str(), &back, AT_SYMLINK_NOFOLLOW) == 0
        && back.st_dev == status.st_dev && back.st_ino == status.st_ino) {
        *restored = stampOf(back);
        restored->aliased = aliasedAt(located->dir.get(), located->name.c_str());
    }
    return Restoring::Restored;
}

bool allDigits(std::string_view text)
{
    return !text.empty()
        && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// Whether the folder of the first `count` parts is the top of its file
// system: "/" or a folder on another mount than the folder above it.
bool isMountTop(const std::vector<std::string>& parts, std::size_t count)
{
    if (count == 0)
        return true;
    const Descriptor folder(openWithoutLinks(joined(parts, count), O_PATH | O_DIRECTORY));
    const Descriptor above(openWithoutLinks(joined(parts, count - 1), O_PATH | O_DIRECTORY));
    const auto folderMount = folder ? mountOf(folder.get()) : std::nullopt;
    const auto aboveMount = above ? mountOf(above.get()) : std::nullopt;
    return folderMount && aboveMount && !(*folderMount == *aboveMount);
}

// Whether the folder of the first `count` parts is, by its names, the
// files/ folder of a trash: at the top of its file system
// ($top/.Trash-$uid/files, $top/.Trash/$uid/files) or a home trash of the
// default name (.local/share/Trash/files).
bool namedTrashFiles(const std::vector<std::string>& parts, std::size_t count)
{
    if (count < 2 || parts[count - 1] != "files")
        return false;
    const std::string_view trash = parts[count - 2];
    if (trash.starts_with(".Trash-") && allDigits(trash.substr(7)))
        return isMountTop(parts, count - 2);
    if (count >= 3 && allDigits(trash) && parts[count - 3] == ".Trash")
        return isMountTop(parts, count - 3);
    return count >= 4 && trash == "Trash" && parts[count - 3] == "share"
        && parts[count - 4] == ".local";
}

} // namespace

bool liesInTrash(const std::string& path)
{
    std::vector<std::string> parts = partsOf(path);
    if (parts.empty())
        return false;
    parts.pop_back(); // the file's own name
    // The home trash's files/ folder under any spelling of it: by identity,
    // among the folders on the file's way that lie on its device.
    struct stat homeFiles { };
    bool haveHome = false;
    if (const auto home = homeTrashPath())
        haveHome
            = ::stat(inside(*home, "files").c_str(), &homeFiles) == 0 && S_ISDIR(homeFiles.st_mode);
    struct stat file;
    if (haveHome && (::lstat(path.c_str(), &file) != 0 || file.st_dev != homeFiles.st_dev))
        haveHome = false;
    for (std::size_t count = parts.size(); count > 0; --count) {
        if (namedTrashFiles(parts, count))
            return true;
        struct stat folder;
        if (haveHome && ::lstat(joined(parts, count).c_str(), &folder) == 0
            && folder.st_dev == homeFiles.st_dev && folder.st_ino == homeFiles.st_ino)
            return true;
    }
    return false;
}

} // namespace qevra::fs
