#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

struct stat;

namespace qevra::fs {

// Paths are the file system's bytes; "/" separates, "/" alone is the root.

enum class EntryType : std::uint8_t {
    File, // a regular file (never a symbolic link)
    Directory, // a real directory (never a symbolic link)
    Other, // links, devices, sockets, pipes, vanished entries
};

// One read of a directory: every entry's bare name ("." and ".." included)
// and type, in the order the file system returned them. The names share one
// buffer so that a large directory costs few allocations.
class DirListing {
public:
    struct Entry {
        std::uint32_t offset;
        std::uint32_t length;
        EntryType type;
    };

    void clear()
    {
        names_.clear();
        entries_.clear();
    }
    void add(std::string_view name, EntryType type);
    std::size_t size() const { return entries_.size(); }
    std::string_view name(std::size_t i) const
    {
        return std::string_view(names_).substr(entries_[i].offset, entries_[i].length);
    }
    EntryType type(std::size_t i) const { return entries_[i].type; }

private:
    std::string names_;
    std::vector<Entry> entries_;
};

// What the search saw of a file: its identity (device and inode) and, as
// measured, its size, modification time and status change time. Two paths
// name one file when their identities are equal (spellings, links, bind
// mounts, hard links). The change time cannot be set back by any program,
// so a file rewritten and given its old modification time again still
// shows as changed.
struct FileStamp {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::int64_t size = 0;
    std::int64_t modified = 0; // nanoseconds since the epoch
    std::int64_t changed = 0; // the status change time, nanoseconds since the epoch
    // The file lies on a file system whose device and inode numbers do not
    // tell it from a file of another mount (stacked and network file
    // systems): there one file can show under two device numbers.
    bool aliased = false;

