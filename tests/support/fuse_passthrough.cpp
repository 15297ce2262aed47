// qevra-fuse-passthrough [--delay MS] [--hang-reads] [--hang-after N] SOURCE MOUNTPOINT
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
// The options, given before SOURCE in any order, make the mount stand in for
// a slow or a dead network share:
//
//   --delay MS      every request the mount serves (lookup, getattr, readdir,
//                   open, read, flush, release, statfs, ...) first waits MS
//                   milliseconds, as over a link with that round-trip time.
//   --hang-reads    reads hang from the start (as after SIGUSR1).
//   --hang-after N  the first N read requests are served, then reads hang
//                   (as after SIGUSR1, once). A request is the kernel's, not
//                   the reader's: through the page cache it reads ahead.
//
// SIGUSR1 makes every read request hang from then on: it waits, without an
// answer, until SIGUSR2, which lets reads through again and releases every
// read waiting so far; each of them then completes normally. Only reads
// hang: the other requests go on being answered, but the mount serves one
// request at a time, so everything queued behind a hanging read waits too,
// the flush of every close() included, as on a share that has stopped
// answering. A stop (SIGTERM, SIGINT, SIGHUP, or the parent on its way out)
// still ends the program within a few tens of milliseconds: the hanging read
// is answered EIO, what is still queued in the kernel fails as the
// connection goes (ECONNABORTED, ENOTCONN), and the program unmounts and
// exits 0.
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

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <fuse.h>
#include <fuse_lowlevel.h>
#include <string>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <sys/time.h>
#include <unistd.h>

