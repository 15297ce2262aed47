// Pairing by name and by size, the comparison of two files and the content
// stage, on real temporary trees and a watched file system.
#include "fs/file_system.h"
#include "search/content_stage.h"
#include "search/pairing.h"
#include "search/path_list.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <map>
#include <mutex>
#include <random>
#include <set>
#include <stdexcept>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qevra::search;
using qevra::fs::ReadStream;
using qevra::fs::realFileSystem;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

PathList listOf(const std::vector<std::string>& paths)
{
    PathList list;
    for (const std::string& path : paths)
        list.append(path);
    return list;
}

std::vector<Row> byName(const PathList& candidates)
{
    PairGroups pairs;
    StampList stamps;
    EXPECT_TRUE(pairByName(candidates, {}, pairs, stamps));
    return pairs.listed();
}

// Name pairing of real files, each identified without following a final
// link; the stamps it took go to `stamps`.
std::vector<Row> byNameOfFiles(const PathList& candidates, StampList& stamps, unsigned threads = 0)
{
    PairGroups pairs;
    EXPECT_TRUE(pairByName(
        candidates, qevra::search::identifyWith(realFileSystem()), pairs, stamps, {}, threads));
    return pairs.listed();
}

// Name pairing as it is defined, pair by pair.
std::vector<Row> byNameOneByOne(const PathList& candidates)
{
    std::vector<Row> rows;
    for (std::uint32_t i = 0; i < candidates.size(); ++i) {
        for (std::uint32_t j = 0; j < candidates.size(); ++j) {
            if (qevra::fs::bareName(candidates[j]) == qevra::fs::bareName(candidates[i])
                && candidates[j] != candidates[i])
                rows.push_back({ j, i });
        }
    }
    return rows;
}

} // namespace

namespace qevra::search {
// Rows print as (first,second) in failure messages.
void PrintTo(const Row& row, std::ostream* out);
void PrintTo(const Row& row, std::ostream* out)
{
    *out << "(" << row.first << "," << row.second << ")";
}
} // namespace qevra::search

namespace {

// The real file system, counting what is opened and read, and failing or
// slowing chosen calls. Callable from several threads; the settings are
// made before the call under test.
class WatchedFileSystem : public qevra::fs::FileSystem {
public:
    bool readDirectory(const std::string& dir, qevra::fs::DirListing& out) override
    {
        return realFileSystem().readDirectory(dir, out);
    }
    bool fileExists(const std::string& path) override { return realFileSystem().fileExists(path); }
    bool directoryExists(const std::string& path) override
    {
        return realFileSystem().directoryExists(path);
    }
    qevra::fs::FileStamp measure(const std::string& path) override
    {
        return realFileSystem().measure(path);
    }
    std::optional<qevra::fs::FileStamp> examine(
        const std::string& path, qevra::fs::Resolve resolve) override
    {
        return realFileSystem().examine(path, resolve);
    }
    qevra::fs::Removal removeFile(
        const std::string& path, const qevra::fs::FileStamp& seen, bool unchanged) override
    {
        return realFileSystem().removeFile(path, seen, unchanged);
    }
    qevra::fs::TrashMove moveToTrash(
        const std::string& path, const qevra::fs::FileStamp& seen, bool unchanged) override
    {
        return realFileSystem().moveToTrash(path, seen, unchanged);
    }
    qevra::fs::Restoring restoreFromTrash(
        const qevra::fs::TrashedFile& file, qevra::fs::FileStamp* restored) override
    {
        return realFileSystem().restoreFromTrash(file, restored);
    }

    std::unique_ptr<ReadStream> openRead(const std::string& path) override
    {
        {
            std::lock_guard lock(mutex_);
            const int opened = ++opens_[path];
            const auto allowed = opensAllowed.find(path);
            if (unopenable.count(path)
                || (allowed != opensAllowed.end() && opened > allowed->second))
                return nullptr;
            if (throwsOnOpen.count(path))
                throw std::runtime_error("no memory for " + path);
        }
        auto real = realFileSystem().openRead(path);
        if (!real)
            return nullptr;
        ++liveStreams;
        return std::make_unique<Stream>(*this, path, std::move(real));
    }

    std::int64_t bytesRead(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        return bytes_[path];
    }
    int opens(const std::string& path)
    {
        std::lock_guard lock(mutex_);
        return opens_[path];
    }
    int totalOpens()
    {
        std::lock_guard lock(mutex_);
        int total = 0;
        for (const auto& [path, count] : opens_)
            total += count;
        return total;
    }

