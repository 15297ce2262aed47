// The POSIX file-system services, on real temporary trees.
#include "base/exceptions.h"
#include "fs/descriptor.h"
#include "fs/file_system.h"
#include "fs/mounts.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <fcntl.h>
#include <set>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <thread>
#include <unistd.h>

using qevra::EInOutError;
using qevra::fs::Descriptor;
using qevra::fs::DirListing;
using qevra::fs::EntryType;
using qevra::fs::FileStamp;
using qevra::fs::realFileSystem;
using qevra::fs::Removal;
using qevra::fs::Resolve;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

EntryType typeIn(const DirListing& listing, std::string_view name)
{
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (listing.name(i) == name)
            return listing.type(i);
    }
    ADD_FAILURE() << "no entry " << name;
    return EntryType::Other;
}

} // namespace

TEST(FileSystem, ExistenceTellsFilesFromDirectories)
{
    TempTree tree;
    const std::string file = tree.file("a.txt", "x");
    const std::string dir = tree.dir("sub");
    const std::string fileLink = tree.link("link-to-file", file);
    auto& fs = realFileSystem();
    EXPECT_TRUE(fs.fileExists(file));
    EXPECT_FALSE(fs.fileExists(dir));
    EXPECT_FALSE(fs.fileExists(tree.path("missing")));
    EXPECT_TRUE(fs.directoryExists(dir));
    EXPECT_FALSE(fs.directoryExists(file));
    EXPECT_FALSE(fs.directoryExists(tree.path("missing")));
    EXPECT_TRUE(fs.fileExists(fileLink));
}

TEST(FileSystem, DirectoryReadGivesEveryEntryWithItsOwnType)
{
    TempTree tree;
    tree.file("plain.txt");
    tree.file(".hidden.txt");
    tree.dir("sub");
    tree.dir(".hiddendir");
    tree.link("dirlink", tree.path("sub"));
    tree.link("filelink", tree.path("plain.txt"));
    tree.link("dangling", tree.path("nowhere"));
    ::mkfifo(tree.path("pipe").c_str(), 0644);

    DirListing listing;
    ASSERT_TRUE(realFileSystem().readDirectory(tree.root(), listing));
    EXPECT_EQ(listing.size(), 10u); // the eight entries plus "." and ".."
    EXPECT_EQ(typeIn(listing, "."), EntryType::Directory);
    EXPECT_EQ(typeIn(listing, ".."), EntryType::Directory);
    EXPECT_EQ(typeIn(listing, "plain.txt"), EntryType::File);
    EXPECT_EQ(typeIn(listing, ".hidden.txt"), EntryType::File);
    EXPECT_EQ(typeIn(listing, "sub"), EntryType::Directory);
    EXPECT_EQ(typeIn(listing, ".hiddendir"), EntryType::Directory);
    // Links are never taken for what they point at.
    EXPECT_EQ(typeIn(listing, "dirlink"), EntryType::Other);
    EXPECT_EQ(typeIn(listing, "filelink"), EntryType::Other);
    EXPECT_EQ(typeIn(listing, "dangling"), EntryType::Other);
    EXPECT_EQ(typeIn(listing, "pipe"), EntryType::Other);
}

TEST(FileSystem, UnreadableOrMissingDirectoryReadsAsNothing)
{
    TempTree tree;
    tree.file("closed/inside.txt");
    ::chmod(tree.path("closed").c_str(), 0);
    DirListing listing;
    EXPECT_FALSE(realFileSystem().readDirectory(tree.path("missing"), listing));
    EXPECT_FALSE(realFileSystem().readDirectory(tree.path("closed/inside.txt"), listing));
    const std::string closed = tree.path("closed");
    EXPECT_EQ(runUnprivileged([&] {
        DirListing own;
        return realFileSystem().readDirectory(closed, own) ? 1 : 0;
    }),
        0);
}

