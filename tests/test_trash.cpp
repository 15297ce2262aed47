// The freedesktop trash of the POSIX file system, on real temporary trees:
// the home trash is a test folder (XDG_DATA_HOME), and other file systems
// are mounts in a private mount namespace: ramfs stands for a drive of the
// user's, tmpfs for a mount of the system's own.
#include "fs/file_system.h"
#include "fs/trash.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <functional>
#include <regex>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using qevra::fs::encodeTrashPath;
using qevra::fs::FileStamp;
using qevra::fs::realFileSystem;
using qevra::fs::Restoring;
using qevra::fs::TrashedFile;
using qevra::fs::Trashing;
using qevra::fs::TrashMove;
using qevra::testing::DataHome;
using qevra::testing::inMountNamespace;
using qevra::testing::namesIn;
using qevra::testing::readFile;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

bool exists(const std::string& path)
{
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

FileStamp seen(const std::string& path)
{
    return realFileSystem().measure(path);
}

TrashMove trash(const std::string& path)
{
    return realFileSystem().moveToTrash(path, seen(path), true);
}

#define EXPECT_CHILD_PASSES(status)                                                                \
    do {                                                                                           \
        const int childStatus = (status);                                                          \
        if (childStatus == qevra::testing::kChildSkipped)                                          \
            GTEST_SKIP() << "the kernel refuses a private mount namespace here";                   \
        EXPECT_EQ(childStatus, 0);                                                                 \
    } while (false)

// Mounts a fresh file system of the user's at `dir`: a ramfs, which the
// desktop counts as a drive like any other.
bool mountScratch(const std::string& dir)
{
    return ::mount("qevra-test", dir.c_str(), "ramfs", 0, "mode=0755") == 0;
}

} // namespace

TEST(Trash, MovesAFileIntoTheHomeTrashWithItsInfoAndBack)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    // A name that is no UTF-8, with a blank and a per cent sign, reached
    // through a spelling with "." and "..".
    const std::string file = tree.file("d/caf\xe9 50%.txt", "content");
    tree.dir("d/sub");
    const FileStamp before = seen(file);
    const TrashMove moved
        = realFileSystem().moveToTrash(tree.root() + "/d/./sub/../caf\xe9 50%.txt", before, true);
    ASSERT_EQ(moved.outcome, Trashing::Moved);
    EXPECT_FALSE(exists(file));

    const std::string trashDir = tree.path("data/Trash");
    EXPECT_EQ(moved.file.trash, trashDir);
    EXPECT_EQ(moved.file.name, "caf\xe9 50%.txt");
    EXPECT_EQ(qevra::fs::homeTrashPath(), trashDir);
    const std::string inTrash = trashDir + "/files/" + moved.file.name;
    EXPECT_EQ(readFile(inTrash), "content");
    EXPECT_TRUE(seen(inTrash).sameFile(before));
    struct stat st;
    ASSERT_EQ(::stat(trashDir.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0700u);
    const std::string info = readFile(trashDir + "/info/" + moved.file.name + ".trashinfo");
    EXPECT_TRUE(std::regex_match(info,
        std::regex("\\[Trash Info\\]\nPath=" + encodeTrashPath(tree.root())
            + "/d/caf%E9%2050%25\\.txt\nDeletionDate=\\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d\n")))
        << info;

    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Restored);
    EXPECT_EQ(readFile(file), "content");
    EXPECT_TRUE(seen(file).sameFile(before));
    EXPECT_TRUE(namesIn(trashDir + "/files").empty());
    EXPECT_TRUE(namesIn(trashDir + "/info").empty());
    // Once back, putting it back again finds it back.
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Restored);
    EXPECT_EQ(readFile(file), "content");
}