    std::set<std::string> unopenable;
    std::set<std::string> throwsOnOpen;
    std::map<std::string, int> opensAllowed; // opens after these fail
    std::map<std::string, std::int64_t> readFailsFrom; // reads starting here fail
    std::set<std::string> sizeFails;
    std::chrono::milliseconds readDelay { 0 };
    std::atomic<int> liveStreams { 0 };
    std::atomic<int> reads { 0 };

private:
    class Stream : public ReadStream {
    public:
        Stream(WatchedFileSystem& owner, std::string path, std::unique_ptr<ReadStream> real)
            : owner_(owner)
            , path_(std::move(path))
            , real_(std::move(real))
        {
        }
        ~Stream() override { --owner_.liveStreams; }
        std::optional<qevra::fs::FileStamp> stamp() override
        {
            if (owner_.sizeFails.count(path_))
                return std::nullopt;
            return real_->stamp();
        }
        std::int64_t read(char* buffer, std::int64_t count) override
        {
            ++owner_.reads;
            if (owner_.readDelay.count() > 0)
                std::this_thread::sleep_for(owner_.readDelay);
            const auto failsFrom = owner_.readFailsFrom.find(path_);
            if (failsFrom != owner_.readFailsFrom.end() && offset_ >= failsFrom->second)
                return -1;
            const std::int64_t got = real_->read(buffer, count);
            if (got > 0) {
                offset_ += got;
                std::lock_guard lock(owner_.mutex_);
                owner_.bytes_[path_] += got;
            }
            return got;
        }

    private:
        WatchedFileSystem& owner_;
        std::string path_;
        std::unique_ptr<ReadStream> real_;
        std::int64_t offset_ = 0;
    };

    std::mutex mutex_;
    std::map<std::string, int> opens_;
    std::map<std::string, std::int64_t> bytes_;
};

// Hashes that are all equal, so that only the byte comparisons can tell
// files apart (what a hash collision would ask of them).
class ConstantHasher : public qevra::search::ContentHasher {
public:
    void reset() override { }
    void update(const char*, std::size_t) override { }
    Digest digest() override { return {}; }
};

HashFunctions collidingHashes()
{
    return { [] { return std::unique_ptr<ContentHasher>(std::make_unique<ConstantHasher>()); },
        [](std::string_view) { return std::uint64_t(0); } };
}

// The ways the content stage can be set to work; the small ones take the
// hashing and representative paths with a handful of files.
struct Mode {
    const char* name;
    ContentStageOptions options;
};
const std::vector<Mode> kModes = {
    { "default", {} },
    { "one thread", { .threads = 1 } },
    { "two files open", { .maxOpenFiles = 2 } },
    { "three files open, one thread", { .maxOpenFiles = 3, .threads = 1 } },
    { "colliding hashes", { .hashes = collidingHashes() } },
    { "two files open, colliding hashes", { .maxOpenFiles = 2, .hashes = collidingHashes() } },
    { "three files open, colliding hashes, four threads",
        { .maxOpenFiles = 3, .threads = 4, .hashes = collidingHashes() } },
};

std::string withByteAt(std::string content, std::size_t at, char byte)
{
    content[at] = byte;
    return content;
}

std::string patterned(std::size_t size, unsigned seed)
{
    std::mt19937 random(seed);
    std::string out(size, '\0');
    for (char& c : out)
        c = static_cast<char>(random());
    return out;
}

} // namespace

// ---- By name ---------------------------------------------------------------

TEST(PairByName, EachOuterCandidateGetsItsNamesakesInAscendingOrder)
{
    const PathList candidates
        = listOf({ "/r/a/x.txt", "/r/b/y.txt", "/r/c/x.txt", "/r/d/x.txt", "/r/e/y.doc" });
    const std::vector<Row> expected
        = { { 2, 0 }, { 3, 0 }, { 0, 2 }, { 3, 2 }, { 0, 3 }, { 2, 3 } };
    PairGroups pairs;
    std::vector<std::size_t> outerSteps;
    StampList stamps;
    EXPECT_TRUE(pairByName(candidates, {}, pairs, stamps, [&](std::size_t i) {
        outerSteps.push_back(i);
        return true;
    }));
    EXPECT_EQ(pairs.listed(), expected);
    EXPECT_EQ(outerSteps, (std::vector<std::size_t> { 0, 1, 2, 3, 4 }));

    // Stopped at an outer step, the rows are those of the steps before it.
    std::vector<std::pair<std::size_t, std::uint64_t>> rowsBefore; // (i, rows of the steps before)
    for (std::size_t stop = 0; stop < candidates.size(); ++stop) {
        PairGroups stopped;
        StampList stoppedStamps;
        EXPECT_FALSE(pairByName(
            candidates, {}, stopped, stoppedStamps, [&](std::size_t i) { return i != stop; }));
        rowsBefore.emplace_back(stop, stopped.rows());
        EXPECT_EQ(stopped.listed(),
            std::vector<Row>(expected.begin(),
                expected.begin()
                    + std::ptrdiff_t(std::min<std::uint64_t>(stopped.rows(), expected.size()))));
    }
    EXPECT_EQ(rowsBefore,
        (std::vector<std::pair<std::size_t, std::uint64_t>> {
            { 0, 0 }, { 1, 2 }, { 2, 2 }, { 3, 4 }, { 4, 6 } }));
}

