// The comparisons remembered between searches: the rows are those of a
// search without memory on every tree, only what memory cannot tell is
// read, and the file that keeps it is checked, shared and bounded.
#include "search/comparison_memory.h"
#include "search/pairing.h"
#include "support/temp_tree.h"

#include "forwarding_files.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qevra;
using namespace qevra::search;
using qevra::testing::TempTree;

namespace {

// The real file system, counting the files opened for reading.
class CountingFiles : public ForwardingFiles {
public:
    std::unique_ptr<fs::ReadStream> openRead(const std::string& path) override
    {
        const std::lock_guard lock(mutex_);
        ++opened_[path];
        return real().openRead(path);
    }
    std::map<std::string, int> opened() const
    {
        const std::lock_guard lock(mutex_);
        return opened_;
    }
    void reset()
    {
        const std::lock_guard lock(mutex_);
        opened_.clear();
    }

private:
    mutable std::mutex mutex_;
    std::map<std::string, int> opened_;
};

struct Measured {
    PathList list;
    StampList stamps;
};

Measured measure(const std::vector<std::string>& paths)
{
    Measured measured;
    for (const std::string& path : paths) {
        measured.list.append(path);
        measured.stamps.push_back(fs::realFileSystem().measure(path));
    }
    return measured;
}

std::vector<Row> rowsOf(fs::FileSystem& files, const Measured& measured, ComparisonMemory* memory)
{
    ProgressFunction goOn({});
    ContentStageOptions options;
    options.threads = 2;
    options.memory = memory;
    const auto pairs = pairByContent(files, measured.list, measured.stamps, goOn, options);
    EXPECT_TRUE(pairs.has_value());
    return pairs ? pairs->listed() : std::vector<Row> {};
}

// Sets a file's modification time back to what another file shows.
void timeLike(const std::string& path, const std::string& like)
{
    struct stat status { };
    ASSERT_EQ(::stat(like.c_str(), &status), 0);
    const timespec times[2] = { status.st_atim, status.st_mtim };
    ASSERT_EQ(::utimensat(AT_FDCWD, path.c_str(), times, 0), 0);
}

void rewrite(const std::string& path, const std::string& content)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << content;
}

fs::FileStamp stampOf(std::uint64_t inode, std::int64_t size = 10)
{
    fs::FileStamp stamp;
    stamp.device = 7;
    stamp.inode = inode;
    stamp.size = size;
    stamp.modified = 1000 + std::int64_t(inode);
    stamp.changed = 2000 + std::int64_t(inode);
    return stamp;
}

// One search after another through one store, as the program makes them.
class Remembering : public ::testing::Test {
protected:
    std::vector<Row> search(const std::vector<std::string>& paths)
    {
        ComparisonMemory memory = store.load();
        files.reset();
        const Measured measured = measure(paths);
        const std::vector<Row> rows = rowsOf(files, measured, &memory);
        learned = memory.learned().size();
        EXPECT_TRUE(store.save(std::move(memory)));
        const std::vector<Row> without = rowsOf(plain, measured, nullptr);
        EXPECT_EQ(rows, without);
        return rows;
    }
    int opened(const std::string& path) const
    {
        const auto all = files.opened();
        const auto found = all.find(path);
        return found == all.end() ? 0 : found->second;
    }
    std::size_t openedFiles() const { return files.opened().size(); }

    std::size_t learned = 0;
    TempTree tree;
    TempTree cache;
    ComparisonStore store { cache.path("qevra") };
    CountingFiles files;
    ForwardingFiles plain;
};

} // namespace

TEST_F(Remembering, ASecondSearchReadsOnlyWhatChangedAndOnePartnerEach)
{
    std::vector<std::string> paths;
    for (int k = 0; k < 6; ++k)
        paths.push_back(
            tree.file(std::string("same/").append(std::to_string(k)), std::string(5000, 'a')));
    for (int k = 0; k < 4; ++k)
        paths.push_back(tree.file(std::string("apart/").append(std::to_string(k)),
            std::string(4999, 'b') + char('0' + k)));
    paths.push_back(tree.file("alone", "unique size"));
    const std::vector<Row> first = search(paths);
    EXPECT_EQ(first.size(), 15u);
    EXPECT_EQ(openedFiles(), 10u);

    // Nothing changed: nothing is read or learned anew, and the rows are
    // the same.
    EXPECT_EQ(search(paths), first);
    EXPECT_EQ(openedFiles(), 0u);
    EXPECT_EQ(learned, 0u);

    // One copy rewritten with other bytes of its size, its time set back:
    // it is read, and one copy of each class whose start it shares (the
    // "apart" files differ only past their heads); the class of the "same"
    // files starts otherwise and is not read.
    rewrite(paths[2], std::string(4999, 'b') + '1');
    timeLike(paths[2], paths[3]);
    const std::vector<Row> after = search(paths);
    EXPECT_GE(opened(paths[2]), 1);
    EXPECT_EQ(openedFiles(), 1u + 4u);
    for (int k = 0; k < 6; ++k)
        EXPECT_EQ(opened(paths[std::size_t(k)]), k == 2 ? opened(paths[2]) : 0) << k;
    EXPECT_EQ(search(paths).size(), after.size());
    EXPECT_EQ(openedFiles(), 0u);
}