TEST(Trash, AFileAnotherProgramPutBackCountsAsPutBack)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    const std::string file = tree.file("d/a.txt", "content");
    const TrashMove moved = realFileSystem().moveToTrash(file, seen(file), true);
    ASSERT_EQ(moved.outcome, Trashing::Moved);
    // The desktop's own trash puts it back: renamed to its path, its info gone.
    const std::string inTrash = moved.file.trash + "/files/" + moved.file.name;
    ASSERT_EQ(::rename(inTrash.c_str(), file.c_str()), 0);
    ASSERT_EQ(::unlink((moved.file.trash + "/info/" + moved.file.name + ".trashinfo").c_str()), 0);
    FileStamp restored;
    restored.device = 1;
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, &restored), Restoring::Restored);
    // What it holds now is not known: it gets no stamp.
    EXPECT_FALSE(restored.known());
    EXPECT_EQ(readFile(file), "content");

    // Another file at its path is no file put back (even one that took its
    // inode number); nor the file itself in a folder made at the old
    // folder's path.
    ASSERT_EQ(::unlink(file.c_str()), 0);
    tree.file("d/a.txt", "other");
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Gone);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    tree.file("d/a.txt", "content");
    const TrashMove again = realFileSystem().moveToTrash(file, seen(file), true);
    ASSERT_EQ(again.outcome, Trashing::Moved);
    ASSERT_EQ(::rename(tree.path("d").c_str(), tree.path("old").c_str()), 0);
    tree.dir("d");
    ASSERT_EQ(::rename((again.file.trash + "/files/" + again.file.name).c_str(), file.c_str()), 0);
    EXPECT_EQ(realFileSystem().restoreFromTrash(again.file, nullptr), Restoring::Gone);
}

TEST(Trash, NamesInTheTrashNeverCollide)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    // Another program's entries: an info without its file, a file without
    // its info. Neither is touched.
    tree.file("data/Trash/info/x.txt.trashinfo", "theirs");
    tree.file("data/Trash/files/x.2.txt", "theirs too");
    const std::string a = tree.file("a/x.txt", "a");
    const std::string b = tree.file("b/x.txt", "b");
    const TrashMove first = trash(a);
    const TrashMove second = trash(b);
    ASSERT_EQ(first.outcome, Trashing::Moved);
    ASSERT_EQ(second.outcome, Trashing::Moved);
    EXPECT_EQ(first.file.name, "x.3.txt");
    EXPECT_EQ(second.file.name, "x.4.txt");
    EXPECT_EQ(readFile(tree.path("data/Trash/info/x.txt.trashinfo")), "theirs");
    EXPECT_EQ(readFile(tree.path("data/Trash/files/x.2.txt")), "theirs too");
    EXPECT_EQ(namesIn(tree.path("data/Trash/info")),
        (std::set<std::string> { "x.txt.trashinfo", "x.3.txt.trashinfo", "x.4.txt.trashinfo" }));

    // Each goes back to its own place, in any order.
    EXPECT_EQ(realFileSystem().restoreFromTrash(first.file, nullptr), Restoring::Restored);
    EXPECT_EQ(realFileSystem().restoreFromTrash(second.file, nullptr), Restoring::Restored);
    EXPECT_EQ(readFile(a), "a");
    EXPECT_EQ(readFile(b), "b");
    EXPECT_EQ(namesIn(tree.path("data/Trash/files")), std::set<std::string> { "x.2.txt" });

    // A name too long to take ".trashinfo" is shortened in the trash.
    const std::string longName(250, 'n');
    const std::string longFile = tree.file("d/" + longName, "long");
    const TrashMove shortened = trash(longFile);
    ASSERT_EQ(shortened.outcome, Trashing::Moved);
    EXPECT_LT(shortened.file.name.size() + 10, 256u);
    EXPECT_EQ(realFileSystem().restoreFromTrash(shortened.file, nullptr), Restoring::Restored);
    EXPECT_EQ(readFile(longFile), "long");
}