    // False for a stamp that was never taken.
    bool known() const { return device != 0 || inode != 0; }
    bool sameFile(const FileStamp& other) const
    {
        return known() && device == other.device && inode == other.inode;
    }
    // Whether the two may be one file: one identity or, where either lies on
    // a file system that can show a file of another mount under a device
    // number of its own, the same inode number, size and modification time.
    bool possiblySame(const FileStamp& other) const
    {
        if (!known() || !other.known())
            return false;
        if (device == other.device && inode == other.inode)
            return true;
        return (aliased || other.aliased) && inode == other.inode && size == other.size
            && modified == other.modified;
    }
    // One file, unchanged: identity, size and both times. Where the file
    // lies is no part of its state.
    friend bool operator==(const FileStamp& a, const FileStamp& b)
    {
        return a.device == b.device && a.inode == b.inode && a.size == b.size
            && a.modified == b.modified && a.changed == b.changed;
    }
};

// How a path is resolved when a file is examined.
enum class Resolve : std::uint8_t {
    NoLinks, // no symbolic link anywhere on the path
    NoFinalLink, // links above the last component are followed
    FollowLinks, // every link is followed
};

// What a verified removal did.
enum class Removal : std::uint8_t {
    Removed,
    Missing, // nothing there, or the path runs through a link
    NotTheFileSeen, // another file, or the file changed since it was seen
    Failed, // the system refused; the file is as it was
};

// Which folder a file came from: a folder of that path made later, by
// anyone, is another one.
struct FolderIdentity {
    std::uint64_t device = 0;
    std::uint64_t inode = 0;
    std::uint32_t owner = 0;
    std::int64_t born = 0; // its birth time in nanoseconds; 0 where not told
    friend bool operator==(const FolderIdentity&, const FolderIdentity&) = default;
};

// A file moved to a trash, as the move left it: enough to put it back.
struct TrashedFile {
    std::string original; // the path it had
    std::string trash; // the trash directory, which holds files/ and info/
    std::string name; // its name in files/; info/ holds name + ".trashinfo"
    FileStamp stamp; // as it lies in the trash: its identity, which the move keeps
    FolderIdentity folder; // the folder it came from
};

// What a move to the trash did.
enum class Trashing : std::uint8_t {
    Moved,
    Missing, // nothing there, or the path runs through a link
    NotTheFileSeen, // another file, or the file changed since it was seen
    NoTrash, // no trash on the file's own file system could be used
    Failed, // the system refused; the file is as it was
};

struct TrashMove {
    Trashing outcome = Trashing::Failed;
    TrashedFile file; // where it went, when moved
};

// What putting a file back from the trash did.
enum class Restoring : std::uint8_t {
    Restored,
    PathTaken, // something stands at its path: the file stays in the trash
    FolderReplaced, // the folder at its path is not the one it came from: it stays
    Gone, // the trash no longer holds the file as it was left there
    Failed, // its folder is gone or reached through a link, or the system refused
};

// An open regular file for reading; closed by the destructor.
class ReadStream {
public:
    virtual ~ReadStream() = default;
    // The open file's stamp, taken on its descriptor when it was opened;
    // nothing on failure.
    virtual std::optional<FileStamp> stamp() = 0;
    // Reads up to `count` bytes at the current position; -1 on failure.
    virtual std::int64_t read(char* buffer, std::int64_t count) = 0;
};

// The file-system services the search and the copies editor use. The real
// implementation is POSIX; tests put a double in front of it to fail or
// observe chosen calls. The content stage calls openRead from several
// worker threads at once (each stream is used by one thread at a time), so
// implementations must allow that. Files are opened without blocking and
// without following a link in the last component, and only regular files
// open at all.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Reads the whole directory into `out`; false when it cannot be opened
    // or its path runs through a symbolic link.
    virtual bool readDirectory(const std::string& dir, DirListing& out) = 0;
    // True only for an existing regular file (a link to one counts).
    virtual bool fileExists(const std::string& path) = 0;
    // True only for an existing directory.
    virtual bool directoryExists(const std::string& path) = 0;
    // The stamp of the file, failing as a non-blocking open of it for
    // reading would, though nothing is opened: throws EInOutError(errno);
    // anything but a regular file fails too (ELOOP for a link, EISDIR for
    // a directory, ENXIO for pipes, devices and sockets).
    virtual FileStamp measure(const std::string& path) = 0;
    // Measures each of `paths` as measure() does, into `stamps` (the stamp)
    // and `errors` (0, or the error measure() would throw), which hold one
    // place per path. Paths of one directory are best given side by side:
    // the real file system then finds that directory once for all of them.
    // By default, measure() each.
    virtual void measureEach(std::span<const std::string_view> paths, std::span<FileStamp> stamps,
        std::span<int> errors);
    // Opens for reading; nullptr when that fails.
    virtual std::unique_ptr<ReadStream> openRead(const std::string& path) = 0;
    // The stamp of the regular file at `path`, resolved as asked; nothing
    // when there is none.
    virtual std::optional<FileStamp> examine(const std::string& path, Resolve resolve) = 0;
    // Examines each of `paths` as examine() does, into `stamps` (one place
    // per path; an unknown stamp where there is none). As for measureEach,
    // paths of one directory are best given side by side. By default,
    // examine() each.
    virtual void examineEach(
        std::span<const std::string_view> paths, Resolve resolve, std::span<FileStamp> stamps);
    // Removes the file permanently, acting only if it is still the regular
    // file `seen` names (its identity; with `unchanged`, also its size,
    // modification time and change time), reached without following any
    // link. The file is first renamed to a private name in its folder and
    // checked there, so that a file swapped in under its name meanwhile is
    // never the one removed; no file's mode is changed.
    virtual Removal removeFile(const std::string& path, const FileStamp& seen, bool unchanged) = 0;
    // Moves the file into the user's trash (the freedesktop trash), under
    // the same conditions as removeFile, and never by copying: into the home
    // trash when that lies on the file's own file system, else into the trash
    // at the top of the file's file system, which is made when missing. The
    // file is renamed, by descriptors reached without links, after its
    // .trashinfo is written; nothing changes when that fails.
    virtual TrashMove moveToTrash(const std::string& path, const FileStamp& seen, bool unchanged)
        = 0;
    // Puts a trashed file back at its original path, only while that path is
    // free and its folder, reached without links, is the very folder it came
    // from, and only if the trash still holds that very file; removes its
    // .trashinfo. `restored`, unless null, receives the file's stamp in its
    // place once it is back, when the trash held it exactly as the move
    // left it (unknown otherwise).
    virtual Restoring restoreFromTrash(const TrashedFile& file, FileStamp* restored) = 0;
    // Whether the file at `path` lies inside a trash, where it is no copy
    // that makes deleting another one safe: in the home trash's files/
    // folder, in the files/ folder of a trash at the top of its file system
    // ($top/.Trash/$uid, $top/.Trash-$uid, for any user), or in a home
    // trash of the default name (.local/share/Trash/files) of any user.
    virtual bool inTrash(const std::string& path);
};

// The stamp of a file's status.
FileStamp stampOf(const struct stat& status);

// The process-wide real file system.
FileSystem& realFileSystem();

// The separator to put between a directory path and a name: none when the
// path already ends in "/".
inline std::string_view separatorFor(std::string_view dir)
{
    return !dir.empty() && dir.back() == '/' ? std::string_view() : std::string_view("/");
}

// The bare name: the part after the last "/".
inline std::string_view bareName(std::string_view path)
{
    const auto slash = path.rfind('/');
    return slash == std::string_view::npos ? path : path.substr(slash + 1);
}

} // namespace qevra::fs
