// The file collection engine: masks, name matching and the order in which
// a tree's files are collected, on real temporary trees.
#include "fs/file_system.h"
#include "search/collector.h"
#include "search/masks.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace qevra::search;
using qevra::fs::realFileSystem;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

std::vector<WildcardMatcher> matchersFor(const QString& extensionText)
{
    std::vector<WildcardMatcher> out;
    for (const QString& mask : masksFor(extensionText))
        out.emplace_back(mask);
    return out;
}

std::vector<std::string> collect(const std::vector<std::string>& roots, const QString& extension)
{
    FileLister lister;
    Collector collector(realFileSystem(), lister);
    PathList out;
    const auto masks = matchersFor(extension);
    ProgressFunction goOn({});
    for (const std::string& root : roots)
        EXPECT_EQ(collector.collect(root, masks, out, goOn), CollectOutcome::Completed);
    return out.toVector();
}

// The sub-directories of `dir` in the order the file system lists them.
std::vector<std::string> subdirsInListingOrder(const std::string& dir)
{
    qevra::fs::DirListing listing;
    realFileSystem().readDirectory(dir, listing);
    std::vector<std::string> out;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        const auto name = listing.name(i);
        if (listing.type(i) == qevra::fs::EntryType::Directory && name != "." && name != "..")
            out.emplace_back(name);
    }
    return out;
}

} // namespace

TEST(Masks, GroupsExpandAndAnyOtherTextIsOneExtension)
{
    EXPECT_EQ(masksFor(QStringLiteral("Графика (jpg,jpeg,bmp,gif)")),
        (std::vector<QString> { "*.jpg", "*.jpeg", "*.bmp", "*.gif" }));
    EXPECT_EQ(masksFor(QStringLiteral("Видео (avi,mpeg,mpg)")),
        (std::vector<QString> { "*.avi", "*.mpeg", "*.mpg" }));
    EXPECT_EQ(masksFor("txt"), std::vector<QString> { "*.txt" });
    // A group typed in another letter case is a plain extension.
    EXPECT_EQ(masksFor(QStringLiteral("графика (jpg,jpeg,bmp,gif)")),
        std::vector<QString> { QStringLiteral("*.графика (jpg,jpeg,bmp,gif)") });
}

TEST(Masks, WildcardMatchingIgnoresCaseAndHonoursStarAndQuestionMark)
{
    const WildcardMatcher txt("*.txt");
    EXPECT_TRUE(txt.matches("a.txt"));
    EXPECT_TRUE(txt.matches("A.TXT"));
    EXPECT_TRUE(txt.matches(".txt"));
    EXPECT_TRUE(txt.matches("x.y.Txt"));
    EXPECT_FALSE(txt.matches("a.txt.bak"));
    EXPECT_FALSE(txt.matches("atxt"));
    EXPECT_FALSE(txt.matches("a.htm"));

    const WildcardMatcher question("*.t?t");
    EXPECT_TRUE(question.matches("a.tXt"));
    EXPECT_TRUE(question.matches("a.t\xd1\x8ft")); // one two-byte character
    EXPECT_FALSE(question.matches("a.tt"));
    EXPECT_FALSE(question.matches("a.txxt"));

    const WildcardMatcher star("*.*");
    EXPECT_TRUE(star.matches("a.b"));
    EXPECT_TRUE(star.matches("a."));
    EXPECT_FALSE(star.matches("noextension"));

    // ";", "[" and "\\" are ordinary characters.
    EXPECT_TRUE(WildcardMatcher("*.a;b").matches("x.a;b"));
    EXPECT_FALSE(WildcardMatcher("*.a;b").matches("x.a"));
    EXPECT_TRUE(WildcardMatcher("*.[ab]").matches("x.[AB]"));
    EXPECT_FALSE(WildcardMatcher("*.[ab]").matches("x.a"));

    // Letter case is ignored beyond ASCII too.
    EXPECT_TRUE(WildcardMatcher(QStringLiteral("*.ТЕКСТ")).matches("файл.текст"));
    // A name that is not UTF-8 still matches by its valid part.
    EXPECT_TRUE(txt.matches("caf\xe9.txt"));
    EXPECT_TRUE(WildcardMatcher("*.?").matches("a.\xff"));
    EXPECT_FALSE(WildcardMatcher("*.?").matches("a.\xff\xfe"));
}