TEST(Trash, PutsBackOnlyToAFreePathReachedWithoutLinks)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    const std::string file = tree.file("d/x.txt", "trashed");
    const TrashMove moved = trash(file);
    ASSERT_EQ(moved.outcome, Trashing::Moved);
    const std::string info = tree.path("data/Trash/info/x.txt.trashinfo");

    // A new file at the path stays, and so does the trashed one.
    tree.file("d/x.txt", "new");
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::PathTaken);
    EXPECT_EQ(readFile(file), "new");
    EXPECT_EQ(readFile(tree.path("data/Trash/files/x.txt")), "trashed");
    EXPECT_TRUE(exists(info));

    ASSERT_EQ(::unlink(file.c_str()), 0);

    // The folder swapped for a link to another one: nothing goes there.
    ASSERT_EQ(::rename(tree.path("d").c_str(), tree.path("d.kept").c_str()), 0);
    tree.dir("elsewhere");
    tree.link("d", tree.path("elsewhere"));
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Failed);
    EXPECT_TRUE(namesIn(tree.path("elsewhere")).empty());
    ASSERT_EQ(::unlink(tree.path("d").c_str()), 0);
    ASSERT_EQ(::rename(tree.path("d.kept").c_str(), tree.path("d").c_str()), 0);

    // Another file put in the trash under its name is not taken for it.
    const std::string inTrash = tree.path("data/Trash/files/x.txt");
    ASSERT_EQ(::rename(inTrash.c_str(), tree.path("kept").c_str()), 0);
    tree.file("data/Trash/files/x.txt", "impostor");
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Gone);
    EXPECT_FALSE(exists(file));
    ASSERT_EQ(::rename(tree.path("kept").c_str(), inTrash.c_str()), 0);

    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Restored);
    EXPECT_EQ(readFile(file), "trashed");
    EXPECT_FALSE(exists(info));
}

TEST(Trash, MovesOnlyTheFileSeenAndLeavesNothingBehindOtherwise)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    const std::string file = tree.file("d/x.txt", "same");
    const FileStamp before = seen(file);
    auto& files = realFileSystem();

    tree.file("d/x.txt", "changed, longer");
    EXPECT_EQ(files.moveToTrash(file, before, true).outcome, Trashing::NotTheFileSeen);
    // By name the content does not matter, the identity does.
    EXPECT_EQ(files.moveToTrash(file, before, false).outcome, Trashing::Moved);
    const std::string other = tree.file("d/y.txt", "other");
    const FileStamp otherSeen = seen(other);
    // Kept aside, so that the new file cannot take its inode number.
    ASSERT_EQ(::rename(other.c_str(), tree.path("y.kept").c_str()), 0);
    tree.file("d/y.txt", "other");
    EXPECT_EQ(files.moveToTrash(other, otherSeen, false).outcome, Trashing::NotTheFileSeen);

    // A link put in the file's place, or in place of a folder on its way.
    const std::string target = tree.file("outside/z.txt", "precious");
    const FileStamp targetSeen = seen(target);
    tree.link("d/z.txt", target);
    EXPECT_EQ(files.moveToTrash(tree.path("d/z.txt"), targetSeen, true).outcome,
        Trashing::NotTheFileSeen);
    tree.link("via", tree.path("outside"));
    EXPECT_EQ(
        files.moveToTrash(tree.path("via/z.txt"), targetSeen, true).outcome, Trashing::Missing);
    EXPECT_EQ(readFile(target), "precious");
    EXPECT_EQ(files.moveToTrash(tree.path("d/none"), before, true).outcome, Trashing::Missing);

    // Only the one move left anything in the trash.
    EXPECT_EQ(namesIn(tree.path("data/Trash/files")), std::set<std::string> { "x.txt" });
    EXPECT_EQ(namesIn(tree.path("data/Trash/info")), std::set<std::string> { "x.txt.trashinfo" });
}