TEST(FileSystem, MeasureGivesSixtyFourBitSizesAndErrnoFailures)
{
    TempTree tree;
    EXPECT_EQ(realFileSystem().measure(tree.file("empty")).size, 0);
    EXPECT_EQ(realFileSystem().measure(tree.file("five", "12345")).size, 5);

    // A sparse file past 4 GiB: its size must not wrap to 32 bits.
    const std::string big = tree.file("big");
    ASSERT_EQ(::truncate(big.c_str(), (5LL << 30) + 7), 0);
    EXPECT_EQ(realFileSystem().measure(big).size, (5LL << 30) + 7);

    try {
        realFileSystem().measure(tree.path("missing"));
        FAIL() << "measuring a missing file must fail";
    } catch (const EInOutError& e) {
        EXPECT_EQ(e.code(), ENOENT);
        EXPECT_EQ(e.message(), QStringLiteral("I/O error 2"));
    }

    const std::string secret = tree.file("secret", "x");
    ::chmod(secret.c_str(), 0);
    EXPECT_EQ(runUnprivileged([&] {
        try {
            realFileSystem().measure(secret);
        } catch (const EInOutError& e) {
            return e.code();
        }
        return 0;
    }),
        EACCES);
}

namespace {

int measureError(const std::string& path)
{
    try {
        realFileSystem().measure(path);
    } catch (const EInOutError& e) {
        return e.code();
    }
    return 0;
}

} // namespace

TEST(FileSystem, MeasuringOrIdentifyingARunOfPathsAnswersAsEachAlone)
{
    // Runs of one directory, a directory that comes back later, a directory
    // that cannot be searched, a missing one, a link to a directory above
    // files, files straight under "/", and each kind of failure, for root
    // and for an unprivileged user.
    TempTree tree;
    tree.file("a/one", "1");
    const std::string secret = tree.file("a/secret", "22");
    ::chmod(secret.c_str(), 0);
    tree.file("b/three", "333");
    ASSERT_EQ(::mkfifo(tree.path("b/pipe").c_str(), 0644), 0);
    tree.link("b/link", tree.path("a/one"));
    tree.dir("b/sub");
    tree.file("closed/inside", "4444");
    ::chmod(tree.path("closed").c_str(), 0);
    tree.link("alias", tree.path("a"));
    const std::vector<std::string> owned = {
        tree.path("a/one"),
        tree.path("a/secret"),
        tree.path("a/none"),
        tree.path("b/three"),
        tree.path("b/pipe"),
        tree.path("b/link"),
        tree.path("b/sub"),
        tree.path("a/one"),
        tree.path("closed/inside"),
        tree.path("missing/x"),
        tree.path("alias/one"),
        "/qevra-surely-not-here",
        "/proc",
        tree.path("a/one"),
    };
    const auto mismatches = [&] {
        std::vector<std::string_view> paths(owned.begin(), owned.end());
        std::vector<FileStamp> stamps(paths.size());
        std::vector<int> errors(paths.size(), -1);
        realFileSystem().measureEach(paths, stamps, errors);
        int wrong = 0;
        for (std::size_t i = 0; i < paths.size(); ++i) {
            FileStamp alone;
            int error = 0;
            try {
                alone = realFileSystem().measure(owned[i]);
            } catch (const EInOutError& e) {
                error = e.code();
            }
            if (errors[i] != error || (error == 0 && stamps[i] != alone)) {
                ADD_FAILURE() << owned[i] << ": " << errors[i] << " against " << error;
                ++wrong;
            }
        }
        // Identifying, too, answers as it does path by path.
        std::vector<FileStamp> identities(paths.size());
        realFileSystem().examineEach(paths, Resolve::NoFinalLink, identities);
        for (std::size_t i = 0; i < paths.size(); ++i) {
            const auto alone = realFileSystem().examine(owned[i], Resolve::NoFinalLink);
            if (identities[i] != alone.value_or(FileStamp())) {
                ADD_FAILURE() << owned[i] << ": identified differently";
                ++wrong;
            }
        }
        return wrong;
    };
    EXPECT_EQ(mismatches(), 0);
    EXPECT_EQ(measureError(tree.path("b/pipe")), ENXIO);
    EXPECT_EQ(runUnprivileged(mismatches), 0);
    EXPECT_EQ(runUnprivileged([&] { return measureError(tree.path("closed/inside")); }), EACCES);
}