TEST(PairByName, NamesMatchByExactBytesOfTheLastPart)
{
    // Letter case, a longer name, and a directory of that name all differ.
    EXPECT_TRUE(
        byName(listOf({ "/a/File.txt", "/b/file.txt", "/c/FILE.TXT", "/d/file.txt.bak" })).empty());
    EXPECT_TRUE(byName(listOf({ "/a/x", "/x/y", "/ax" })).empty());
    EXPECT_TRUE(byName(listOf({ "/a/Файл", "/b/файл" })).empty());
    EXPECT_EQ(byName(listOf({ "/a/Файл", "/b/Файл" })), (std::vector<Row> { { 1, 0 }, { 0, 1 } }));
}

TEST(PairByName, AFileCollectedTwiceNeverPairsWithItself)
{
    EXPECT_TRUE(byName(listOf({ "/a/f", "/a/f" })).empty());
    // Each of its places pairs with the other namesake, which thus pairs
    // more than twice.
    EXPECT_EQ(byName(listOf({ "/a/f", "/b/f", "/a/f" })),
        (std::vector<Row> { { 1, 0 }, { 0, 1 }, { 2, 1 }, { 1, 2 } }));
    // Places of one file between places of others.
    const PathList mixed = listOf({ "/a/f", "/b/f", "/a/f", "/c/f", "/b/f", "/a/f" });
    EXPECT_EQ(byName(mixed), byNameOneByOne(mixed));
    EXPECT_EQ(byName(mixed).size(), 22u);
}

TEST(PairByName, NoOrOneCandidate)
{
    std::vector<std::size_t> outerSteps;
    PairGroups pairs;
    StampList stamps;
    EXPECT_TRUE(pairByName(PathList(), {}, pairs, stamps, [&](std::size_t i) {
        outerSteps.push_back(i);
        return true;
    }));
    EXPECT_TRUE(pairs.listed().empty());
    EXPECT_TRUE(outerSteps.empty());

    EXPECT_TRUE(pairByName(listOf({ "/a/f" }), {}, pairs, stamps, [&](std::size_t i) {
        outerSteps.push_back(i);
        return true;
    }));
    EXPECT_TRUE(pairs.listed().empty());
    EXPECT_EQ(outerSteps, std::vector<std::size_t> { 0 });
}

TEST(PairByName, AgreesWithPairByPairOnRandomLists)
{
    const std::vector<std::string> dirs = { "/a", "/a/b", "/c", "/", "/d/" };
    const std::vector<std::string> names = { "x", "X", "x.jpg", "y", "ya", "" };
    for (unsigned seed = 1; seed <= 30; ++seed) {
        std::mt19937 random(seed);
        PathList candidates;
        const std::size_t count = random() % 60;
        for (std::size_t k = 0; k < count; ++k) {
            const std::string& dir = dirs[random() % dirs.size()];
            candidates.append(dir, qevra::fs::separatorFor(dir), names[random() % names.size()]);
        }
        SCOPED_TRACE(seed);
        const std::vector<Row> expected = byNameOneByOne(candidates);
        EXPECT_EQ(byName(candidates), expected);
        // Names whose hashes collide, some or all of them, stay apart.
        for (const NameHash hash :
            { +[](std::string_view name) { return std::uint64_t(name.size()); },
                +[](std::string_view) { return std::uint64_t(7); } }) {
            PairGroups pairs;
            StampList stamps;
            EXPECT_TRUE(pairByName(candidates, {}, pairs, stamps, {}, 0, {}, hash));
            EXPECT_EQ(pairs.listed(), expected);
        }
    }
}

TEST(PairByName, OneFileUnderTwoPathsNeverPairsWithItself)
{
    // Spellings of one directory, a link above it and a hard link all name
    // one file; only the real namesake elsewhere pairs with it.
    TempTree tree;
    const std::string file = tree.file("d/precious.txt", "x");
    tree.dir("d/sub");
    tree.link("linked", tree.path("d"));
    tree.dir("hard");
    ASSERT_EQ(::link(file.c_str(), tree.path("hard/precious.txt").c_str()), 0);
    const PathList aliases = listOf({ file, tree.root() + "/./d/precious.txt",
        tree.root() + "//d/precious.txt", tree.root() + "/d/sub/../precious.txt",
        tree.path("linked/precious.txt"), tree.path("hard/precious.txt") });
    StampList stamps;
    EXPECT_TRUE(byNameOfFiles(aliases, stamps).empty());
    ASSERT_EQ(stamps.size(), aliases.size());
    for (const auto& stamp : stamps)
        EXPECT_TRUE(stamp.sameFile(stamps[0]));

    PathList withCopy = aliases;
    withCopy.append(tree.file("copy/precious.txt", "x"));
    std::vector<Row> expected;
    for (std::uint32_t i = 0; i < 6; ++i)
        expected.push_back({ 6, i });
    for (std::uint32_t j = 0; j < 6; ++j)
        expected.push_back({ j, 6 });
    EXPECT_EQ(byNameOfFiles(withCopy, stamps), expected);
    // Identified ahead on worker threads, the same.
    EXPECT_EQ(byNameOfFiles(withCopy, stamps, 3), expected);
}