TEST(Trash, AFileOnAnotherFileSystemGoesToTheTrashAtItsTop)
{
    TempTree tree;
    const std::string scratch = tree.dir("mnt");
    const DataHome home(tree.path("data"));
    EXPECT_CHILD_PASSES(inMountNamespace([&] {
        CHECK_IN_CHILD(mountScratch(scratch));
        const std::string file = tree.file("mnt/sub/x.txt", "on the drive");
        const TrashMove moved = trash(file);
        CHECK_IN_CHILD(moved.outcome == Trashing::Moved);
        CHECK_IN_CHILD(!exists(file));
        // $top/.Trash-$uid, made for the user alone, names the file from $top.
        const std::string trashDir = scratch + "/.Trash-" + std::to_string(::getuid());
        CHECK_IN_CHILD(moved.file.trash == trashDir);
        struct stat st;
        CHECK_IN_CHILD(::lstat(trashDir.c_str(), &st) == 0 && S_ISDIR(st.st_mode));
        CHECK_IN_CHILD((st.st_mode & 0777) == 0700);
        CHECK_IN_CHILD(readFile(trashDir + "/files/x.txt") == "on the drive");
        const std::string info = readFile(trashDir + "/info/x.txt.trashinfo");
        CHECK_IN_CHILD(info.find("\nPath=sub/x.txt\n") != std::string::npos);
        // Nothing was copied to the home trash.
        CHECK_IN_CHILD(namesIn(tree.path("data/Trash/files")).empty());
        CHECK_IN_CHILD(
            realFileSystem().restoreFromTrash(moved.file, nullptr) == Restoring::Restored);
        CHECK_IN_CHILD(readFile(file) == "on the drive");
        CHECK_IN_CHILD(namesIn(trashDir + "/info").empty());

        // A read-only drive with no trash keeps its files: nothing is
        // copied elsewhere.
        for (const std::string& dir : { trashDir + "/files", trashDir + "/info", trashDir })
            CHECK_IN_CHILD(::rmdir(dir.c_str()) == 0);
        CHECK_IN_CHILD(
            ::mount(nullptr, scratch.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr) == 0);
        CHECK_IN_CHILD(trash(file).outcome == Trashing::NoTrash);
        CHECK_IN_CHILD(readFile(file) == "on the drive");
        CHECK_IN_CHILD(namesIn(tree.path("data/Trash/files")).empty());
        return 0;
    }));
}

TEST(Trash, ASharedTrashAtTheTopIsUsedOnlyWhenRealAndSticky)
{
    TempTree tree;
    const std::string scratch = tree.dir("mnt");
    const DataHome home(tree.path("data"));
    EXPECT_CHILD_PASSES(inMountNamespace([&] {
        CHECK_IN_CHILD(mountScratch(scratch));
        const std::string uid = std::to_string(::getuid());
        const std::string shared = scratch + "/.Trash";
        const std::string own = scratch + "/.Trash-" + uid;
        const auto trashOne = [&](const char* name) {
            const std::string file = scratch + "/" + name;
            ::close(::creat(file.c_str(), 0644));
            return trash(file);
        };

        // A sticky shared trash: the user's folder in it.
        CHECK_IN_CHILD(::mkdir(shared.c_str(), 01777) == 0 && ::chmod(shared.c_str(), 01777) == 0);
        const TrashMove inShared = trashOne("a");
        CHECK_IN_CHILD(inShared.outcome == Trashing::Moved);
        CHECK_IN_CHILD(inShared.file.trash == shared + "/" + uid);
        CHECK_IN_CHILD(exists(shared + "/" + uid + "/files/a"));

        // Without the sticky bit it is not used.
        CHECK_IN_CHILD(::chmod(shared.c_str(), 0777) == 0);
        const TrashMove notSticky = trashOne("b");
        CHECK_IN_CHILD(notSticky.outcome == Trashing::Moved);
        CHECK_IN_CHILD(notSticky.file.trash == own);

        // Nor when it is a link to a sticky folder.
        CHECK_IN_CHILD(::rename(shared.c_str(), (scratch + "/real").c_str()) == 0);
        CHECK_IN_CHILD(::chmod((scratch + "/real").c_str(), 01777) == 0);
        CHECK_IN_CHILD(::symlink((scratch + "/real").c_str(), shared.c_str()) == 0);
        const TrashMove linked = trashOne("c");
        CHECK_IN_CHILD(linked.outcome == Trashing::Moved);
        CHECK_IN_CHILD(linked.file.trash == own);
        CHECK_IN_CHILD(!exists(scratch + "/real/" + uid + "/files/c"));

        // The user's own trash a link: no trash at all, and the file stays.
        CHECK_IN_CHILD(::unlink(shared.c_str()) == 0);
        CHECK_IN_CHILD(::rename(own.c_str(), (scratch + "/own.kept").c_str()) == 0);
        CHECK_IN_CHILD(::symlink((scratch + "/own.kept").c_str(), own.c_str()) == 0);
        const TrashMove refused = trashOne("d");
        CHECK_IN_CHILD(refused.outcome == Trashing::NoTrash);
        CHECK_IN_CHILD(exists(scratch + "/d"));
        CHECK_IN_CHILD(!exists(scratch + "/own.kept/files/d"));

        // A home trash on this file system that is a link is not used
        // either, and no trash at the top stands in for it: the desktop
        // would never show that one.
        CHECK_IN_CHILD(::unlink(own.c_str()) == 0);
        ::setenv("XDG_DATA_HOME", (scratch + "/data").c_str(), 1);
        ::mkdir((scratch + "/data").c_str(), 0700);
        CHECK_IN_CHILD(
            ::symlink((scratch + "/real").c_str(), (scratch + "/data/Trash").c_str()) == 0);
        const TrashMove notHome = trashOne("e");
        CHECK_IN_CHILD(notHome.outcome == Trashing::NoTrash);
        CHECK_IN_CHILD(exists(scratch + "/e"));
        CHECK_IN_CHILD(!exists(scratch + "/real/files/e"));
        CHECK_IN_CHILD(!exists(own));
        return 0;
    }));
}

