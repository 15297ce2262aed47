#include "fs/mounts.h"

#include "fs/descriptor.h"

#include <algorithm>
#include <array>
#include <charconv>
#include <fcntl.h>
#include <fstream>
#include <iterator>
#include <sys/statfs.h>
#include <unistd.h>

namespace qevra::fs {

bool aliasingFileSystem(long type)
{
    // statfs magic numbers (linux/magic.h and the file systems' own headers).
    static constexpr std::array<unsigned long, 19> kAliasing = {
        0x794c7630, // overlay
        0x61756673, // aufs
        0x65735546, // FUSE: sshfs, bindfs, mergerfs, virtiofs, ntfs-3g, ...
        0x0000f15f, // eCryptfs
        0x6a656a62, // shiftfs
        0x00006969, // NFS 2, 3 and 4
        0x0000517b, // SMB (smbfs)
        0xff534d42, // CIFS
        0xfe534d42, // SMB2 and SMB3
        0x01021997, // 9p (v9fs)
        0x00c36400, // Ceph
        0x5346414f, // AFS (kAFS)
        0x6b414653, // AFS (OpenAFS)
        0x73757245, // Coda
        0x0000564c, // NCP
        0x20030528, // OrangeFS
        0x0bd00bd0, // Lustre
        0x786f4256, // VirtualBox shared folders
        0x47504653, // GPFS
    };
    const auto magic = static_cast<unsigned long>(type) & 0xffffffffUL;
    return std::find(kAliasing.begin(), kAliasing.end(), magic) != kAliasing.end();
}

bool aliasedAt(int dirFd, const char* name)
{
    // O_PATH opens nothing on a device and never blocks; fstatfs on it asks
    // the file system the entry lies on.
    const Descriptor entry(::openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statfs status;
    if (!entry || ::fstatfs(entry.get(), &status) != 0)
        return true;
    return aliasingFileSystem(status.f_type);
}

bool AliasedDevices::at(int dirFd, const char* name, std::uint64_t device)
{
    for (const auto& [known, aliased] : known_) {
        if (known == device)
            return aliased;
    }
    const Descriptor entry(::openat(dirFd, name, O_PATH | O_NOFOLLOW | O_CLOEXEC));
    struct statfs status;
    struct stat entryStatus;
    if (!entry || ::fstatfs(entry.get(), &status) != 0 || ::fstat(entry.get(), &entryStatus) != 0)
        return true;
    const bool aliased = aliasingFileSystem(status.f_type);
    // Only what was asked of that device is remembered for it.
    if (static_cast<std::uint64_t>(entryStatus.st_dev) == device)
        known_.emplace_back(device, aliased);
    return aliased;
}

namespace {

// A field of a mount table line, with "\ooo" escapes decoded.
std::string unescaped(std::string_view field)
{
    std::string out;
    out.reserve(field.size());
    for (std::size_t i = 0; i < field.size(); ++i) {
        if (field[i] == '\\' && i + 3 < field.size()) {
            const std::string_view digits = field.substr(i + 1, 3);
            const auto octal = [](char c) { return c >= '0' && c <= '7'; };
            if (std::all_of(digits.begin(), digits.end(), octal)) {
                out += static_cast<char>(
                    ((digits[0] - '0') << 6) | ((digits[1] - '0') << 3) | (digits[2] - '0'));
                i += 3;
                continue;
            }
        }
        out += field[i];
    }
    return out;
}

std::vector<std::string_view> fieldsOf(std::string_view line)
{
    std::vector<std::string_view> fields;
    while (!line.empty()) {
        const std::size_t blank = line.find(' ');
        const std::string_view field = line.substr(0, blank);
        if (!field.empty())
            fields.push_back(field);
        if (blank == std::string_view::npos)
            break;
        line.remove_prefix(blank + 1);
    }
    return fields;
}

} // namespace

std::optional<MountEntry> parseMountInfo(std::string_view text, std::uint64_t mountId)
{
    // id parent major:minor root point options [optional fields...] - type source super-options
    while (!text.empty()) {
        const std::size_t end = text.find('\n');
        const std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        const std::vector<std::string_view> fields = fieldsOf(line);
        std::uint64_t id = 0;
        if (fields.size() < 5
            || std::from_chars(fields[0].data(), fields[0].data() + fields[0].size(), id).ec
                != std::errc()
            || id != mountId)
            continue;
        const auto dash = std::find(fields.begin() + 5, fields.end(), std::string_view("-"));
        if (dash == fields.end() || std::distance(dash, fields.end()) < 3)
            return std::nullopt;
        return MountEntry { unescaped(fields[4]), unescaped(fields[3]), unescaped(*(dash + 1)),
            unescaped(*(dash + 2)) };
    }
    return std::nullopt;
}

std::optional<MountEntry> mountEntry(std::uint64_t mountId)
{
    std::ifstream in("/proc/self/mountinfo", std::ios::binary);
    if (!in)
        return std::nullopt;
    const std::string text((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    return parseMountInfo(text, mountId);
}

bool systemInternalMount(const MountEntry& mount)
{
    static constexpr std::string_view kSystemTypes[] = { "adfs", "afs", "auto", "autofs", "autofs4",
        "bpf", "cgroup", "cgroup2", "configfs", "cxfs", "debugfs", "devfs", "devpts", "devtmpfs",
        "ecryptfs", "efivarfs", "fdescfs", "fuse.gvfsd-fuse", "fuse.portal", "fusectl", "gfs",
        "gfs2", "gpfs", "hugetlbfs", "kernfs", "linprocfs", "linsysfs", "lustre", "lustre_lite",
        "mfs", "mqueue", "ncpfs", "nfsd", "nsfs", "nullfs", "ocfs2", "overlay", "proc", "procfs",
        "pstore", "ptyfs", "rootfs", "rpc_pipefs", "securityfs", "selinuxfs", "sysfs", "tmpfs",
        "tracefs", "usbfs" };
    static constexpr std::string_view kSystemSources[]
        = { "/dev/loop", "/dev/vn", "devpts", "nfsd", "none", "sunrpc" };
    static constexpr std::string_view kSystemPoints[] = { "/", "/bin", "/boot",
        "/compat/linux/proc", "/compat/linux/sys", "/dev", "/etc", "/home", "/lib", "/lib64",
        "/libexec", "/live/cow", "/live/image", "/media", "/mnt", "/net", "/opt", "/proc",
        "/rescue", "/root", "/run", "/sbin", "/srv", "/sys", "/tmp", "/usr", "/usr/X11R6",
        "/usr/local", "/usr/obj", "/usr/ports", "/usr/src", "/usr/xobj", "/var", "/var/crash",
        "/var/local", "/var/log", "/var/log/audit", "/var/mail", "/var/run", "/var/tmp" };
    const auto listed = [](const auto& list, std::string_view value) {
        return std::find(std::begin(list), std::end(list), value) != std::end(list);
    };
    if (listed(kSystemTypes, mount.type) || listed(kSystemSources, mount.source)
        || listed(kSystemPoints, mount.point))
        return true;
    const std::string_view point = mount.point;
    if (point.starts_with("/dev/") || point.starts_with("/proc/") || point.starts_with("/sys/")
        || point.ends_with("/.gvfs"))
        return true;
    // A bind mount of a folder inside a file system shows part of another
    // mount again.
    return !mount.root.empty() && mount.root != "/";
}

} // namespace qevra::fs
