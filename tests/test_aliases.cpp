// One file seen through two file systems: an overlay's merged view and its
// lower folder, and a FUSE pass-through of a local folder, both in a private
// mount namespace of a child process. The view shows each file under a
// device number of its own with the file's own inode number; the search
// never pairs a file with its view, under any criterion, and no deletion
// takes the one for a copy of the other. Real copies still pair.
#include "fs/file_system.h"
#include "search/collector.h"
#include "search/content_stage.h"
#include "search/deletion.h"
#include "search/pairing.h"
#include "support/pass_through.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qevra;
using qevra::testing::TempTree;

namespace {

constexpr int kSkip = qevra::testing::kChildSkipped;

// Runs `work` in a child process of its own mount namespace, with a fresh
// tmpfs at `base`; kSkip when the kernel refuses either.
int inPrivateMounts(const std::string& base, const std::function<int()>& work)
{
    return qevra::testing::inMountNamespace([&] {
        if (::mount("qevra-test", base.c_str(), "tmpfs", 0, "mode=0755") != 0)
            return kSkip;
        return work();
    });
}

void writeFile(const std::string& path, const std::string& content)
{
    std::FILE* out = std::fopen(path.c_str(), "wb");
    ASSERT_TRUE(out) << path;
    std::fwrite(content.data(), 1, content.size(), out);
    std::fclose(out);
}

// The files of a scene, made in `dir` before any view of it is mounted: a
// file, a real copy of it (another file with the same bytes and name), and
// a file of its own.
void makeFiles(const std::string& dir)
{
    for (const char* sub : { "/one", "/copy", "/other" })
        ::mkdir((dir + sub).c_str(), 0755);
    writeFile(dir + "/one/x.txt", "the same bytes");
    writeFile(dir + "/copy/x.txt", "the same bytes");
    writeFile(dir + "/other/y.txt", "other bytes!!!");
}

using Pair = std::pair<std::string, std::string>;

std::set<Pair> pairsOf(const search::PathList& candidates, const search::PairGroups& rows)
{
    std::set<Pair> pairs;
    for (const search::Row& row : rows.listed())
        pairs.insert(
            std::minmax(std::string(candidates[row.first]), std::string(candidates[row.second])));
    return pairs;
}

// Searches `plain` and `view` (which shows the files of `plain`) under the
// three criteria and checks the deletion rules; 0 when all hold.
int checkScene(const std::string& plain, const std::string& view)
{
    fs::FileSystem& files = fs::realFileSystem();
    search::PathList candidates;
    search::FileLister lister;
    search::Collector collector(files, lister);
    const std::vector<search::WildcardMatcher> masks = { search::WildcardMatcher("*.txt") };
    search::ProgressFunction goOn({});
    for (const std::string& root : { plain, view })
        collector.collect(root, masks, candidates, goOn);
    CHECK_IN_CHILD(candidates.size() == 6);

    // The view's files lie where one file can show twice; the plain ones
    // do not.
    search::StampList stamps;
    for (std::size_t i = 0; i < candidates.size(); ++i)
        stamps.push_back(files.measure(std::string(candidates[i])));
    for (std::size_t i = 0; i < candidates.size(); ++i) {
        const bool inView = candidates[i].starts_with(view);
        CHECK_IN_CHILD(stamps[i].aliased == inView);
    }

    // The file and its real copy pair, across the two roots too; a file
    // never pairs with its own view.
    const std::string one = "/one/x.txt";
    const std::string copy = "/copy/x.txt";
    const std::set<Pair> expected = {
        std::minmax(plain + one, plain + copy),
        std::minmax(plain + one, view + copy),
        std::minmax(view + one, plain + copy),
        std::minmax(view + one, view + copy),
    };
    search::PairGroups rows;
    search::StampList named;
    CHECK_IN_CHILD(search::pairByName(candidates, search::identifyWith(files), rows, named));
    CHECK_IN_CHILD(pairsOf(candidates, rows) == expected);
    CHECK_IN_CHILD(rows.rows() == 2 * expected.size());

    search::KeyPairer pairer;
    for (std::uint32_t i = 0; i < candidates.size(); ++i)
        pairer.add(i, std::uint64_t(stamps[i].size));
    rows = pairer.pairs(candidates, stamps);
    // By size the other file pairs too, with every file but its own view.
    std::set<Pair> bySize = expected;
    for (const std::string& root : { plain, view }) {
        for (const std::string& file : { one, copy })
            bySize.insert(
                std::minmax(root + file, (root == plain ? view : plain) + "/other/y.txt"));
        bySize.insert(std::minmax(root + one, root + "/other/y.txt"));
        bySize.insert(std::minmax(root + copy, root + "/other/y.txt"));
    }
    CHECK_IN_CHILD(pairsOf(candidates, rows) == bySize);

    const auto byContent = search::pairByContent(files, candidates, stamps, goOn);
    CHECK_IN_CHILD(byContent && pairsOf(candidates, *byContent) == expected);

    // A deletion whose partner is the file's own view is refused, both
    // ways and under every criterion; a real copy through the view is a
    // copy.
    const auto indexOf = [&](const std::string& path) {
        for (std::uint32_t i = 0; i < candidates.size(); ++i) {
            if (candidates[i] == path)
                return i;
        }
        return std::uint32_t(0);
    };
    const auto partner
        = [&](Criterion criterion, const std::string& file, const std::string& other) {
              return search::checkPartner(
                  files, criterion, file, stamps[indexOf(file)], other, stamps[indexOf(other)]);
          };
    for (const Criterion criterion : { Criterion::Name, Criterion::Size, Criterion::Content }) {
        CHECK_IN_CHILD(partner(criterion, plain + one, view + one) == search::Partner::SameFile);
        CHECK_IN_CHILD(partner(criterion, view + one, plain + one) == search::Partner::SameFile);
        CHECK_IN_CHILD(partner(criterion, plain + one, view + copy) == search::Partner::Distinct);
        CHECK_IN_CHILD(
            search::refusalFor(search::Partner::SameFile, criterion) == search::Refusal::SameFile);
    }
    // By name a file may change after the search; its view changes with it
    // and is still no copy.
    writeFile(plain + one, "longer bytes than before");
    CHECK_IN_CHILD(partner(Criterion::Name, plain + one, view + one) == search::Partner::SameFile);
    CHECK_IN_CHILD(partner(Criterion::Name, view + one, plain + one) == search::Partner::SameFile);
    return 0;
}

#define EXPECT_SCENE_PASSES(status, what)                                                          \
    do {                                                                                           \
        const int sceneStatus = (status);                                                          \
        if (sceneStatus == kSkip)                                                                  \
            GTEST_SKIP() << "the kernel refuses " << what << " here";                              \
        EXPECT_EQ(sceneStatus, 0);                                                                 \
    } while (false)

} // namespace

