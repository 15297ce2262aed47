// qevra-fuse-passthrough SOURCE MOUNTPOINT
//
// Shows the folder SOURCE again at MOUNTPOINT through FUSE, so that the
// tests see one local file under a second device number, as they would
// through a network file system or a FUSE re-export of a local folder.
//
// A file keeps its inode number at the mount (use_ino), and nothing is
// cached in the kernel, so that a change made through SOURCE shows at the
// mount at once. The program stays in the foreground, prints "mounted" on
// stdout once the mount is in place, and unmounts and exits 0 on SIGTERM,
// SIGINT or SIGHUP, or when its parent dies.
//
// Exit status: 0 after a clean stop, 1 when the session failed, 2 for wrong
// arguments, 77 when the kernel or libfuse refuses the mount.
//
// Every operation works relative to a descriptor of SOURCE opened before the
// mount, so that SOURCE may even be MOUNTPOINT itself. The last component of
// a path is never followed when it is a symbolic link, and nothing but a
// regular file is ever opened here, so that the single thread that serves
// the mount never waits on a named pipe. A named pipe or a device shown at
// the mount is the kernel's own, as on any FUSE file system: opening it
// there never reaches this program and behaves as for a local one.

#define FUSE_USE_VERSION 31

#include <cerrno>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The descriptor of SOURCE; every path the kernel gives is taken relative to it.
int source = -1;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 77;

// "/a/b" -> "a/b"; "/" -> ".".
std::string relative(const char* path)
{
    while (*path == '/')
        ++path;
    return *path ? std::string(path) : std::string(".");
}

int failure()
{
    return -errno;
}

// The status of the entry itself, a symbolic link included.
int statOf(const std::string& rel, struct stat* st)
{
    return ::fstatat(source, rel.c_str(), st, AT_SYMLINK_NOFOLLOW) == 0 ? 0 : failure();
}

// Opens `rel` with `flags` if, and only if, it is a regular file; never
// waits on a named pipe and never opens a device. Returns the descriptor or
// -errno.
int openRegular(const std::string& rel, int flags, mode_t mode)
{
    const bool create = (flags & O_CREAT) != 0;
    if (!create) {
        struct stat st { };
        if (const int error = statOf(rel, &st))
            return error;
        if (S_ISDIR(st.st_mode))
            return -EISDIR;
        if (!S_ISREG(st.st_mode))
            return -ENXIO;
    }
    // The entry may change between the check and the open: O_NONBLOCK keeps
    // a named pipe put there in the meantime from blocking, and the check on
    // the descriptor refuses it.
    const int fd = ::openat(source, rel.c_str(), flags | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, mode);
    if (fd < 0)
        return failure();
    struct stat st { };
    if (::fstat(fd, &st) != 0) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    if (!S_ISREG(st.st_mode)) {
        ::close(fd);
        return -ENXIO;
    }
    if ((flags & O_NONBLOCK) == 0) {
        const int status = ::fcntl(fd, F_GETFL);
        if (status < 0 || ::fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
            const int error = errno;
            ::close(fd);
            return -error;
        }
    }
    return fd;
}

int descriptorOf(const fuse_file_info* fi)
{
    return static_cast<int>(fi->fh);
}

void* passInit(fuse_conn_info*, fuse_config* cfg)
{
    cfg->use_ino = 1;
    cfg->attr_timeout = 0;
    cfg->entry_timeout = 0;
    cfg->negative_timeout = 0;
    // An open file that is unlinked goes at once: no ".fuse_hidden" file
    // appears in SOURCE. Reads and writes on its descriptor go on without a
    // path; fstat() on it fails with ESTALE, as the kernel asks by path.
    cfg->hard_remove = 1;
    cfg->nullpath_ok = 1;
    return nullptr;
}

int passGetattr(const char* path, struct stat* st, fuse_file_info* fi)
{
    if (fi)
        return ::fstat(descriptorOf(fi), st) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    return statOf(relative(path), st);
}

// A folder is read through the stream opened by passOpendir(); the
// operations on an open folder get no path (nullpath_ok).
DIR* streamOf(const fuse_file_info* fi)
{
    return reinterpret_cast<DIR*>(fi->fh);
}