namespace {

// The descriptor of SOURCE; every path the kernel gives is taken relative to it.
int source = -1;

// The session, so that a request that waits sees a stop asked by a signal.
fuse_session* session = nullptr;

constexpr int kExitFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitRefused = 77;

using Milliseconds = std::chrono::milliseconds;

// What each request waits before it is served (--delay).
Milliseconds delay { 0 };

// Whether read requests hang: set by SIGUSR1, cleared by SIGUSR2.
std::atomic<bool> hangingReads { false };
static_assert(std::atomic<bool>::is_always_lock_free, "set from a signal handler");

// The read requests to serve before reads hang (--hang-after), or -1.
long long readsBeforeHang = -1;
long long readsSeen = 0;

// How long a waiting request sleeps between two looks at the switches: a
// stop or SIGUSR2 takes effect within that.
constexpr Milliseconds kSlice { 10 };

void onHangSignal(int signal)
{
    hangingReads.store(signal == SIGUSR1, std::memory_order_relaxed);
}

// Whether the process that started this one is on its way out. Its end
// stops this program (PR_SET_PDEATHSIG), but only once all its files are
// closed, and the close of a file at the mount waits, beyond the reach of
// any signal, for its turn behind the request this program holds: neither
// would ever end.
bool parentEnding()
{
    // PF_EXITING among the flags of the kernel's task.
    constexpr unsigned long kExiting = 0x4;
    char name[32];
    std::snprintf(name, sizeof name, "/proc/%d/stat", static_cast<int>(::getppid()));
    const int fd = ::open(name, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return false;
    char text[1024];
    const ssize_t n = ::read(fd, text, sizeof text - 1);
    ::close(fd);
    if (n <= 0)
        return false;
    text[n] = '\0';
    // "pid (name) state ppid pgrp session tty tpgid flags ...", where the
    // name may hold anything, a parenthesis or a space included.
    const char* field = std::strrchr(text, ')');
    for (int skip = 0; field && skip < 7; ++skip)
        field = std::strchr(field + 1, ' ');
    if (!field)
        return false;
    return (std::strtoul(field + 1, nullptr, 10) & kExiting) != 0;
}

// Whether the program is to stop. libfuse's handlers only mark the
// session; the loop, which serves one request at a time, sees the mark once
// the current request has its answer, so that a request that waits looks
// for it.
bool stopAsked()
{
    if (!session)
        return false;
    if (fuse_session_exited(session) != 0)
        return true;
    if (!parentEnding())
        return false;
    fuse_session_exit(session);
    return true;
}

// Sleeps for `length` at most. A signal may cut it short, which only means
// one more look at the switches.
void nap(std::chrono::nanoseconds length)
{
    constexpr long long kPerSecond = 1'000'000'000;
    const timespec span { static_cast<time_t>(length.count() / kPerSecond),
        static_cast<long>(length.count() % kPerSecond) };
    ::nanosleep(&span, nullptr);
}

// The round trip of one request (--delay): short slices, so that a stop
// asked in the meantime is seen at once.
void roundTrip()
{
    if (delay.count() <= 0)
        return;
    const auto deadline = std::chrono::steady_clock::now() + delay;
    while (!stopAsked()) {
        const std::chrono::nanoseconds left = deadline - std::chrono::steady_clock::now();
        if (left.count() <= 0)
            return;
        nap(std::min<std::chrono::nanoseconds>(left, kSlice));
    }
}

// Holds a read request while reads hang. Returns false when the program is
// asked to stop in the meantime: the read then fails.
bool readMayGo()
{
    if (readsBeforeHang >= 0 && readsSeen++ == readsBeforeHang)
        hangingReads.store(true, std::memory_order_relaxed);
    while (hangingReads.load(std::memory_order_relaxed)) {
        if (stopAsked())
            return false;
        nap(kSlice);
    }
    return true;
}

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
    roundTrip();
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
    roundTrip();
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
    roundTrip();
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
    roundTrip();
    ::closedir(streamOf(fi));
    return 0;
}

int passOpen(const char* path, fuse_file_info* fi)
{
    roundTrip();
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
    roundTrip();
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
    roundTrip();
    if (!readMayGo())
        return -EIO;
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
    roundTrip();
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

// Nothing to do, as nothing is kept here; but every close() is a request,
// as on a share, that costs its round trip and waits behind a hanging read.
// Without it the kernel would stop sending the request after the first
// refusal, and only that first close() would wait.
int passFlush(const char*, fuse_file_info*)
{
    roundTrip();
    return 0;
}

int passRelease(const char*, fuse_file_info* fi)
{
    roundTrip();
    ::close(descriptorOf(fi));
    return 0;
}

int passFsync(const char*, int dataOnly, fuse_file_info* fi)
{
    roundTrip();
    const int fd = descriptorOf(fi);
    return (dataOnly ? ::fdatasync(fd) : ::fsync(fd)) == 0 ? 0 : failure();
}

int passUnlink(const char* path)
{
    roundTrip();
    return ::unlinkat(source, relative(path).c_str(), 0) == 0 ? 0 : failure();
}

int passRmdir(const char* path)
{
    roundTrip();
    return ::unlinkat(source, relative(path).c_str(), AT_REMOVEDIR) == 0 ? 0 : failure();
}

int passMkdir(const char* path, mode_t mode)
{
    roundTrip();
    return ::mkdirat(source, relative(path).c_str(), mode) == 0 ? 0 : failure();
}

int passRename(const char* from, const char* to, unsigned int flags)
{
    roundTrip();
    if ((flags & ~static_cast<unsigned int>(RENAME_NOREPLACE | RENAME_EXCHANGE)) != 0)
        return -EINVAL;
    return ::renameat2(source, relative(from).c_str(), source, relative(to).c_str(), flags) == 0
        ? 0
        : failure();
}

int passLink(const char* from, const char* to)
{
    roundTrip();
    return ::linkat(source, relative(from).c_str(), source, relative(to).c_str(), 0) == 0
        ? 0
        : failure();
}

int passSymlink(const char* target, const char* path)
{
    roundTrip();
    return ::symlinkat(target, source, relative(path).c_str()) == 0 ? 0 : failure();
}

int passReadlink(const char* path, char* buf, size_t size)
{
    roundTrip();
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
    roundTrip();
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
    roundTrip();
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
    roundTrip();
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
    roundTrip();
    if (fi)
        return ::futimens(descriptorOf(fi), times) == 0 ? 0 : failure();
    if (!path)
        return -ENOENT;
    return ::utimensat(source, relative(path).c_str(), times, AT_SYMLINK_NOFOLLOW) == 0 ? 0
                                                                                        : failure();
}

int passStatfs(const char*, struct statvfs* st)
{
    roundTrip();
    return ::fstatvfs(source, st) == 0 ? 0 : failure();
}

int passAccess(const char* path, int mask)
{
    roundTrip();
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
    ops.flush = passFlush;
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

// A whole decimal number from 0 to `most`; false for anything else.
bool parseCount(const char* text, long long most, long long& value)
{
    if (!text || *text < '0' || *text > '9')
        return false;
    errno = 0;
    char* end = nullptr;
    const long long parsed = std::strtoll(text, &end, 10);
    if (errno != 0 || *end != '\0' || parsed > most)
        return false;
    value = parsed;
    return true;
}

// The options, then SOURCE and MOUNTPOINT. False for anything else.
bool parseArguments(int argc, char** argv, const char*& sourceArg, const char*& mountArg)
{
    constexpr long long kMostDelay = 3'600'000;
    constexpr long long kMostReads = 1'000'000'000'000;
    int i = 1;
    for (; i < argc && std::strncmp(argv[i], "--", 2) == 0; ++i) {
        const std::string option = argv[i];
        if (option == "--") {
            ++i;
            break;
        }
        if (option == "--hang-reads") {
            hangingReads.store(true);
            continue;
        }
        long long value = 0;
        if (option == "--delay" && i + 1 < argc && parseCount(argv[i + 1], kMostDelay, value)) {
            delay = Milliseconds(value);
            ++i;
            continue;
        }
        if (option == "--hang-after" && i + 1 < argc
            && parseCount(argv[i + 1], kMostReads, value)) {
            readsBeforeHang = value;
            ++i;
            continue;
        }
        if (option == "--delay" || option == "--hang-after")
            std::fprintf(stderr, "qevra-fuse-passthrough: %s wants a whole number\n", argv[i]);
        else
            std::fprintf(stderr, "qevra-fuse-passthrough: unknown option %s\n", argv[i]);
        return false;
    }
    if (argc - i != 2)
        return false;
    sourceArg = argv[i];
    mountArg = argv[i + 1];
    return true;
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
    const char* sourceArg = nullptr;
    const char* mountArg = nullptr;
    if (!parseArguments(argc, argv, sourceArg, mountArg)) {
        std::fprintf(stderr,
            "usage: qevra-fuse-passthrough [--delay MS] [--hang-reads] [--hang-after N] SOURCE "
            "MOUNTPOINT\n");
        return kExitUsage;
    }
    // A test that dies must not leave the mount, nor this process holding
    // its output pipes, behind.
    ::prctl(PR_SET_PDEATHSIG, SIGTERM);

    const std::string sourcePath = realPath(sourceArg);
    const std::string mountPoint = realPath(mountArg);
    if (!isDirectory(sourcePath)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: %s is not a folder\n", sourceArg);
        return kExitUsage;
    }
    if (!isDirectory(mountPoint)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: %s is not a folder\n", mountArg);
        return kExitUsage;
    }
    // Looking up the mount point through SOURCE would come back to this
    // process, which serves one request at a time: it would wait for itself.
    if (strictlyInside(mountPoint, sourcePath)) {
        std::fprintf(stderr, "qevra-fuse-passthrough: the mount point lies inside %s\n", sourceArg);
        return kExitUsage;
    }
    source = ::open(sourcePath.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    if (source < 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: cannot open %s: %s\n", sourceArg,
            std::strerror(errno));
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
    session = fuse_get_session(fs);
    // libfuse leaves alone a signal that is ignored, as SIGINT is in a
    // command a shell starts in the background; each of them must stop the
    // program. Set before the mount, so that a signal at any time after it
    // unmounts.
    for (const int stop : { SIGHUP, SIGINT, SIGTERM })
        std::signal(stop, SIG_DFL);
    // The switches for reads, also set before the mount: a test may flip
    // them as soon as it reads "mounted". The intr option, whose signal is
    // SIGUSR1 too, is not used.
    struct sigaction hang { };
    hang.sa_handler = onHangSignal;
    hang.sa_flags = SA_RESTART;
    sigemptyset(&hang.sa_mask);
    if (::sigaction(SIGUSR1, &hang, nullptr) != 0 || ::sigaction(SIGUSR2, &hang, nullptr) != 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: cannot set the signal handlers\n");
        fuse_destroy(fs);
        return kExitRefused;
    }
    if (fuse_set_signal_handlers(session) != 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: cannot set the signal handlers\n");
        fuse_destroy(fs);
        return kExitRefused;
    }
    if (fuse_mount(fs, mountPoint.c_str()) != 0) {
        std::fprintf(stderr, "qevra-fuse-passthrough: the mount on %s is refused\n", mountArg);
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
    session = nullptr;
    ::close(source);
    // After a signal the loop returns its number.
    if (loop == 0 || loop == SIGTERM || loop == SIGINT || loop == SIGHUP)
        return 0;
    std::fprintf(stderr, "qevra-fuse-passthrough: the session failed (%d)\n", loop);
    return kExitFailed;
}