TEST(FileSystem, ReadStreamReadsFromTheStart)
{
    TempTree tree;
    const std::string path = tree.file("data", "abcdef");
    auto stream = realFileSystem().openRead(path);
    ASSERT_TRUE(stream);
    ASSERT_TRUE(stream->stamp());
    EXPECT_EQ(stream->stamp()->size, 6);
    char buffer[16] = {};
    EXPECT_EQ(stream->read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(stream->read(buffer, 16), 2);
    EXPECT_EQ(stream->read(buffer, 16), 0);
    EXPECT_FALSE(realFileSystem().openRead(tree.path("missing")));
}

TEST(FileSystem, OnlyRegularFilesOpenAndNothingBlocks)
{
    // A pipe with no writer would hold a blocking open for ever; a link is
    // never followed at the end of the path.
    TempTree tree;
    const std::string file = tree.file("f", "data");
    const std::string pipe = tree.path("pipe");
    ASSERT_EQ(::mkfifo(pipe.c_str(), 0644), 0);
    const std::string link = tree.link("link", file);
    EXPECT_EQ(measureError(pipe), ENXIO);
    EXPECT_EQ(measureError(link), ELOOP);
    EXPECT_EQ(measureError(tree.dir("sub")), EISDIR);
    EXPECT_EQ(measureError(file), 0);
    EXPECT_FALSE(realFileSystem().openRead(pipe));
    EXPECT_FALSE(realFileSystem().openRead(link));
    EXPECT_TRUE(realFileSystem().openRead(file));
    // The opened file reads normally: the non-blocking mode is gone, and
    // it stays only on a file opened to be examined.
    EXPECT_EQ(realFileSystem().measure(file).size, 4);
    const qevra::fs::OpenedFile reading = qevra::fs::openRegularFile(file);
    ASSERT_TRUE(reading.fd);
    EXPECT_EQ(::fcntl(reading.fd.get(), F_GETFL) & (O_NONBLOCK | O_ACCMODE), O_RDONLY);
    const qevra::fs::OpenedFile examined = qevra::fs::openRegularFile(file, false);
    ASSERT_TRUE(examined.fd);
    EXPECT_NE(::fcntl(examined.fd.get(), F_GETFL) & O_NONBLOCK, 0);
}

TEST(FileSystem, StampsNameTheFileBehindEverySpelling)
{
    TempTree tree;
    const std::string file = tree.file("d/f", "12345");
    const std::string hardLink = tree.path("d/hard");
    ASSERT_EQ(::link(file.c_str(), hardLink.c_str()), 0);
    tree.link("linked", tree.path("d"));
    auto& fs = realFileSystem();
    const qevra::fs::FileStamp stamp = fs.measure(file);
    EXPECT_TRUE(stamp.known());
    EXPECT_EQ(stamp.size, 5);
    EXPECT_TRUE(fs.measure(hardLink).sameFile(stamp));
    EXPECT_TRUE(fs.measure(tree.root() + "/./d//f").sameFile(stamp));
    EXPECT_FALSE(fs.measure(tree.file("other", "12345")).sameFile(stamp));
    EXPECT_FALSE(qevra::fs::FileStamp().sameFile(qevra::fs::FileStamp()));

    // A link above the file: followed or refused as asked.
    const std::string throughLink = tree.path("linked/f");
    EXPECT_FALSE(fs.examine(throughLink, Resolve::NoLinks));
    ASSERT_TRUE(fs.examine(throughLink, Resolve::NoFinalLink));
    EXPECT_TRUE(fs.examine(throughLink, Resolve::NoFinalLink)->sameFile(stamp));
    ASSERT_TRUE(fs.examine(file, Resolve::NoLinks));
    EXPECT_EQ(*fs.examine(file, Resolve::NoLinks), stamp);
    // A link at the end: only followed when asked to.
    const std::string fileLink = tree.link("filelink", file);
    EXPECT_FALSE(fs.examine(fileLink, Resolve::NoLinks));
    EXPECT_FALSE(fs.examine(fileLink, Resolve::NoFinalLink));
    EXPECT_TRUE(fs.examine(fileLink, Resolve::FollowLinks)->sameFile(stamp));
    EXPECT_FALSE(fs.examine(tree.path("d"), Resolve::FollowLinks));
    EXPECT_FALSE(fs.examine(tree.path("missing"), Resolve::FollowLinks));
}

TEST(FileSystem, DirectoriesAreNeverReadThroughALink)
{
    TempTree tree;
    tree.file("real/inside.txt");
    tree.link("linked", tree.path("real"));
    DirListing listing;
    EXPECT_TRUE(realFileSystem().readDirectory(tree.path("real"), listing));
    EXPECT_FALSE(realFileSystem().readDirectory(tree.path("linked"), listing));
    EXPECT_FALSE(realFileSystem().readDirectory(tree.path("linked/."), listing));
}

TEST(FileSystem, RemoveActsOnlyOnTheFileSeen)
{
    TempTree tree;
    auto& fs = realFileSystem();
    const std::string path = tree.file("f", "abc");
    const qevra::fs::FileStamp seen = fs.measure(path);

    // Another file at the path now: left alone.
    const std::string other = tree.file("other", "abc");
    qevra::fs::FileStamp wrong = fs.measure(other);
    EXPECT_EQ(fs.removeFile(path, wrong, false), Removal::NotTheFileSeen);
    // The same file, changed since: left alone only when that counts.
    qevra::fs::FileStamp older = seen;
    older.modified -= 1000;
    EXPECT_EQ(fs.removeFile(path, older, true), Removal::NotTheFileSeen);
    EXPECT_TRUE(fs.fileExists(path));
    EXPECT_EQ(fs.removeFile(path, older, false), Removal::Removed);
    EXPECT_FALSE(fs.fileExists(path));
    EXPECT_EQ(fs.removeFile(path, seen, false), Removal::Missing);

    // A directory on the path swapped for a link to another directory: the
    // file there was never seen, and is not touched.
    const std::string inside = tree.file("d/f", "x");
    const qevra::fs::FileStamp insideSeen = fs.measure(inside);
    const std::string outside = tree.file("elsewhere/f", "x");
    ASSERT_EQ(::rename(tree.path("d").c_str(), tree.path("moved").c_str()), 0);
    tree.link("d", tree.path("elsewhere"));
    EXPECT_EQ(fs.removeFile(inside, insideSeen, false), Removal::Missing);
    EXPECT_EQ(fs.removeFile(inside, fs.measure(outside), false), Removal::Missing);
    EXPECT_TRUE(fs.fileExists(outside));

    // The file swapped for a link to itself is not the file either.
    const std::string target = tree.file("target", "y");
    const qevra::fs::FileStamp targetSeen = fs.measure(target);
    const std::string linkPath = tree.link("aslink", target);
    EXPECT_EQ(fs.removeFile(linkPath, targetSeen, false), Removal::NotTheFileSeen);
    EXPECT_TRUE(fs.fileExists(target));
}

TEST(FileSystem, RemovalChangesNoFilesMode)
{
    TempTree tree;
    auto& fs = realFileSystem();
    const auto modeOf = [](const std::string& path) {
        struct stat st;
        return ::stat(path.c_str(), &st) == 0 ? st.st_mode & 07777 : 0u;
    };
    // A read-only file goes as any other; its second name, outside the
    // folders searched, keeps its mode and its bytes.
    const std::string readOnly = tree.file("in/ro", "x");
    const std::string outside = tree.path("outside-ro");
    ASSERT_EQ(::link(readOnly.c_str(), outside.c_str()), 0);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0444), 0);
    EXPECT_EQ(fs.removeFile(readOnly, fs.measure(readOnly), true), Removal::Removed);
    EXPECT_FALSE(fs.fileExists(readOnly));
    EXPECT_EQ(modeOf(outside), 0444u);
    EXPECT_EQ(qevra::testing::readFile(outside), "x");

    // A user's read-only file in a directory the user may not write stays,
    // as it was.
    const std::string kept = tree.file("locked/ro", "x");
    ASSERT_EQ(::chown(kept.c_str(), 65534, 65534), 0);
    ASSERT_EQ(::chmod(kept.c_str(), 0444), 0);
    const qevra::fs::FileStamp keptSeen = fs.measure(kept);
    EXPECT_EQ(runUnprivileged([&] {
        return realFileSystem().removeFile(kept, keptSeen, true) == Removal::Failed ? 0 : 1;
    }),
        0);
    EXPECT_EQ(modeOf(kept), 0444u);
    EXPECT_EQ(fs.measure(kept), keptSeen);
    EXPECT_EQ(qevra::testing::namesIn(tree.path("locked")), std::set<std::string> { "ro" });

    // A directory is never removed.
    const std::string dir = tree.dir("dir");
    EXPECT_EQ(fs.removeFile(dir, qevra::fs::FileStamp(), false), Removal::NotTheFileSeen);
    EXPECT_TRUE(fs.directoryExists(dir));
}