TEST(PairByName, IdentifyingAheadGivesTheSameRowsAndStamps)
{
    // Many groups of namesakes, some of them one file under two paths.
    TempTree tree;
    PathList candidates;
    for (int k = 0; k < 1500; ++k) {
        const std::string name = qevra::testing::numbered("n", k % 400);
        const std::string path = tree.file(qevra::testing::numbered("d", k % 7, "/") + name, "x");
        candidates.append(path);
        if (k % 97 == 0)
            candidates.append(tree.root() + "/./d" + std::to_string(k % 7) + "/" + name);
    }
    StampList here;
    StampList ahead;
    const std::vector<Row> rows = byNameOfFiles(candidates, here);
    EXPECT_EQ(byNameOfFiles(candidates, ahead, 4), rows);
    EXPECT_EQ(ahead, here);
    EXPECT_FALSE(rows.empty());
}

TEST(PairByName, OnlyRecurringNamesAreIdentified)
{
    TempTree tree;
    const PathList candidates = listOf({ tree.file("a/x", "1"), tree.file("a/y", "2"),
        tree.file("b/x", "3"), tree.path("gone/x") });
    std::vector<std::string> asked;
    PairGroups pairs;
    StampList stamps;
    pairByName(
        candidates,
        [&](std::span<const std::string_view> paths, std::span<qevra::fs::FileStamp> found) {
            asked.insert(asked.end(), paths.begin(), paths.end());
            realFileSystem().examineEach(paths, qevra::fs::Resolve::NoFinalLink, found);
        },
        pairs, stamps);
    // In candidate order, so that the files of one directory come together.
    EXPECT_EQ(asked,
        (std::vector<std::string> { tree.path("a/x"), tree.path("b/x"), tree.path("gone/x") }));
    EXPECT_FALSE(stamps[1].known());
    EXPECT_FALSE(stamps[3].known()); // a file that cannot be identified...
    // ...is a file of its own, paired by its path as before.
    EXPECT_EQ(pairs.listed(),
        (std::vector<Row> { { 2, 0 }, { 3, 0 }, { 0, 2 }, { 3, 2 }, { 0, 3 }, { 2, 3 } }));
}

// ---- By size ---------------------------------------------------------------

namespace {

// Stamps of distinct files (by inode) for candidates that need no real file.
StampList distinctStamps(std::size_t count)
{
    StampList stamps(count);
    for (std::size_t i = 0; i < count; ++i)
        stamps[i] = { 1, 100 + i, 0, 0 };
    return stamps;
}

} // namespace

TEST(KeyPairer, EachFilePairsWithEveryEarlierOneOfItsKey)
{
    const PathList candidates = listOf({ "/a", "/b", "/c", "/d", "/e" });
    const StampList stamps = distinctStamps(5);
    KeyPairer pairer;
    pairer.add(0, 10);
    pairer.add(1, 10);
    pairer.add(2, 7);
    EXPECT_EQ(pairer.pairs(candidates, stamps).listed(), (std::vector<Row> { { 0, 1 } }));
    // Asked for its rows, the pairer goes on.
    pairer.add(3, 10);
    const std::vector<Row> rows = { { 0, 1 }, { 0, 3 }, { 1, 3 } };
    EXPECT_EQ(pairer.pairs(candidates, stamps).listed(), rows);

    // Empty files are a size like any other: a lone one adds no row.
    pairer.add(4, 0);
    EXPECT_EQ(pairer.pairs(candidates, stamps).listed(), rows);

    pairer.clear();
    EXPECT_TRUE(pairer.pairs(candidates, stamps).listed().empty());
    pairer.add(0, 0);
    pairer.add(1, 0);
    pairer.add(2, 10);
    EXPECT_EQ(pairer.pairs(candidates, stamps).listed(), (std::vector<Row> { { 0, 1 } }));
}

TEST(KeyPairer, OneFileNeverPairsWithItself)
{
    // The same path twice, and two paths of one identity.
    const PathList candidates = listOf({ "/a/f", "/a/f", "/b/g", "/a/f", "/c/alias" });
    StampList stamps = distinctStamps(5);
    stamps[1] = stamps[0];
    stamps[3] = stamps[0];
    stamps[4] = stamps[2];
    KeyPairer pairer;
    for (std::uint32_t i = 0; i < candidates.size(); ++i)
        pairer.add(i, 5);
    EXPECT_EQ(pairer.pairs(candidates, stamps).listed(),
        (std::vector<Row> { { 0, 2 }, { 1, 2 }, { 2, 3 }, { 0, 4 }, { 1, 4 }, { 3, 4 } }));
}

