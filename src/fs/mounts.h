#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qevra::fs {

// Whether a file system, by its statfs type, may show a file of another
// mount under a device number of its own, so that its device and inode
// numbers do not tell that file from the original: the stacked file systems
// (overlay, FUSE and so everything built on it, eCryptfs) and the network
// ones (NFS, SMB, 9p, Ceph, ...), which can re-export a folder of this very
// machine. The one list of them.
bool aliasingFileSystem(long type);

// Whether the entry `name` in `dirFd` (not followed when it is a link) lies
// on such a file system; true when that cannot be told, which only makes a
// file more careful about its namesakes.
bool aliasedAt(int dirFd, const char* name);

// aliasedAt() for many files, asking once per device: device numbers are
// only reused once a file system is unmounted, so a cache lives for one
// batch of files only.
class AliasedDevices {
public:
    bool at(int dirFd, const char* name, std::uint64_t device);

private:
    std::vector<std::pair<std::uint64_t, bool>> known_;
};

// One mount as the process's mount table tells it.
struct MountEntry {
    std::string point; // where it is mounted
    std::string root; // the folder of its file system it shows ("/" for all of it)
    std::string type; // "ext4", "tmpfs", "fuse.sshfs", ...
    std::string source; // "/dev/sda1", "tmpfs", "none", ...
};

// The line of a /proc/self/mountinfo text for a mount id; nothing when
// there is none. Escaped characters (\040 for a blank) are decoded.
std::optional<MountEntry> parseMountInfo(std::string_view text, std::uint64_t mountId);
// The entry of a mount of this process, from /proc/self/mountinfo.
std::optional<MountEntry> mountEntry(std::uint64_t mountId);

// Whether the desktop counts a mount as part of the system rather than a
// drive of the user's, and so keeps no trash on it (its file managers
// neither list nor make one there): pseudo and memory file systems such as
// tmpfs, overlay and proc, the system's own mount points ("/", "/tmp",
// "/run", "/var", ...) and what lies under /dev, /proc and /sys, and bind
// mounts of a folder inside a file system.
bool systemInternalMount(const MountEntry& mount);

} // namespace qevra::fs