TEST(Trash, AFolderTheUserMayNotChangeKeepsItsFile)
{
    // A file in a folder the user cannot write: the rename is refused, and
    // the .trashinfo written first is taken back.
    TempTree tree;
    const std::string file = tree.file("locked/x.txt", "kept");
    const std::string data = tree.dir("data");
    ASSERT_EQ(::chown(data.c_str(), 65534, 65534), 0);
    const FileStamp before = seen(file);
    const int status = runUnprivileged([&] {
        ::setenv("XDG_DATA_HOME", data.c_str(), 1);
        const TrashMove refused = realFileSystem().moveToTrash(file, before, true);
        if (refused.outcome != Trashing::Failed)
            return 1;
        if (readFile(file) != "kept")
            return 2;
        if (!namesIn(data + "/Trash/info").empty() || !namesIn(data + "/Trash/files").empty())
            return 3;
        return 0;
    });
    EXPECT_EQ(status, 0);
    EXPECT_EQ(readFile(file), "kept");
}

TEST(Trash, NoTrashIsMadeOnAMountOfTheSystemsOwn)
{
    // The desktop lists no trash on tmpfs, on the system's mount points or
    // on a bind mount of a folder: a file there stays where it is.
    TempTree tree;
    const std::string scratch = tree.dir("mnt");
    const std::string bound = tree.dir("bound");
    const DataHome home(tree.path("data"));
    EXPECT_CHILD_PASSES(inMountNamespace([&] {
        const std::string uid = std::to_string(::getuid());
        CHECK_IN_CHILD(::mount("qevra-test", scratch.c_str(), "tmpfs", 0, "mode=0755") == 0);
        const std::string onTmpfs = tree.file("mnt/x.txt", "in memory");
        CHECK_IN_CHILD(trash(onTmpfs).outcome == Trashing::NoTrash);
        CHECK_IN_CHILD(readFile(onTmpfs) == "in memory");
        CHECK_IN_CHILD(namesIn(scratch) == std::set<std::string> { "x.txt" });
        CHECK_IN_CHILD(::umount2(scratch.c_str(), MNT_DETACH) == 0);

        // A drive of the user's takes it; a folder of it bound elsewhere
        // does not.
        CHECK_IN_CHILD(mountScratch(scratch));
        const std::string inner = tree.dir("mnt/inner");
        CHECK_IN_CHILD(::mount(inner.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) == 0);
        const std::string onBound = tree.file("bound/y.txt", "bound");
        CHECK_IN_CHILD(trash(onBound).outcome == Trashing::NoTrash);
        CHECK_IN_CHILD(readFile(onBound) == "bound");
        CHECK_IN_CHILD(!exists(bound + "/.Trash-" + uid));
        const std::string onDrive = tree.file("mnt/z.txt", "drive");
        CHECK_IN_CHILD(trash(onDrive).outcome == Trashing::Moved);

        // The same drive mounted where the system keeps its own mounts.
        if (::mount("qevra-test", "/mnt", "ramfs", 0, "mode=0755") == 0) {
            const std::string atMnt = "/mnt/w.txt";
            ::close(::creat(atMnt.c_str(), 0644));
            CHECK_IN_CHILD(trash(atMnt).outcome == Trashing::NoTrash);
            CHECK_IN_CHILD(exists(atMnt) && !exists("/mnt/.Trash-" + uid));
        }
        return 0;
    }));
}