TEST_F(Remembering, AChangedSmallFileIsReadWithTheOneClassItMayJoin)
{
    std::vector<std::string> paths;
    for (int k = 0; k < 20; ++k)
        paths.push_back(tree.file(
            std::string("f").append(std::to_string(k)), std::string(99, 'p') + char('a' + k % 10)));
    const std::vector<Row> first = search(paths);
    EXPECT_EQ(first.size(), 10u);

    // Two files rewritten: one now equal to another class, one to none.
    rewrite(paths[0], std::string(99, 'p') + 'c');
    rewrite(paths[1], std::string(99, 'p') + 'z');
    const std::vector<Row> after = search(paths);
    std::set<std::string> opened;
    for (const auto& [path, times] : files.opened())
        opened.insert(path);
    // The two changed files and one file of the class of "c" (f2 or f12).
    EXPECT_EQ(opened.size(), 3u);
    EXPECT_TRUE(opened.count(paths[0]) && opened.count(paths[1]));
    EXPECT_TRUE(opened.count(paths[2]) || opened.count(paths[12]));
    EXPECT_EQ(after.size(), 10u - 2u + 2u);

    // The heads were learned: the next change reads no more.
    rewrite(paths[5], std::string(99, 'p') + 'a');
    search(paths);
    EXPECT_EQ(openedFiles(), 2u);
}

TEST_F(Remembering, ANewFileAtAnOldPathAndAReusedInodeAreReadAgain)
{
    const std::string a = tree.file("a", std::string(3000, 'x'));
    const std::string b = tree.file("b", std::string(3000, 'x'));
    const std::string c = tree.file("c", std::string(3000, 'y'));
    ASSERT_EQ(search({ a, b, c }).size(), 1u);

    // Deleted and made again with the other content: a new file.
    ASSERT_EQ(::unlink(b.c_str()), 0);
    tree.file("b", std::string(3000, 'y'));
    timeLike(b, a);
    EXPECT_EQ(search({ a, b, c }), (std::vector<Row> { { 1, 2 } }));
    EXPECT_GE(opened(b), 1);

    // A file renamed over another keeps its inode but not its change time.
    ASSERT_EQ(::rename(c.c_str(), a.c_str()), 0);
    tree.file("c", std::string(3000, 'x'));
    EXPECT_EQ(search({ a, b, c }), (std::vector<Row> { { 0, 1 } }));
}

TEST_F(Remembering, HardLinksAndClassesFromTwoSearchesAreComparedAgain)
{
    const std::string a = tree.file("one/a", std::string(2000, 'q'));
    const std::string b = tree.file("one/b", std::string(2000, 'q'));
    const std::string c = tree.file("two/c", std::string(2000, 'q'));
    const std::string d = tree.file("two/d", std::string(2000, 'r'));
    search({ a, b });
    search({ c, d });
    // a and c were proved in different searches: read again, and found equal.
    const std::vector<Row> all = search({ a, b, c, d });
    EXPECT_EQ(all.size(), 3u);
    EXPECT_GE(openedFiles(), 2u);
    EXPECT_EQ(search({ a, b, c, d }), all);
    EXPECT_EQ(openedFiles(), 0u);

    // A hard link made since changes the file's change time.
    ASSERT_EQ(::link(a.c_str(), tree.path("one/a2").c_str()), 0);
    const std::vector<Row> linked = search({ a, tree.path("one/a2"), b, c, d });
    EXPECT_GE(opened(a) + opened(tree.path("one/a2")), 1);
    EXPECT_EQ(linked.size(), 3u + 3u - 1u);
}