TEST(Collection, FilesComeFirstMaskByMaskSortedThenSubtreesDepthFirst)
{
    TempTree tree;
    tree.file("b.gif");
    tree.file("A.jpg");
    tree.file("c.JPG");
    tree.file("b.jpeg");
    tree.file("a.bmp");
    tree.file("B.jpg");
    tree.file("notes.txt");
    tree.file("x/deep/one.jpg");
    tree.file("x/two.jpg");
    tree.file("y/three.gif");
    tree.file("z/.hidden/four.bmp");

    const auto got = collect({ tree.root() }, QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));

    std::vector<std::string> expected = {
        tree.path("A.jpg"),
        tree.path("B.jpg"),
        tree.path("c.JPG"),
        tree.path("b.jpeg"),
        tree.path("a.bmp"),
        tree.path("b.gif"),
    };
    for (const std::string& sub : subdirsInListingOrder(tree.root())) {
        if (sub == "x") {
            expected.push_back(tree.path("x/two.jpg"));
            expected.push_back(tree.path("x/deep/one.jpg"));
        } else if (sub == "y") {
            expected.push_back(tree.path("y/three.gif"));
        } else if (sub == "z") {
            expected.push_back(tree.path("z/.hidden/four.bmp"));
        }
    }
    EXPECT_EQ(got, expected);
}

TEST(Collection, SortingIgnoresCaseAndBreaksTiesByBytes)
{
    TempTree tree;
    tree.file("B.txt");
    tree.file("a.txt");
    tree.file("b.TXT");
    tree.file("C.txt");
    tree.file("\xd0\x91.txt"); // Cyrillic capital Be
    tree.file("\xd0\xb0.txt"); // Cyrillic small a
    EXPECT_EQ(collect({ tree.root() }, "txt"),
        (std::vector<std::string> { tree.path("a.txt"), tree.path("B.txt"), tree.path("b.TXT"),
            tree.path("C.txt"), tree.path("\xd0\xb0.txt"), tree.path("\xd0\x91.txt") }));
}

TEST(Collection, HiddenFilesAndLinksAreLeftOutHiddenDirectoriesSearched)
{
    TempTree tree;
    tree.file(".secret.txt");
    tree.file("shown.txt");
    tree.file(".config/inner.txt");
    tree.file("real/target.txt");
    tree.link("link.txt", tree.path("shown.txt"));
    tree.link("linkdir", tree.path("real"));
    tree.link("real/loop", tree.root()); // a link back to an ancestor
    tree.link("dangling.txt", tree.path("gone.txt"));

    auto got = collect({ tree.root() }, "txt");
    std::sort(got.begin(), got.end());
    EXPECT_EQ(got,
        (std::vector<std::string> { tree.path(".config/inner.txt"), tree.path("real/target.txt"),
            tree.path("shown.txt") }));
}

TEST(Collection, RootsAreJoinedWithoutDoubledSeparators)
{
    TempTree tree;
    tree.file("d/f.txt");
    EXPECT_EQ(
        collect({ tree.path("d/") }, "txt"), std::vector<std::string> { tree.path("d/f.txt") });
    EXPECT_EQ(
        collect({ tree.path("d") }, "txt"), std::vector<std::string> { tree.path("d/f.txt") });
}

TEST(Collection, SameRootTwiceIsCollectedTwice)
{
    TempTree tree;
    tree.file("one.txt");
    tree.file("sub/two.txt");
    EXPECT_EQ(collect({ tree.root(), tree.path("sub"), tree.root() }, "txt"),
        (std::vector<std::string> { tree.path("one.txt"), tree.path("sub/two.txt"),
            tree.path("sub/two.txt"), tree.path("one.txt"), tree.path("sub/two.txt") }));
}