TEST(Aliases, AnOverlayAndItsLowerFolderShowOneFileOnce)
{
    TempTree tree;
    const std::string base = tree.dir("base");
    EXPECT_SCENE_PASSES(
        inPrivateMounts(base,
            [&] {
                const std::string lower = base + "/lower";
                const std::string merged = base + "/merged";
                for (const std::string& dir : { lower, base + "/upper", base + "/work", merged })
                    ::mkdir(dir.c_str(), 0755);
                makeFiles(lower);
                const std::string options = "lowerdir=" + lower + ",upperdir=" + base
                    + "/upper,workdir=" + base + "/work";
                if (::mount("overlay", merged.c_str(), "overlay", 0, options.c_str()) != 0)
                    return kSkip;
                return checkScene(lower, merged);
            }),
        "an overlay mount");
}

#ifdef QEVRA_FUSE_PASSTHROUGH

TEST(Aliases, AFusePassThroughOfALocalFolderShowsOneFileOnce)
{
    if (::access("/dev/fuse", R_OK | W_OK) != 0)
        GTEST_SKIP() << "no /dev/fuse here";
    TempTree tree;
    const std::string base = tree.dir("base");
    EXPECT_SCENE_PASSES(inPrivateMounts(base,
                            [&] {
                                const std::string source = base + "/source";
                                const std::string view = base + "/view";
                                ::mkdir(source.c_str(), 0755);
                                ::mkdir(view.c_str(), 0755);
                                makeFiles(source);
                                const qevra::testing::PassThrough passThrough(
                                    QEVRA_FUSE_PASSTHROUGH, source, view);
                                if (!passThrough.mounted())
                                    return kSkip;
                                return checkScene(source, view);
                            }),
        "a FUSE mount");
}

#else

TEST(Aliases, AFusePassThroughOfALocalFolderShowsOneFileOnce)
{
    GTEST_SKIP() << "built without libfuse3: no pass-through file system to mount";
}

#endif