TEST(KeyPairer, ManyKeysKeepTheirOwnChainsAcrossTheTablesGrowth)
{
    // Enough keys to grow the table several times, with keys that differ
    // only in high bits, keys near the ends of the range and a zero key,
    // checked against pairing every candidate with every earlier one.
    const std::uint32_t count = 20000;
    PathList candidates;
    for (std::uint32_t i = 0; i < count; ++i)
        candidates.append("/f" + std::to_string(i));
    const StampList stamps = distinctStamps(count);
    std::vector<std::uint64_t> keys(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::uint64_t k = (i * 7919u) % 6007u;
        keys[i] = k % 3 == 0 ? k << 40 : k % 3 == 1 ? UINT64_MAX - k : k;
    }
    KeyPairer pairer;
    std::vector<Row> expected;
    for (std::uint32_t i = 0; i < count; ++i) {
        for (std::uint32_t k = 0; k < i; ++k) {
            if (keys[k] == keys[i])
                expected.push_back({ k, i });
        }
        pairer.add(i, keys[i]);
        // Asked halfway, the rows so far; the pairer then goes on.
        if (i == count / 2) {
            EXPECT_EQ(pairer.pairs(candidates, stamps).listed(), expected);
        }
    }
    const std::vector<Row> rows = pairer.pairs(candidates, stamps).listed();
    EXPECT_EQ(rows.size(), expected.size());
    EXPECT_EQ(rows, expected);
}

TEST(KeyPairer, KeysChosenToCollideCostNoMoreThanAnyOthers)
{
    // Sizes are a tree's to choose (a sparse file of any size costs
    // nothing): keys that differ only above bit 50 all fall on one place of
    // a table hashed by a fixed multiplier, which made each add walk every
    // earlier key. However chosen, keys cost a few looks each.
    const std::uint32_t count = 16384;
    PathList candidates;
    for (std::uint32_t i = 0; i < count; ++i)
        candidates.append("/f" + std::to_string(i));
    const StampList stamps = distinctStamps(count);
    for (const int shift : { 0, 32, 50 }) {
        SCOPED_TRACE(shift);
        KeyPairer pairer;
        for (std::uint32_t i = 0; i < count; ++i)
            pairer.add(i, std::uint64_t(i) << shift);
        EXPECT_TRUE(pairer.pairs(candidates, stamps).listed().empty());
        EXPECT_LT(pairer.probes(), std::uint64_t(count) * 8);
    }
    // Two pairers are keyed apart, and still pair alike.
    KeyPairer first;
    KeyPairer second;
    for (std::uint32_t i = 0; i < count; ++i) {
        first.add(i, std::uint64_t(i % 100) << 50);
        second.add(i, std::uint64_t(i % 100) << 50);
    }
    const std::vector<Row> firstRows = first.pairs(candidates, stamps).listed();
    EXPECT_EQ(firstRows, second.pairs(candidates, stamps).listed());
    // 84 keys of 164 candidates, 16 of 163.
    EXPECT_EQ(firstRows.size(), std::size_t(84) * (164 * 163 / 2) + 16 * (163 * 162 / 2));
}

// ---- The content stage -----------------------------------------------------

namespace {

// Files made in a temporary tree, each a candidate, measured as the size
// pass measures them.
class Candidates {
public:
    std::uint32_t add(const std::string& name, const std::string& content)
    {
        return addPath(tree.file(name, content));
    }
    std::uint32_t addPath(std::string path)
    {
        list.append(path);
        stamps.push_back(realFileSystem().measure(path));
        paths.push_back(std::move(path));
        return static_cast<std::uint32_t>(paths.size() - 1);
    }

    TempTree tree;
    std::vector<std::string> paths;
    PathList list;
    StampList stamps;
};

// The content rows by definition: (k, i) for k < i, in order of i then k,
// when the two are other files with the same bytes (read whole here).
std::vector<Row> equalPairs(const Candidates& files)
{
    std::vector<std::string> contents;
    for (const std::string& path : files.paths)
        contents.push_back(qevra::testing::readFile(path));
    std::vector<Row> rows;
    for (std::uint32_t i = 0; i < files.paths.size(); ++i) {
        for (std::uint32_t k = 0; k < i; ++k) {
            if (contents[k] == contents[i] && files.paths[k] != files.paths[i]
                && !files.stamps[k].sameFile(files.stamps[i]))
                rows.push_back({ k, i });
        }
    }
    return rows;
}

std::vector<Row> byContent(qevra::fs::FileSystem& fileSystem, const Candidates& files,
    const ContentStageOptions& options = {})
{
    ProgressFunction goOn({});
    const auto pairs = pairByContent(fileSystem, files.list, files.stamps, goOn, options);
    EXPECT_TRUE(pairs.has_value());
    return pairs ? pairs->listed() : std::vector<Row>();
}

// Equal pairs, one differing late, at the first and at the last byte.
void checkOneSizeGroup(std::size_t size)
{
    Candidates files;
    const std::string a = patterned(size, 10);
    const std::string b = withByteAt(a, size - 100, static_cast<char>(a[size - 100] ^ 1));
    files.add("a1", a);
    files.add("b1", b);
    files.add("c", withByteAt(a, size - 1, static_cast<char>(a[size - 1] ^ 1)));
    files.add("a2", a);
    files.add("d", withByteAt(a, 0, static_cast<char>(a[0] ^ 1)));
    files.add("b2", b);
    const std::vector<Row> expected = { { 0, 3 }, { 1, 5 } };
    ASSERT_EQ(equalPairs(files), expected);
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        WatchedFileSystem watched;
        EXPECT_EQ(byContent(watched, files, mode.options), expected);
        EXPECT_EQ(watched.liveStreams, 0);
    }
}

} // namespace

