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
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <csignal>
#include <cstdio>
#include <functional>
#include <sched.h>
#include <set>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qevra;
using qevra::testing::TempTree;

namespace {

constexpr int kSkip = 77;

#define CHECK_IN_CHILD(condition)                                                                  \
    do {                                                                                           \
        if (!(condition)) {                                                                        \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition);     \
            return 1;                                                                              \
        }                                                                                          \
    } while (false)

// Runs `work` in a child process of its own mount namespace, with a fresh
// tmpfs at `base`; kSkip when the kernel refuses either.
int inPrivateMounts(const std::string& base, const std::function<int()>& work)
{
    const pid_t pid = ::fork();
    if (pid < 0)
        return -1;
    if (pid == 0) {
        if (::unshare(CLONE_NEWNS) != 0
            || ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0
            || ::mount("qevra-test", base.c_str(), "tmpfs", 0, "mode=0755") != 0)
            ::_exit(kSkip);
        ::_exit(work());
    }
    return qevra::testing::waitFor(pid);
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

std::set<Pair> pairsOf(const search::PathList& candidates, const std::vector<search::Row>& rows)
{
    std::set<Pair> pairs;
    for (const search::Row& row : rows)
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
    std::vector<search::Row> rows;
    search::StampList named;
    search::pairByName(candidates, search::identifyWith(files), rows, named);
    CHECK_IN_CHILD(pairsOf(candidates, rows) == expected);
    CHECK_IN_CHILD(rows.size() == 2 * expected.size());

    rows.clear();
    search::KeyPairer pairer;
    for (std::uint32_t i = 0; i < candidates.size(); ++i)
        pairer.add(i, std::uint64_t(stamps[i].size), candidates, stamps, rows);
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

namespace {

// Mounts the pass-through file system of `source` at `mountPoint` for the
// life of the object; `mounted()` tells whether that worked.
class PassThrough {
public:
    PassThrough(const std::string& source, const std::string& mountPoint)
    {
        int out[2];
        if (::pipe(out) != 0)
            return;
        posix_spawn_file_actions_t actions;
        posix_spawn_file_actions_init(&actions);
        posix_spawn_file_actions_adddup2(&actions, out[1], STDOUT_FILENO);
        posix_spawn_file_actions_addclose(&actions, out[0]);
        const std::string program = QEVRA_FUSE_PASSTHROUGH;
        char* argv[] = { const_cast<char*>(program.c_str()), const_cast<char*>(source.c_str()),
            const_cast<char*>(mountPoint.c_str()), nullptr };
        const bool started
            = ::posix_spawn(&pid_, program.c_str(), &actions, nullptr, argv, environ) == 0;
        posix_spawn_file_actions_destroy(&actions);
        ::close(out[1]);
        if (!started) {
            pid_ = -1;
            ::close(out[0]);
            return;
        }
        // It says "mounted" once the mount is there, or ends.
        std::string said;
        char buffer[64];
        ssize_t got = 0;
        while (said.find('\n') == std::string::npos
            && (got = ::read(out[0], buffer, sizeof buffer)) > 0)
            said.append(buffer, std::size_t(got));
        ::close(out[0]);
        mounted_ = said.starts_with("mounted");
    }
    ~PassThrough()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            qevra::testing::waitFor(pid_);
        }
    }
    PassThrough(const PassThrough&) = delete;
    PassThrough& operator=(const PassThrough&) = delete;

    bool mounted() const { return mounted_; }

private:
    pid_t pid_ = -1;
    bool mounted_ = false;
};

} // namespace

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
                                const PassThrough passThrough(source, view);
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
