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
// and, with `unchanged`, its size and modification time.
Seen checkSeen(const Located& at, const FileStamp& seen, bool unchanged, Descriptor& file,
    struct stat& status);

} // namespace qevra::fs
