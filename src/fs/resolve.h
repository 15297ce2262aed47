#pragma once

#include "fs/descriptor.h"
#include "fs/file_system.h"

#include <optional>
#include <string>

namespace qevra::fs {

// Opens `path` with `flags` (O_CLOEXEC added) when no symbolic link lies
// anywhere on it: in one step where the kernel resolves without links
// (openat2), else component by component, each opened without following.
// -1 with errno set otherwise (ELOOP or ENOTDIR for a link on the way).
int openWithoutLinks(const std::string& path, int flags);

// The directory that holds a path's last component, reached without
// following any link (an O_PATH descriptor), and that component.
struct Located {
    Descriptor dir;
    std::string name;
};
std::optional<Located> locate(const std::string& path);

// Whether the entry a located name holds is the regular file `seen` names.
enum class Seen : std::uint8_t {
    Same,
    Missing, // nothing there
    Other, // another file, a link, or the file changed since it was seen
    Failed, // it could not be examined
};

// Opens the located entry without following a link (O_PATH) into `file`,
// takes its status into `status`, and compares it with `seen`: its identity
// and, with `unchanged`, its size, modification time and change time.
Seen checkSeen(const Located& at, const FileStamp& seen, bool unchanged, Descriptor& file,
    struct stat& status);

// Renames without replacing anything at the target: -1 with EEXIST when the
// name is taken. Where the file system lacks RENAME_NOREPLACE (network
// shares), the target is checked to be free just before a plain rename.
int renameNoReplace(int fromDir, const char* from, int toDir, const char* to);

// What a checked move did.
enum class Moved : std::uint8_t {
    Done, // the checked file has the new name
    Taken, // the new name was taken; nothing moved
    NotTheFile, // another file had taken the old name: it was put back (or, when
                // that name was taken once more meanwhile, it keeps the new one)
    Failed, // the system refused (errno tells why); nothing moved
};

// Moves the located entry to `toName` in `toDir`, without replacing
// anything there, and then checks that what arrived is the file checked a
// moment before: `checked` is its status, taken through `file`, an O_PATH
// descriptor of it that keeps its inode number from being reused. With
// `unchanged`, its size and modification time must also be those checked.
// So a file swapped in under the old name between the check and the move
// is never the one acted on.
Moved moveChecked(const Located& from, int toDir, const std::string& toName, const Descriptor& file,
    const struct stat& checked, bool unchanged);

// A name for a file on its way out of its folder that no other program
// uses: a hidden name, unique to this process and call.
std::string privateName();

} // namespace qevra::fs