TEST(PairByContent, GivesExactlyTheRowsOfEqualFilesInTheirOrder)
{
    checkOneSizeGroup(5000);
}

TEST(PairByContent, GivesExactlyTheRowsOfEqualFilesLargerThanThePrefix)
{
    checkOneSizeGroup(700 * 1024);
}

TEST(PairByContent, EmptyFilesAreReadTooAndSizesMustMatch)
{
    Candidates files;
    files.add("e1", "");
    files.add("e2", "");
    files.add("x", "x");
    files.add("xy", "xy");
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        WatchedFileSystem watched;
        EXPECT_EQ(byContent(watched, files, mode.options), (std::vector<Row> { { 0, 1 } }));
        EXPECT_EQ(watched.opens(files.paths[0]), 1);
        EXPECT_EQ(watched.opens(files.paths[2]), 0); // alone in its size: never read
    }
}

TEST(PairByContent, FilesOfDistinctSizesAreNeverRead)
{
    Candidates files;
    files.add("a", "same");
    files.add("b", "same!");
    WatchedFileSystem watched;
    EXPECT_TRUE(byContent(watched, files).empty());
    EXPECT_EQ(watched.totalOpens(), 0);
}

TEST(PairByContent, SizesAreNeverTrusted)
{
    // Pseudo-files report one size whatever they hold: only their bytes,
    // read to the end, decide.
    Candidates files;
    files.add("a", "alpha");
    files.add("b", "beta and more");
    files.add("c", "alpha");
    files.add("d", std::string(9000, 'q'));
    files.add("e", std::string(9000, 'q') + "tail");
    for (auto& stamp : files.stamps)
        stamp.size = 4096;
    // The open files show the same lie as the measurement did.
    class Lying : public WatchedFileSystem {
    public:
        std::unique_ptr<ReadStream> openRead(const std::string& path) override
        {
            auto real = WatchedFileSystem::openRead(path);
            if (!real)
                return nullptr;
            return std::make_unique<Stream>(std::move(real));
        }

    private:
        class Stream : public ReadStream {
        public:
            explicit Stream(std::unique_ptr<ReadStream> real)
                : real_(std::move(real))
            {
            }
            std::optional<qevra::fs::FileStamp> stamp() override
            {
                auto stamp = real_->stamp();
                if (stamp)
                    stamp->size = 4096;
                return stamp;
            }
            std::int64_t read(char* buffer, std::int64_t count) override
            {
                return real_->read(buffer, count);
            }

        private:
            std::unique_ptr<ReadStream> real_;
        };
    };
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        Lying lying;
        EXPECT_EQ(byContent(lying, files, mode.options), (std::vector<Row> { { 0, 2 } }));
    }
}

TEST(PairByContent, AFileThatVanishedOrChangedPairsWithNothing)
{
    Candidates files;
    const std::string content = patterned(3000, 4);
    for (const char* name : { "a", "b", "c", "d" })
        files.add(name, content);
    ASSERT_EQ(::unlink(files.paths[1].c_str()), 0);
    // Written again after it was measured, with the same bytes: its time
    // tells that it is not the file measured.
    const timespec times[2] = { { 0, UTIME_OMIT }, { 12345, 0 } };
    ASSERT_EQ(::utimensat(AT_FDCWD, files.paths[3].c_str(), times, 0), 0);
    for (const Mode& mode : kModes) {
        SCOPED_TRACE(mode.name);
        EXPECT_EQ(
            byContent(realFileSystem(), files, mode.options), (std::vector<Row> { { 0, 2 } }));
    }
}

TEST(PairByContent, AFileSwappedForAPipeNeitherBlocksNorPairs)
{
    Candidates files;
    for (const char* name : { "a", "b", "c" })
        files.add(name, "same bytes");
    ASSERT_EQ(::unlink(files.paths[1].c_str()), 0);
    ASSERT_EQ(::mkfifo(files.paths[1].c_str(), 0644), 0);
    EXPECT_EQ(byContent(realFileSystem(), files), (std::vector<Row> { { 0, 2 } }));
}