int passOpendir(const char* path, fuse_file_info* fi)
{
    if (!path)
        return -ENOENT;
    const int fd
        = ::openat(source, relative(path).c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return failure();
    DIR* dir = ::fdopendir(fd);
    if (!dir) {
        const int error = errno;
        ::close(fd);
        return -error;
    }
    fi->fh = reinterpret_cast<std::uintptr_t>(dir);
    return 0;
}

// The whole folder at once (offsets of 0): libfuse keeps the entries and
// asks again from the start after a rewind.
int passReaddir(
    const char*, void* buf, fuse_fill_dir_t filler, off_t, fuse_file_info* fi, fuse_readdir_flags)
{
    DIR* dir = streamOf(fi);
    ::rewinddir(dir);
    for (;;) {
        errno = 0;
        const dirent* entry = ::readdir(dir);
        if (!entry)
            return -errno;
        struct stat st { };
        st.st_ino = entry->d_ino;
        st.st_mode = entry->d_type == DT_UNKNOWN ? 0 : DTTOIF(entry->d_type);
        if (filler(buf, entry->d_name, &st, 0, static_cast<fuse_fill_dir_flags>(0)) != 0)
            return 0;
    }
}

int passReleasedir(const char*, fuse_file_info* fi)
{
    ::closedir(streamOf(fi));
    return 0;
}

int passOpen(const char* path, fuse_file_info* fi)
{
    if (!path)
        return -ENOENT;
    const int fd = openRegular(relative(path), fi->flags & ~(O_CREAT | O_EXCL), 0);
    if (fd < 0)
        return fd;
    fi->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int passCreate(const char* path, mode_t mode, fuse_file_info* fi)
{
    if (!path)
        return -ENOENT;
    const int fd = openRegular(relative(path), fi->flags | O_CREAT, mode);
    if (fd < 0)
        return fd;
    fi->fh = static_cast<std::uint64_t>(fd);
    return 0;
}

int passRead(const char*, char* buf, size_t size, off_t offset, fuse_file_info* fi)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n
            = ::pread(descriptorOf(fi), buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? static_cast<int>(done) : failure();
        }
        if (n == 0)
            break;
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int passWrite(const char*, const char* buf, size_t size, off_t offset, fuse_file_info* fi)
{
    size_t done = 0;
    while (done < size) {
        const ssize_t n = ::pwrite(
            descriptorOf(fi), buf + done, size - done, offset + static_cast<off_t>(done));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return done > 0 ? static_cast<int>(done) : failure();
        }
        done += static_cast<size_t>(n);
    }
    return static_cast<int>(done);
}

int passRelease(const char*, fuse_file_info* fi)
{
    ::close(descriptorOf(fi));
    return 0;
}

int passFsync(const char*, int dataOnly, fuse_file_info* fi)
{
    const int fd = descriptorOf(fi);
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : failure();
}

int passUnlink(const char* path)
{
    return ::unlinkat(source, relative(path).c_str(), 0) == 0 ? 0 : failure();
}

int passRmdir(const char* path)
{
    return ::unlinkat(source, relative(path).c_str(), AT_REMOVEDIR) == 0 ? 0 : failure();
}

int passMkdir(const char* path, mode_t mode)
{
    return ::mkdirat(source, relative(path).c_str(), mode) == 0 ? 0 : failure();
}

int passRename(const char* from, const char* to, unsigned int flags)
{
    if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE | RENAME_EXCHANGE)) != 0)
        return -EINVAL;
    return ::renameat2(source, relative(from).c_str(), source, relative(to).c_str(), flags) == 0
        ? 0
        : failure();
}

int passLink(const char* from, const char* to)
{
    return ::linkat(source, relative(from).c_str(), source, relative(to).c_str(), 0) == 0
        ? 0
        : failure();
}

int passSymlink(const char* target, const char* path)
{
    return ::symlinkat(target, source, relative(path).c_str()) == 0 ? 0 : failure();
}

int passReadlink(const char* path, char* buf, size_t size)
{
    if (size == 0)
        return -EINVAL;
    const ssize_t n = ::readlinkat(source, relative(path).c_str(), buf, size - 1);
    if (n < 0)
        return failure();
    buf[n] = '\0';
    return 0;
}

int passTruncate(const char* path, off_t size, fuse_file_info* fi)
{
    if (fi)
        return ::ftruncate(descriptorOf(fi), size) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    const int fd = openRegular(relative(path), O_WRONLY, 0);
    if (fd < 0)
        return fd == -ENXIO ? -EINVAL : fd;
    const int result = ::ftruncate(fd, size) == 0 ? 0 : failure();
    ::close(fd);
    return result;
}

int passChmod(const char* path, mode_t mode, fuse_file_info* fi)
{
    if (fi)
        return ::fchmod(descriptorOf(fi), mode) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    // The mode of a symbolic link cannot change; fchmodat() would change
    // that of its target.
    const std::string rel = relative(path);
    struct stat st { };
    if (const int error = statOf(rel, &st))
        return error;
    if (S_ISLNK(st.st_mode))
        return -EOPNOTSUPP;
    return ::fchmodat(source, rel.c_str(), mode, 0) == 0 ? 0 : failure();
}

int passChown(const char* path, uid_t uid, gid_t gid, fuse_file_info* fi)
{
    if (fi)
        return ::fchown(descriptorOf(fi), uid, gid) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    return ::fchownat(source, relative(path).c_str(), uid, gid, AT_SYMLINK_NOFOLLOW) == 0
        ? 0
        : failure();
}