TEST(Collection, NamesThatAreNotUtf8AreKeptByteExact)
{
    TempTree tree;
    const std::string odd = tree.file("caf\xe9/na\xefve.txt");
    EXPECT_EQ(collect({ tree.root() }, "txt"), std::vector<std::string> { odd });
}

TEST(Collection, UnreadableDirectoryContributesNothingAndTheRestGoesOn)
{
    TempTree tree;
    tree.file("open/a.txt");
    tree.file("closed/b.txt");
    tree.file("closed/inner/c.txt");
    tree.file("z.txt");
    ::chmod(tree.path("closed").c_str(), 0);
    const std::string root = tree.root();
    const int status = runUnprivileged([&] {
        const auto got = collect({ root }, "txt");
        std::vector<std::string> sorted = got;
        std::sort(sorted.begin(), sorted.end());
        return sorted == std::vector<std::string> { root + "/open/a.txt", root + "/z.txt" } ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
    // A missing root contributes nothing either.
    EXPECT_TRUE(collect({ tree.path("missing") }, "txt").empty());
}

TEST(Collection, VeryDeepTreeDoesNotCrash)
{
    TempTree tree;
    // 3000 levels: deeper than a path can name, so the deepest levels
    // cannot be read; everything a path reaches is collected.
    ASSERT_EQ(::chdir(tree.root().c_str()), 0);
    for (int level = 0; level < 3000; ++level) {
        ASSERT_EQ(::mkdir("d", 0755), 0);
        ASSERT_EQ(::chdir("d"), 0);
        if (level % 500 == 0) {
            const int fd = ::open("f.txt", O_CREAT | O_WRONLY, 0644);
            ASSERT_GE(fd, 0);
            ::close(fd);
        }
    }
    ASSERT_EQ(::chdir("/"), 0);
    const auto got = collect({ tree.root() }, "txt");
    EXPECT_GE(got.size(), 4u);
    EXPECT_LE(got.size(), 6u);
}

TEST(Collection, StopEndsTheCollectionAtTheNextDirectory)
{
    TempTree tree;
    tree.file("a.txt");
    tree.file("s1/b.txt");
    tree.file("s1/s2/c.txt");
    FileLister lister;
    Collector collector(realFileSystem(), lister);
    PathList out;
    int directories = 0;
    const auto masks = matchersFor("txt");
    // Stop when the third directory is entered: the files of the first two stay.
    ProgressFunction stopAtThird([&](Phase phase, std::uint64_t entered, std::uint64_t) {
        EXPECT_EQ(phase, Phase::Collecting);
        EXPECT_EQ(entered, std::uint64_t(directories));
        return ++directories < 3;
    });
    const auto outcome = collector.collect(tree.root(), masks, out, stopAtThird);
    EXPECT_EQ(outcome, CollectOutcome::Stopped);
    EXPECT_EQ(directories, 3);
    EXPECT_EQ(
        out.toVector(), (std::vector<std::string> { tree.path("a.txt"), tree.path("s1/b.txt") }));
}

TEST(PathList, KeepsEntriesExactAcrossAppendsAndRemovals)
{
    PathList list;
    list.append("/a");
    list.append("/dir", "/", "b");
    list.append(std::string("\0x", 2));
    list.append("");
    ASSERT_EQ(list.size(), 4u);
    EXPECT_EQ(list[1], "/dir/b");
    EXPECT_EQ(list[2], std::string("\0x", 2));
    list.removeAt(1);
    EXPECT_EQ(list.toVector(), (std::vector<std::string> { "/a", std::string("\0x", 2), "" }));
    list.removeAt(0);
    EXPECT_EQ(list[0], std::string("\0x", 2));
    list.clear();
    EXPECT_TRUE(list.empty());
}