TEST(FileSystem, AFileRewrittenWithItsOldTimeIsChanged)
{
    // cp -p, rsync -t and touch -r give a rewritten file its old
    // modification time back; its change time tells.
    TempTree tree;
    auto& fs = realFileSystem();
    const std::string path = tree.file("f", "original");
    const FileStamp seen = fs.measure(path);
    struct stat before;
    ASSERT_EQ(::stat(path.c_str(), &before), 0);
    ::usleep(20000);
    tree.file("f", "rewrote!");
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);

    const FileStamp now = fs.measure(path);
    EXPECT_TRUE(now.sameFile(seen));
    EXPECT_EQ(now.size, seen.size);
    EXPECT_EQ(now.modified, seen.modified);
    EXPECT_NE(now.changed, seen.changed);
    EXPECT_NE(now, seen);
    EXPECT_EQ(*fs.examine(path, Resolve::NoLinks), now);
    EXPECT_EQ(fs.removeFile(path, seen, true), Removal::NotTheFileSeen);
    EXPECT_EQ(fs.moveToTrash(path, seen, true).outcome, qevra::fs::Trashing::NotTheFileSeen);
    EXPECT_EQ(qevra::testing::readFile(path), "rewrote!");
}

TEST(FileSystem, AFileSwappedInBetweenTheCheckAndTheRemovalIsNeverRemoved)
{
    // Another program swaps the names of the file seen and another file as
    // fast as it can while the file is removed: the other file survives
    // every round, and nothing is left under a private name.
    TempTree tree;
    auto& fs = realFileSystem();
    const std::string dir = tree.dir("d");
    const std::string seenPath = tree.path("d/p");
    const std::string otherPath = tree.path("d/q");
    const Descriptor dirFd(::open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC));
    ASSERT_TRUE(dirFd);
    int removed = 0;
    int refused = 0;
    int wrong = 0;
    constexpr int kRounds = 3000;
    for (int round = 0; round < kRounds; ++round) {
        tree.file("d/p", "seen");
        tree.file("d/q", "other");
        const FileStamp seen = fs.measure(seenPath);
        const FileStamp other = fs.measure(otherPath);
        std::atomic<bool> stop { false };
        std::atomic<int> swaps { 0 };
        std::thread swapper([&] {
            while (!stop.load(std::memory_order_relaxed)) {
                ::renameat2(dirFd.get(), "p", dirFd.get(), "q", RENAME_EXCHANGE);
                swaps.fetch_add(1, std::memory_order_relaxed);
            }
        });
        // The removal starts once the swapping is under way.
        while (swaps.load(std::memory_order_relaxed) < 2)
            std::this_thread::yield();
        // By identity alone: every swap is a rename, which changes the
        // status change time of both files.
        const Removal outcome = fs.removeFile(seenPath, seen, false);
        stop = true;
        swapper.join();
        bool seenLeft = false;
        bool otherLeft = false;
        for (const std::string& path : { seenPath, otherPath }) {
            struct stat st;
            if (::lstat(path.c_str(), &st) == 0) {
                seenLeft = seenLeft || qevra::fs::stampOf(st).sameFile(seen);
                otherLeft = otherLeft || qevra::fs::stampOf(st).sameFile(other);
            }
        }
        wrong += otherLeft ? 0 : 1;
        if (outcome == Removal::Removed) {
            ++removed;
            EXPECT_FALSE(seenLeft) << "round " << round;
        } else {
            ++refused;
            EXPECT_EQ(outcome, Removal::NotTheFileSeen) << "round " << round;
            EXPECT_TRUE(seenLeft) << "round " << round;
        }
        const std::set<std::string> names = qevra::testing::namesIn(dir);
        for (const std::string& name : names) {
            if (name != "p" && name != "q")
                ADD_FAILURE() << "left behind: " << name;
        }
        ::unlink(seenPath.c_str());
        ::unlink(otherPath.c_str());
    }
    EXPECT_EQ(wrong, 0);
    EXPECT_EQ(removed + refused, kRounds);
    EXPECT_GT(removed, 0);
}