int passUtimens(const char* path, const timespec times[2], fuse_file_info* fi)
{
    if (fi)
        return ::futimens(descriptorOf(fi), times) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    return ::utimensat(source, relative(path).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0
                                                                                        : failure();
}

int passStatfs(const char*, struct statvfs* st)
{
    return ::fstatvfs(source, st) == 0 ? 0 : failure();
}

int passAccess(const char* path, int mask)
{
    return ::faccessat(source, relative(path).c_str(), mask, AT_SYMLINK_NOFOLLOW) == 0 ? 0
                                                                                       : failure();
}

fuse_operations passOperations()
{
    fuse_operations ops {};
    ops.init = passInit;
    ops.getattr = passGetattr;
    ops.opendir = passOpendir;
    ops.readdir = passReaddir;
    ops.releasedir = passReleasedir;
    ops.open = passOpen;
    ops.create = passCreate;
    ops.read = passRead;
    ops.write = passWrite;
    ops.release = passRelease;
    ops.fsync = passFsync;
    ops.unlink = passUnlink;
    ops.rmdir = passRmdir;
    ops.mkdir = passMkdir;
    ops.rename = passRename;
    ops.link = passLink;
    ops.symlink = passSymlink;
    ops.readlink = passReadlink;
    ops.truncate = passTruncate;
    ops.chmod = passChmod;
    ops.chown = passChown;
    ops.utimens = passUtimens;
    ops.statfs = passStatfs;
    ops.access = passAccess;
    return ops;
}

std::string realPath(const char* path)
{
    char* resolved = ::realpath(path, nullptr);
    if (!resolved)
        return {};
    std::string result(resolved);
    std::free(resolved);
    return result;
}

bool isDirectory(const std::string& path)
{
    struct stat st { };
    return !path.empty() && ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

// Whether `inner` lies strictly inside `outer` (both resolved).
bool strictlyInside(const std::string& inner, const std::string& outer)
{
    if (outer == "/")
        return inner != "/";
    return inner.size() > outer.size() && inner.compare(0, outer.size(), outer) == 0
        && inner[outer.size()] == '/';
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3) {
        std::fprintf(stderr, "usage: qevra-fuse-passthrough SOURCE MOUNTPOINT\n");
        return kExitUsage;
    }
    // A test that dies must not leave the mount, nor this process holding
    // its output pipes, behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);

    const std::string sourcePath = realPath(argv[1]);
    const std::string mountPoint = realPath(argv[2]);
    if (!isDirectory(sourcePath)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: %s is not a folder\n", argv[1]);
        return kExitUsage;
    }
    if (!isDirectory(mountPoint)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: %s is not a folder\n", argv[2]);
        return kExitUsage;
    }
    // Looking up the mount point through SOURCE would come back to this
    // process, which serves one request at a time: it would wait for itself.
    if (strictlyInside(mountPoint, sourcePath)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: the mount point lies inside %s\n", argv[1]);
        return kExitUsage;
    }
    source = ::open(sourcePath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (source < 0) {
        std::fprintf(
            stderr, "qevra-fuse-passthrough: cannot open %s: %s\n", argv[1], std::strerror(errno));
        return kExitUsage;
    }
    // The kernel has applied the caller's umask already.
    ::umask(0);

    // default_permissions: the kernel checks the modes as on a local file
    // system.
    char program[] = "qevra-fuse-passthrough";
    char optionFlag[] = "-o";
    char options[] = "fsname=qevra-fuse-passthrough,default_permissions";
    char* fuseArgv[] = { program, optionFlag, options, nullptr };
    fuse_args args = FUSE_ARGS_INIT(3, fuseArgv);
    // libfuse copies the arguments as it parses them.
    struct ArgsGuard {
        fuse_args& owned;
        ~ArgsGuard() { fuse_opt_free_args(&owned); }
    } argsGuard { args };
    const fuse_operations ops = passOperations();
    fuse* fs = fuse_new(&args, &ops, sizeof ops, nullptr);
    if (!fs) {
        std::fprintf(stderr, "qevra-fuse-passthrough: libfuse refuses to set up the file system\n");
        return kExitRefused;
    }
    fuse_session* session = fuse_get_session(fs);
    // libfuse leaves alone a signal that is ignored, as SIGINT is in a
    // command a shell starts in the background; each of them must stop the
    // program. Set before the mount, so that a signal at any time after it
    // unmounts.
    for (const int stop : { SIGHUP, SIGINT, SIGTERM })
        std::signal(stop, SIG_DFL);
    if (fuse_set_signal_handlers(session) != 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: cannot set the signal handlers\n");
        fuse_destroy(fs);
        return kExitRefused;
    }
    if (fuse_mount(fs, mountPoint.c_str()) != 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: the mount on %s is refused\n", argv[2]);
        fuse_remove_signal_handlers(session);
        fuse_destroy(fs);
        return kExitRefused;
    }

    std::fputs("mounted\n", stdout);
    std::fflush(stdout);

    const int loop = fuse_loop(fs);
    fuse_remove_signal_handlers(session);
    fuse_unmount(fs);
    fuse_destroy(fs);
    ::close(source);
    // After a signal the loop returns its number.
    if (loop == 0 || loop == SIGTERM || loop == SIGINT || loop == SIGHUP)
        return 0;
    std::fprintf(stderr, "qevra-fuse-passthrough: the session failed (%d)\n", loop);
    return kExitFailed;
}