TEST_F(Remembering, RandomTreesGiveTheRowsOfASearchWithoutMemory)
{
    std::mt19937 random(20261209);
    for (int round = 0; round < 12; ++round) {
        TempTree own;
        std::vector<std::string> paths;
        const int count = 10 + int(random() % 30);
        for (int k = 0; k < count; ++k) {
            const std::size_t size = 1 + random() % 3;
            const char fill = char('a' + random() % 3);
            paths.push_back(own.file(
                std::string("f").append(std::to_string(k)), std::string(size * 700, fill)));
        }
        for (int step = 0; step < 5; ++step) {
            search(paths); // compares with and without memory
            for (int change = 0; change < 3; ++change) {
                const std::string& path = paths[random() % paths.size()];
                const std::size_t size = 1 + random() % 3;
                switch (random() % 3) {
                case 0: // other bytes of the same size, the time set back
                {
                    struct stat before { };
                    ::stat(path.c_str(), &before);
                    rewrite(
                        path, std::string(std::size_t(before.st_size), char('a' + random() % 3)));
                    const timespec times[2] = { before.st_atim, before.st_mtim };
                    ::utimensat(AT_FDCWD, path.c_str(), times, 0);
                    break;
                }
                case 1: // deleted and made anew
                    ::unlink(path.c_str());
                    rewrite(path, std::string(size * 700, char('a' + random() % 3)));
                    break;
                default: // a hard link of another file in its place
                    ::unlink(path.c_str());
                    ASSERT_EQ(::link(paths[random() % paths.size()].c_str(), path.c_str()) == 0
                            || errno == ENOENT,
                        true);
                    if (::access(path.c_str(), F_OK) != 0)
                        rewrite(path, "x");
                    break;
                }
            }
        }
    }
}

TEST(ComparisonStore, KeepsWhatWasProvedForTheVeryStampOnly)
{
    TempTree cache;
    const ComparisonStore store(cache.path("deep/er/qevra"));
    ComparisonMemory memory;
    memory.learn(stampOf(1), { 99, 4 });
    fs::FileStamp aliased = stampOf(2);
    aliased.aliased = true;
    memory.learn(aliased, { 99, 5 });
    ASSERT_TRUE(store.save(std::move(memory)));

    struct stat status { };
    ASSERT_EQ(::stat(cache.path("deep/er/qevra").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0700u);
    ASSERT_EQ(::stat(cache.path("deep/er/qevra/comparisons").c_str(), &status), 0);
    EXPECT_EQ(status.st_mode & 0777, 0600u);

    const ComparisonMemory loaded = store.load();
    EXPECT_TRUE(loaded.recall(stampOf(1)).sameClass({ 99, 4 }));
    EXPECT_FALSE(loaded.recall(aliased).known());
    for (int field = 0; field < 5; ++field) {
        fs::FileStamp other = stampOf(1);
        switch (field) {
        case 0:
            other.device += 1;
            break;
        case 1:
            other.inode += 1;
            break;
        case 2:
            other.size += 1;
            break;
        case 3:
            other.modified -= 1;
            break;
        default:
            other.changed += 1;
            break;
        }
        EXPECT_FALSE(loaded.recall(other).known()) << field;
    }
}

TEST(ComparisonStore, ADamagedOrForeignFileIsIgnoredAndReplaced)
{
    TempTree cache;
    const std::string folder = cache.path("qevra");
    const ComparisonStore store(folder);
    const std::string file = folder + "/comparisons";
    const auto saveOne = [&](std::uint64_t inode) {
        ComparisonMemory memory;
        memory.learn(stampOf(inode), { 5, 1 });
        return store.save(std::move(memory));
    };
    ASSERT_TRUE(saveOne(1));
    std::string good;
    {
        std::ifstream in(file, std::ios::binary);
        good.assign(std::istreambuf_iterator<char>(in), {});
    }
    ASSERT_EQ(good.size(), 32u + 64u);

    std::vector<std::string> damaged;
    damaged.push_back(good.substr(0, good.size() - 1)); // truncated
    damaged.push_back(good + "x"); // longer than it says
    std::string flipped = good;
    flipped[40] = char(flipped[40] ^ 1);
    damaged.push_back(flipped); // checksum
    std::string magic = good;
    magic[0] = 'X';
    damaged.push_back(magic);
    damaged.push_back(std::string(4096, '\xff')); // foreign
    damaged.push_back({}); // empty
    for (const std::string& bytes : damaged) {
        rewrite(file, bytes);
        EXPECT_FALSE(store.load().recall(stampOf(1)).known());
        ASSERT_TRUE(saveOne(2));
        const ComparisonMemory again = store.load();
        EXPECT_TRUE(again.recall(stampOf(2)).known());
        EXPECT_FALSE(again.recall(stampOf(1)).known());
        ASSERT_TRUE(saveOne(1));
    }

    // A link in its place is not followed, neither to read nor to write.
    const std::string elsewhere = cache.file("elsewhere", good);
    ASSERT_EQ(::unlink(file.c_str()), 0);
    ASSERT_EQ(::symlink(elsewhere.c_str(), file.c_str()), 0);
    EXPECT_FALSE(store.load().recall(stampOf(1)).known());
    ASSERT_TRUE(saveOne(3));
    struct stat status { };
    ASSERT_EQ(::lstat(file.c_str(), &status), 0);
    EXPECT_TRUE(S_ISREG(status.st_mode));
    std::ifstream in(elsewhere, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), good);
}