TEST(FileSystem, OneFileSeenThroughTwoFileSystemsIsPossiblyOne)
{
    FileStamp local;
    local.device = 8;
    local.inode = 42;
    local.size = 100;
    local.modified = 1'700'000'000'123'456'789;
    // The same inode number, size and time under another device: one file
    // only where either lies on a stacked or network file system.
    FileStamp view = local;
    view.device = 57;
    EXPECT_FALSE(view.sameFile(local));
    EXPECT_FALSE(view.possiblySame(local));
    view.aliased = true;
    EXPECT_TRUE(view.possiblySame(local));
    EXPECT_TRUE(local.possiblySame(view));
    // Any difference in size or time (to the nanosecond) or inode number
    // tells two files apart.
    for (const auto change : { +[](FileStamp& s) { s.size += 1; },
             +[](FileStamp& s) { s.modified += 1; }, +[](FileStamp& s) { s.inode += 1; } }) {
        FileStamp other = view;
        change(other);
        EXPECT_FALSE(other.possiblySame(local));
    }
    // One identity is one file wherever it lies; an unknown stamp is no file.
    EXPECT_TRUE(local.possiblySame(local));
    EXPECT_FALSE(FileStamp().possiblySame(FileStamp()));
    // Where the file lies is no part of its state.
    FileStamp flagged = local;
    flagged.aliased = true;
    EXPECT_EQ(flagged, local);
    flagged.changed += 1;
    EXPECT_NE(flagged, local);

    using qevra::fs::aliasingFileSystem;
    for (const long type :
        { 0x794c7630L, 0x65735546L, 0x6969L, 0xff534d42L, 0xfe534d42L, 0x01021997L, 0x00c36400L })
        EXPECT_TRUE(aliasingFileSystem(type)) << std::hex << type;
    // ext4, tmpfs, btrfs, xfs, ramfs
    for (const long type : { 0xef53L, 0x01021994L, 0x9123683eL, 0x58465342L, 0x858458f6L })
        EXPECT_FALSE(aliasingFileSystem(type)) << std::hex << type;
    // This tree's own file system answers as its type says.
    TempTree tree;
    const std::string file = tree.file("f", "x");
    struct statfs where;
    ASSERT_EQ(::statfs(file.c_str(), &where), 0);
    EXPECT_EQ(realFileSystem().measure(file).aliased, aliasingFileSystem(where.f_type));
}