TEST(PairByContent, AFileThatCannotBeOpenedOrReadPairsWithNothing)
{
    // Four equal files, one failing in turn (so that some runs fail the one
    // the others are checked against); the other three still pair.
    for (const std::size_t size : { std::size_t(3000), std::size_t(300 * 1024) }) {
        Candidates files;
        const std::string content = patterned(size, 5);
        for (const char* name : { "a", "b", "c", "d" })
            files.add(name, content);
        for (std::uint32_t failing = 0; failing < 4; ++failing) {
            std::vector<Row> expected;
            for (const Row& row : equalPairs(files)) {
                if (row.first != failing && row.second != failing)
                    expected.push_back(row);
            }
            const std::string& path = files.paths[failing];
            for (const Mode& mode : kModes) {
                SCOPED_TRACE(::testing::Message()
                    << mode.name << ", size " << size << ", failing " << failing);
                WatchedFileSystem unopenable;
                unopenable.unopenable.insert(path);
                EXPECT_EQ(byContent(unopenable, files, mode.options), expected);

                WatchedFileSystem readFails;
                readFails.readFailsFrom[path] = std::int64_t(size) / 2;
                EXPECT_EQ(byContent(readFails, files, mode.options), expected);
                EXPECT_EQ(readFails.liveStreams, 0);

                WatchedFileSystem stampFails;
                stampFails.sizeFails.insert(path);
                EXPECT_EQ(byContent(stampFails, files, mode.options), expected);

                // Told, and failing that file alone.
                WatchedFileSystem throwing;
                throwing.throwsOnOpen.insert(path);
                EXPECT_EQ(byContent(throwing, files, mode.options), expected);
                EXPECT_EQ(throwing.liveStreams, 0);
            }
        }
    }
}

TEST(PairByContent, AFileUnreadableToTheUserPairsWithNothing)
{
    Candidates files;
    const std::string content = patterned(5000, 6);
    for (const char* name : { "a", "b", "c" })
        files.add(name, content);
    ASSERT_EQ(::chmod(files.paths[0].c_str(), 0), 0);
    const int status = runUnprivileged([&] {
        ProgressFunction goOn({});
        const auto pairs = pairByContent(realFileSystem(), files.list, files.stamps, goOn);
        return pairs && pairs->listed() == std::vector<Row> { { 1, 2 } } ? 0 : 1;
    });
    EXPECT_EQ(status, 0);
}

TEST(PairByContent, OneFileAtSeveralPlacesIsReadOnceAndNeverPairsWithItself)
{
    Candidates files;
    const std::string content = patterned(200 * 1024, 7);
    files.add("a", content);
    // b gets its second name before it is measured: a new link changes
    // the file's status, and a file changed since its measuring is not read.
    const std::string b = files.tree.file("b", content);
    const std::string hard = files.tree.path("hard");
    ASSERT_EQ(::link(b.c_str(), hard.c_str()), 0);
    files.addPath(b);
    files.addPath(files.paths[0]); // the same path again
    files.addPath(hard); // another name of b
    ASSERT_EQ(equalPairs(files), (std::vector<Row> { { 0, 1 }, { 1, 2 }, { 0, 3 }, { 2, 3 } }));
    WatchedFileSystem watched;
    EXPECT_EQ(byContent(watched, files), equalPairs(files));
    EXPECT_EQ(watched.bytesRead(files.paths[0]), std::int64_t(content.size()));
    EXPECT_EQ(watched.opens(hard), 0);

    // Two names of one file and nothing else: no row, nothing read.
    Candidates alone;
    alone.add("x", content);
    alone.addPath(alone.paths[0]);
    const std::string other = alone.tree.path("y");
    ASSERT_EQ(::link(alone.paths[0].c_str(), other.c_str()), 0);
    alone.addPath(other);
    WatchedFileSystem quiet;
    EXPECT_TRUE(byContent(quiet, alone).empty());
    EXPECT_EQ(quiet.totalOpens(), 0);
}

TEST(PairByContent, EachFileIsReadAtMostTwice)
{
    // A group that fits open at once is read once; a larger one is hashed
    // and then checked.
    Candidates files;
    const std::string small = patterned(2000, 8);
    const std::string large = patterned(300 * 1024, 9);
    for (int k = 0; k < 5; ++k)
        files.add("large" + std::to_string(k), large);
    for (int k = 0; k < 300; ++k)
        files.add("small" + std::to_string(k), small);
    const std::vector<Row> expected = equalPairs(files);
    ASSERT_EQ(expected.size(), 10u + 300u * 299u / 2u);

    WatchedFileSystem watched;
    EXPECT_EQ(byContent(watched, files), expected);
    for (std::size_t k = 0; k < 5; ++k)
        EXPECT_EQ(watched.bytesRead(files.paths[k]), std::int64_t(large.size()));
    for (std::size_t k = 5; k < files.paths.size(); ++k)
        EXPECT_LE(watched.bytesRead(files.paths[k]), 2 * std::int64_t(small.size()));
    EXPECT_EQ(watched.liveStreams, 0);
}

TEST(PairByContent, OneDifferentFileInABigGroupLosesOnlyItsRows)
{
    Candidates files;
    const std::string content = patterned(1500, 11);
    for (int k = 0; k < 280; ++k)
        files.add(std::to_string(k), k == 137 ? withByteAt(content, 1499, 'q') : content);
    ASSERT_NE(content[1499], 'q');
    const std::vector<Row> expected = equalPairs(files);
    ASSERT_EQ(expected.size(), 279u * 278u / 2u);
    for (const Mode& mode : { kModes[0], kModes[4] }) {
        SCOPED_TRACE(mode.name);
        EXPECT_EQ(byContent(realFileSystem(), files, mode.options), expected);
    }
}