TEST(ComparisonStore, DropsFilesGoneEntriesTooOldAndEmptiesOnForget)
{
    TempTree cache;
    const ComparisonStore store(cache.path("qevra"));
    ComparisonMemory memory;
    for (std::uint64_t inode = 1; inode <= 4; ++inode)
        memory.learn(stampOf(inode), { 3, std::uint32_t(inode) });
    ASSERT_TRUE(store.save(std::move(memory), 1000));

    // Gone as it was: dropped; a journal entry of another state of the
    // same file leaves it.
    fs::FileStamp changed = stampOf(2);
    changed.changed += 1;
    ASSERT_TRUE(store.forget({ stampOf(1), changed }));
    ComparisonMemory later;
    later.learn(stampOf(5), { 4, 1 });
    ASSERT_TRUE(store.save(std::move(later), 1000 + ComparisonStore::kKeptDays));
    ComparisonMemory loaded = store.load();
    EXPECT_FALSE(loaded.recall(stampOf(1)).known());
    EXPECT_TRUE(loaded.recall(stampOf(2)).known());
    EXPECT_TRUE(loaded.recall(stampOf(5)).known());
    struct stat status { };
    ASSERT_EQ(::stat(cache.path("qevra/comparisons.gone").c_str(), &status), 0);
    EXPECT_EQ(status.st_size, 0);

    // A day past the time kept, what was not proved again goes.
    ComparisonMemory next;
    next.learn(stampOf(6), { 6, 1 });
    ASSERT_TRUE(store.save(std::move(next), 1001 + ComparisonStore::kKeptDays));
    loaded = store.load();
    EXPECT_FALSE(loaded.recall(stampOf(2)).known());
    EXPECT_TRUE(loaded.recall(stampOf(5)).known());
    EXPECT_TRUE(loaded.recall(stampOf(6)).known());

    ASSERT_TRUE(store.clear());
    EXPECT_TRUE(store.load().entries().empty());
}

TEST(ComparisonStore, ProgramsSavingAtOnceLoseNothingAndBreakNothing)
{
    TempTree cache;
    const std::string folder = cache.path("qevra");
    constexpr int kPrograms = 4;
    constexpr int kSaves = 25;
    std::vector<pid_t> children;
    for (int p = 0; p < kPrograms; ++p) {
        const pid_t pid = ::fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            const ComparisonStore store(folder);
            for (int s = 0; s < kSaves; ++s) {
                ComparisonMemory memory = store.load();
                for (int k = 0; k < 200; ++k)
                    memory.learn(stampOf(std::uint64_t(p * 100000 + s * 1000 + k + 1)),
                        { std::uint64_t(p + 1), std::uint32_t(k) });
                if (!store.save(std::move(memory)))
                    ::_exit(1);
            }
            ::_exit(0);
        }
        children.push_back(pid);
    }
    for (const pid_t pid : children) {
        int status = 0;
        ASSERT_EQ(::waitpid(pid, &status, 0), pid);
        EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
    }
    const ComparisonMemory loaded = ComparisonStore(folder).load();
    EXPECT_EQ(loaded.entries().size(), std::size_t(kPrograms * kSaves * 200));
    for (int p = 0; p < kPrograms; ++p)
        EXPECT_TRUE(loaded.recall(stampOf(std::uint64_t(p * 100000 + 1)))
                        .sameClass({ std::uint64_t(p + 1), 0 }));
}

TEST(ComparisonStore, TheFolderFollowsTheEnvironment)
{
    const auto keep = [](const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    };
    const auto cache = keep("XDG_CACHE_HOME");
    const auto home = keep("HOME");
    const auto off = keep("QEVRA_NO_CACHE");
    ::setenv("XDG_CACHE_HOME", "/some/cache", 1);
    ::setenv("HOME", "/some/home", 1);
    ::unsetenv("QEVRA_NO_CACHE");
    EXPECT_EQ(ComparisonStore::folderForSearches(), "/some/cache/qevra");
    ::setenv("XDG_CACHE_HOME", "relative", 1);
    EXPECT_EQ(ComparisonStore::folderForSearches(), "/some/home/.cache/qevra");
    ::setenv("QEVRA_NO_CACHE", "1", 1);
    EXPECT_EQ(ComparisonStore::folderForSearches(), std::nullopt);
    EXPECT_EQ(ComparisonStore::defaultFolder(), "/some/home/.cache/qevra");
    ::setenv("QEVRA_NO_CACHE", "", 1);
    EXPECT_EQ(ComparisonStore::folderForSearches(), "/some/home/.cache/qevra");
    for (const auto& [name, value] :
        { std::pair { "XDG_CACHE_HOME", cache }, { "HOME", home }, { "QEVRA_NO_CACHE", off } }) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }
}
