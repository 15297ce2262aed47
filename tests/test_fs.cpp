// The POSIX file-system services, on real temporary trees.
#include "fs/file_system.h"
#include "platform/exceptions.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using qevra::EInOutError;
using qevra::fs::DirListing;
using qevra::fs::EntryType;
using qevra::fs::realFileSystem;
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
    EXPECT_EQ(realFileSystem().measure(tree.file("empty")), 0);
    EXPECT_EQ(realFileSystem().measure(tree.file("five", "12345")), 5);

    // A sparse file past 4 GiB: its size must not wrap to 32 bits.
    const std::string big = tree.file("big");
    ASSERT_EQ(::truncate(big.c_str(), (5LL << 30) + 7), 0);
    EXPECT_EQ(realFileSystem().measure(big), (5LL << 30) + 7);

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

TEST(FileSystem, ReadStreamReadsFromTheStart)
{
    TempTree tree;
    const std::string path = tree.file("data", "abcdef");
    auto stream = realFileSystem().openRead(path);
    ASSERT_TRUE(stream);
    EXPECT_EQ(stream->size(), 6);
    char buffer[16] = {};
    EXPECT_EQ(stream->read(buffer, 4), 4);
    EXPECT_EQ(std::string(buffer, 4), "abcd");
    EXPECT_EQ(stream->read(buffer, 16), 2);
    EXPECT_EQ(stream->read(buffer, 16), 0);
    EXPECT_FALSE(realFileSystem().openRead(tree.path("missing")));
}

TEST(FileSystem, ReadOnlyAttributeFollowsTheOwnerWriteBit)
{
    TempTree tree;
    const std::string path = tree.file("f", "x");
    auto& fs = realFileSystem();
    std::uint32_t attributes = 99;
    ASSERT_TRUE(fs.readAttributes(path, attributes));
    EXPECT_EQ(attributes, 0u);

    ::chmod(path.c_str(), 0444);
    ASSERT_TRUE(fs.readAttributes(path, attributes));
    EXPECT_EQ(attributes, qevra::fs::kReadOnlyAttribute);

    ASSERT_TRUE(fs.writeAttributes(path, attributes - qevra::fs::kReadOnlyAttribute));
    struct stat st;
    ASSERT_EQ(::stat(path.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0644u); // only the owner's write bit came back

    EXPECT_FALSE(fs.readAttributes(tree.path("missing"), attributes));
    EXPECT_FALSE(fs.writeAttributes(tree.path("missing"), 0));
}

TEST(FileSystem, DeleteRemovesFilesOnly)
{
    TempTree tree;
    const std::string file = tree.file("f", "x");
    const std::string dir = tree.dir("d");
    auto& fs = realFileSystem();
    EXPECT_TRUE(fs.deleteFile(file));
    EXPECT_FALSE(fs.fileExists(file));
    EXPECT_FALSE(fs.deleteFile(file));
    EXPECT_FALSE(fs.deleteFile(dir));
    EXPECT_TRUE(fs.directoryExists(dir));
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