TEST(Mounts, TheMountTableAndTheDesktopsSystemMounts)
{
    using qevra::fs::MountEntry;
    using qevra::fs::parseMountInfo;
    using qevra::fs::systemInternalMount;
    const std::string table
        = "22 1 8:1 / / rw,relatime shared:1 - ext4 /dev/sda1 rw\n"
          "31 22 8:17 / /media/usb\\040stick rw - vfat /dev/sdb1 rw\n"
          "32 22 0:40 / /tmp rw shared:5 master:2 - tmpfs tmpfs rw\n"
          "33 22 8:1 /home/u/sub /srv/bound rw - ext4 /dev/sda1 rw\n"
          "34 22 0:41 / /mnt/data rw - fuse.sshfs host:/x rw\n"
          "35 22 0:42 / /run/user/1000/gvfs rw - fuse.gvfsd-fuse gvfsd-fuse rw\n";
    const auto usb = parseMountInfo(table, 31);
    ASSERT_TRUE(usb);
    EXPECT_EQ(usb->point, "/media/usb stick");
    EXPECT_EQ(usb->type, "vfat");
    EXPECT_EQ(usb->source, "/dev/sdb1");
    EXPECT_EQ(usb->root, "/");
    EXPECT_FALSE(systemInternalMount(*usb));
    EXPECT_FALSE(parseMountInfo(table, 99));
    EXPECT_FALSE(parseMountInfo("7 1 0:1 / /x rw no-separator ext4\n", 7));

    // By type, mount point, source and root.
    EXPECT_TRUE(systemInternalMount(*parseMountInfo(table, 22))); // "/"
    EXPECT_TRUE(systemInternalMount(*parseMountInfo(table, 32))); // tmpfs at /tmp
    EXPECT_TRUE(systemInternalMount(*parseMountInfo(table, 33))); // a folder bound elsewhere
    EXPECT_FALSE(systemInternalMount(*parseMountInfo(table, 34))); // a network drive
    EXPECT_TRUE(systemInternalMount(*parseMountInfo(table, 35))); // the desktop's own
    EXPECT_TRUE(systemInternalMount(MountEntry { "/home/u/ram", "/", "tmpfs", "tmpfs" }));
    EXPECT_TRUE(systemInternalMount(MountEntry { "/home/u/x", "/", "ramfs", "none" }));
    EXPECT_TRUE(systemInternalMount(MountEntry { "/run", "/", "ext4", "/dev/sdc1" }));
    EXPECT_TRUE(systemInternalMount(MountEntry { "/sys/fs/x", "/", "ext4", "/dev/sdc1" }));
    EXPECT_FALSE(systemInternalMount(MountEntry { "/home/u/ram", "/", "ramfs", "ram" }));
    EXPECT_FALSE(systemInternalMount(MountEntry { "/run/media/u/disk", "/", "ext4", "/dev/sdc1" }));
    EXPECT_FALSE(systemInternalMount(MountEntry { "/mnt/disk", "/", "btrfs", "/dev/sdc1" }));

    // This process's own root is in its table.
    struct statx status { };
    ASSERT_EQ(::statx(AT_FDCWD, "/", 0, STATX_MNT_ID, &status), 0);
    if (status.stx_mask & STATX_MNT_ID) {
        const auto root = qevra::fs::mountEntry(status.stx_mnt_id);
        ASSERT_TRUE(root);
        EXPECT_EQ(root->point, "/");
    }
}

TEST(FileSystem, SeparatorAndBareName)
{
    using qevra::fs::bareName;
    using qevra::fs::separatorFor;
    EXPECT_EQ(separatorFor("/"), "");
    EXPECT_EQ(separatorFor("/home/"), "");
    EXPECT_EQ(separatorFor("/home"), "/");
    EXPECT_EQ(bareName("/a/b/c.txt"), "c.txt");
    EXPECT_EQ(bareName("/c.txt"), "c.txt");
    EXPECT_EQ(bareName("c.txt"), "c.txt");
}