TEST(Trash, AHomeTrashThatIsALinkSendsNothingElsewhere)
{
    // On the home trash's own file system there is no other trash to use:
    // one made at the top of it would be one the desktop never shows.
    TempTree tree;
    const DataHome home(tree.path("data"));
    tree.dir("data");
    const std::string elsewhere = tree.dir("elsewhere");
    tree.link("data/Trash", elsewhere);
    const std::string topTrash = "/.Trash-" + std::to_string(::getuid());
    const bool hadTopTrash = exists(topTrash);
    const std::string file = tree.file("d/x.txt", "stays");
    EXPECT_EQ(trash(file).outcome, Trashing::NoTrash);
    EXPECT_EQ(readFile(file), "stays");
    EXPECT_TRUE(namesIn(elsewhere).empty());
    EXPECT_EQ(exists(topTrash), hadTopTrash);
}

TEST(Trash, AnyNameThatCanExistCanBeTrashed)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    const std::vector<std::string> names = {
        std::string(251, '\x80') + ".txt", // no UTF-8 character ever begins
        std::string(255, '\xbf'),
        "\xd0\xb4" + std::string(249, 'n') + ".jpg", // a two-byte letter first
        std::string(240, 'a') + "\xd1\x8f\xd1\x8f\xd1\x8f" + std::string(9, 'b'),
        std::string(200, 'x') + "." + std::string(54, 'e'), // a long extension
    };
    for (const std::string& name : names) {
        SCOPED_TRACE(::testing::Message() << name.size() << "-byte name");
        const std::string file = tree.file("d/" + name, "kept");
        const TrashMove moved = trash(file);
        ASSERT_EQ(moved.outcome, Trashing::Moved);
        EXPECT_LE(moved.file.name.size() + 10, 255u);
        EXPECT_FALSE(moved.file.name.empty());
        EXPECT_EQ(readFile(tree.path("data/Trash/files/" + moved.file.name)), "kept");
        // A second file of that name in the trash gets another name.
        const std::string again = tree.file("d/" + name, "again");
        const TrashMove second = trash(again);
        ASSERT_EQ(second.outcome, Trashing::Moved);
        EXPECT_NE(second.file.name, moved.file.name);
        EXPECT_LE(second.file.name.size() + 10, 255u);
        EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, nullptr), Restoring::Restored);
        EXPECT_EQ(readFile(file), "kept");
        ASSERT_EQ(::unlink(file.c_str()), 0);
        EXPECT_EQ(realFileSystem().restoreFromTrash(second.file, nullptr), Restoring::Restored);
        EXPECT_EQ(readFile(file), "again");
        ASSERT_EQ(::unlink(file.c_str()), 0);
    }
    // A short extension is kept when a name is shortened.
    const TrashMove shortened = trash(tree.file("d/" + std::string(250, 'p') + ".jpg", "p"));
    ASSERT_EQ(shortened.outcome, Trashing::Moved);
    EXPECT_TRUE(shortened.file.name.ends_with(".jpg"));
}