TEST(PairByContent, AgreesWithReadingWholeFilesOnRandomFiles)
{
    const std::vector<std::size_t> sizes = { 0, 1, 100, 70 * 1024, 140 * 1024 };
    for (unsigned seed = 1; seed <= 4; ++seed) {
        std::mt19937 random(seed);
        Candidates files;
        for (int k = 0; k < 36; ++k) {
            const std::size_t size = sizes[random() % sizes.size()];
            // A few contents per size, some changed in one byte.
            std::string content = patterned(size, unsigned(size) * 7 + random() % 2);
            if (size > 0 && random() % 3 == 0) {
                const std::size_t at = random() % size;
                content[at] = static_cast<char>(content[at] ^ (1 + random() % 255));
            }
            files.add(qevra::testing::numbered("f", k), content);
        }
        const std::vector<Row> expected = equalPairs(files);
        for (const Mode& mode : kModes) {
            SCOPED_TRACE(::testing::Message() << "seed " << seed << ", " << mode.name);
            EXPECT_EQ(byContent(realFileSystem(), files, mode.options), expected);
        }
    }
}

TEST(PairByContent, ReportsTheBytesItComparesOnTheCallingThread)
{
    Candidates files;
    const std::string content = patterned(256 * 1024, 14);
    for (int k = 0; k < 8; ++k)
        files.add(std::to_string(k), content);
    files.add("alone", "x");
    WatchedFileSystem slow;
    slow.readDelay = std::chrono::milliseconds(5);
    const auto caller = std::this_thread::get_id();
    std::uint64_t lastDone = 0;
    bool ordered = true;
    bool elsewhere = false;
    int steps = 0;
    ProgressFunction progress([&](Phase phase, std::uint64_t done, std::uint64_t total) {
        ordered = ordered && phase == Phase::Comparing && done >= lastDone && done <= total
            && total == 8 * content.size();
        elsewhere = elsewhere || std::this_thread::get_id() != caller;
        lastDone = done;
        ++steps;
        return true;
    });
    const auto rows = pairByContent(slow, files.list, files.stamps, progress);
    ASSERT_TRUE(rows);
    EXPECT_EQ(rows->rows(), 28u);
    EXPECT_EQ(rows->listed().size(), 28u);
    EXPECT_GT(steps, 0);
    EXPECT_TRUE(ordered);
    EXPECT_FALSE(elsewhere);
}

namespace {

// Runs the content stage on slow reads and stops it at the `stopAt`-th
// question; the stage must give nothing, having read little.
void checkStopping(
    const ContentStageOptions& options, const Candidates& files, int stopAt, int mostReads)
{
    WatchedFileSystem slow;
    slow.readDelay = std::chrono::milliseconds(10);
    const auto caller = std::this_thread::get_id();
    int questions = 0;
    bool askedElsewhere = false;
    ProgressFunction progress([&](Phase, std::uint64_t, std::uint64_t) {
        askedElsewhere = askedElsewhere || std::this_thread::get_id() != caller;
        return ++questions < stopAt;
    });
    const auto rows = pairByContent(slow, files.list, files.stamps, progress, options);
    EXPECT_FALSE(rows.has_value());
    EXPECT_EQ(questions, stopAt);
    EXPECT_FALSE(askedElsewhere);
    // A worker still inside a read when the stage gave up closes its files
    // once the read returns; the file system must outlive that.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (slow.liveStreams != 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(slow.liveStreams, 0);
    // Far from every read was made.
    EXPECT_LT(slow.reads, mostReads);
}

} // namespace

TEST(PairByContent, StopsWhenToldAndGivesNothing)
{
    Candidates files;
    const std::string content = patterned(100 * 1024, 12);
    for (int k = 0; k < 60; ++k)
        files.add(std::to_string(k), content);
    const int size = int(files.paths.size());
    checkStopping({}, files, 1, size);
    checkStopping({}, files, 3, size);
    checkStopping({ .maxOpenFiles = 4, .threads = 3 }, files, 2, size);
}

TEST(PairByContent, StopsWhileComparisonsWaitForOpenFiles)
{
    // Pairs of different sizes, more than may be open at once: some
    // workers wait for others to close their files.
    Candidates files;
    std::vector<Row> expected;
    for (int k = 0; k < 30; ++k) {
        const std::string content = patterned(1000 + k, 13);
        const std::uint32_t a = files.add(std::to_string(k) + "a", content);
        const std::uint32_t b = files.add(std::to_string(k) + "b", content);
        expected.push_back({ a, b });
    }
    checkStopping({ .maxOpenFiles = 2, .threads = 6 }, files, 2, int(files.paths.size()));
    // Left alone, the same work ends with every pair found.
    EXPECT_EQ(byContent(realFileSystem(), files, { .maxOpenFiles = 2, .threads = 6 }), expected);
}