TEST(Trash, UndoPutsBackOnlyIntoTheFolderTheFileCameFrom)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    const std::string file = tree.file("d/x.txt", "trashed");
    const TrashMove moved = trash(file);
    ASSERT_EQ(moved.outcome, Trashing::Moved);
    const std::string inTrash = tree.path("data/Trash/files/x.txt");

    // The folder removed and made again: another folder, whoever made it.
    ASSERT_EQ(::rmdir(tree.path("d").c_str()), 0);
    tree.dir("d");
    FileStamp restored;
    EXPECT_EQ(realFileSystem().restoreFromTrash(moved.file, &restored), Restoring::FolderReplaced);
    EXPECT_FALSE(restored.known());
    EXPECT_FALSE(exists(file));
    EXPECT_EQ(readFile(inTrash), "trashed");
    EXPECT_TRUE(exists(tree.path("data/Trash/info/x.txt.trashinfo")));

    // Into its own folder it goes, and the stamp it has there is told: the
    // file as the move left it, renamed back.
    const std::string again = tree.file("d/y.txt", "trashed too");
    const TrashMove second = trash(again);
    ASSERT_EQ(second.outcome, Trashing::Moved);
    EXPECT_EQ(realFileSystem().restoreFromTrash(second.file, &restored), Restoring::Restored);
    ASSERT_TRUE(restored.known());
    EXPECT_EQ(restored, realFileSystem().measure(again));
    EXPECT_TRUE(restored.sameFile(second.file.stamp));

    // A file written to while in the trash comes back, but its stamp is
    // not vouched for.
    const TrashMove third = trash(again);
    ASSERT_EQ(third.outcome, Trashing::Moved);
    tree.file("data/Trash/files/y.txt", "written in the trash");
    EXPECT_EQ(realFileSystem().restoreFromTrash(third.file, &restored), Restoring::Restored);
    EXPECT_FALSE(restored.known());
}

TEST(Trash, FilesInsideATrashAreKnownAsSuch)
{
    TempTree tree;
    const DataHome home(tree.path("data"));
    auto& files = realFileSystem();
    const std::string live = tree.file("live/x.txt", "x");
    const std::string inHome = tree.file("data/Trash/files/x.txt", "x");
    const std::string deeper = tree.file("data/Trash/files/folder/sub/x.txt", "x");
    // Another user's home trash of the default name.
    const std::string theirs = tree.file("home/u/.local/share/Trash/files/x.txt", "x");
    EXPECT_FALSE(files.inTrash(live));
    EXPECT_TRUE(files.inTrash(inHome));
    EXPECT_TRUE(files.inTrash(deeper));
    EXPECT_TRUE(files.inTrash(tree.root() + "/./data//Trash/files/x.txt"));
    EXPECT_TRUE(files.inTrash(theirs));
    // The trash's info/ and a folder merely called files are not.
    EXPECT_FALSE(files.inTrash(tree.file("data/Trash/info/x.txt.trashinfo", "")));
    EXPECT_FALSE(files.inTrash(tree.file("project/files/x.txt", "x")));
    // Not at the top of a file system: a folder like any other.
    EXPECT_FALSE(files.inTrash(tree.file("copy/.Trash-0/files/x.txt", "x")));

    // The home trash reached under another spelling: a link above it.
    tree.link("alias", tree.path("data"));
    EXPECT_TRUE(files.inTrash(tree.path("alias/Trash/files/x.txt")));

    // Trashes at the top of a file system, of any user.
    const std::string scratch = tree.dir("mnt");
    EXPECT_CHILD_PASSES(inMountNamespace([&] {
        CHECK_IN_CHILD(mountScratch(scratch));
        CHECK_IN_CHILD(files.inTrash(tree.file("mnt/.Trash-1000/files/x.txt", "x")));
        CHECK_IN_CHILD(files.inTrash(tree.file("mnt/.Trash/0/files/d/x.txt", "x")));
        CHECK_IN_CHILD(!files.inTrash(tree.file("mnt/.Trash/0/info/x.txt", "x")));
        CHECK_IN_CHILD(!files.inTrash(tree.file("mnt/d/.Trash-0/files/x.txt", "x")));
        CHECK_IN_CHILD(!files.inTrash(tree.file("mnt/.Trash-x/files/x.txt", "x")));
        // What a move to the trash there made is inside it.
        const TrashMove moved = trash(tree.file("mnt/e.txt", "e"));
        CHECK_IN_CHILD(moved.outcome == Trashing::Moved);
        CHECK_IN_CHILD(files.inTrash(moved.file.trash + "/files/" + moved.file.name));
        return 0;
    }));
}
