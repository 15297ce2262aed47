// The parts of the content stage on their own: the lockstep comparison on
// streams held in memory, the work queue and the descriptor slots; and the
// measuring ahead of the size pass.
#include "search/content_stage.h"
#include "search/descriptor_slots.h"
#include "search/lockstep.h"
#include "search/measuring.h"
#include "search/work_ahead.h"
#include "search/work_queue.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

using namespace qevra::search;
using qevra::fs::FileStamp;
using qevra::fs::ReadStream;

namespace {

// A stream of `size` bytes of one value, with another byte where asked;
// nothing is stored, so that lengths past 4 GiB cost only the reading. It
// may fail (or throw) once it has read `failAt` bytes.
class PatternStream : public ReadStream {
public:
    PatternStream(
        std::int64_t size, std::int64_t oddAt = -1, std::int64_t failAt = -1, bool throws = false)
        : size_(size)
        , oddAt_(oddAt)
        , failAt_(failAt)
        , throws_(throws)
    {
    }
    std::optional<FileStamp> stamp() override { return FileStamp { 1, 1, size_, 0 }; }
    std::int64_t read(char* buffer, std::int64_t count) override
    {
        if (failAt_ >= 0 && offset_ >= failAt_) {
            if (throws_)
                throw std::runtime_error("the disk went away");
            return -1;
        }
        const std::int64_t got = std::min(count, size_ - offset_);
        std::memset(buffer, 'z', static_cast<std::size_t>(got));
        if (oddAt_ >= offset_ && oddAt_ < offset_ + got)
            buffer[oddAt_ - offset_] = 'q';
        offset_ += got;
        return got;
    }

private:
    std::int64_t size_;
    std::int64_t oddAt_;
    std::int64_t failAt_;
    bool throws_;
    std::int64_t offset_ = 0;
};

struct Spec {
    std::int64_t size;
    std::int64_t oddAt = -1;
    std::int64_t failAt = -1;
    bool throws = false;
    bool opens = true;
};

// Compares the streams the specs describe; every file must be closed once.
std::vector<int> labelsOf(const std::vector<Spec>& specs, std::size_t block = 64 * 1024)
{
    std::vector<int> closed(specs.size(), 0);
    std::atomic<std::uint64_t> bytes { 0 };
    Lockstep work;
    work.count = specs.size();
    work.block = block;
    work.open = [&](std::size_t k) -> std::unique_ptr<ReadStream> {
        if (!specs[k].opens)
            return nullptr;
        return std::make_unique<PatternStream>(
            specs[k].size, specs[k].oddAt, specs[k].failAt, specs[k].throws);
    };
    work.closed = [&](std::size_t k) { ++closed[k]; };
    work.bytesRead = &bytes;
    std::vector<int> labels;
    EXPECT_TRUE(compareInLockstep(work, labels));
    for (std::size_t k = 0; k < specs.size(); ++k)
        EXPECT_EQ(closed[k], 1) << "file " << k;
    return labels;
}

} // namespace

TEST(Lockstep, LabelsFilesEqualToTheirVeryEnds)
{
    const std::vector<int> labels = labelsOf({
        { 5000 }, // 0
        { 5000, 4999 }, // 1: differs in the last byte
        { 5000 }, // 2: equal to 0
        { 5001 }, // 3: one byte longer: never equal, whatever sizes said
        { 5000, 4999 }, // 4: equal to 1
        { 5000, 12 }, // 5: alone
    });
    EXPECT_EQ(labels[0], labels[2]);
    EXPECT_EQ(labels[1], labels[4]);
    EXPECT_NE(labels[0], labels[1]);
    EXPECT_GE(labels[0], 0);
    EXPECT_GE(labels[1], 0);
    EXPECT_EQ(labels[3], kAlone);
    EXPECT_EQ(labels[5], kAlone);
}

TEST(Lockstep, FilesThatFailPairWithNothingAndCloseOnce)
{
    const std::vector<int> labels = labelsOf({
        { 300000 },
        { 300000, -1, 100000 }, // a read fails part way
        { 300000, -1, 200000, true }, // a read throws
        { 300000, -1, -1, false, false }, // cannot be opened
        { 300000 },
    });
    EXPECT_EQ(labels[1], kFailed);
    EXPECT_EQ(labels[2], kFailed);
    EXPECT_EQ(labels[3], kFailed);
    EXPECT_EQ(labels[0], labels[4]);
    EXPECT_GE(labels[0], 0);
}

TEST(Lockstep, EmptyFilesAreReadAndEqual)
{
    const std::vector<int> labels = labelsOf({ { 0 }, { 0 }, { 1 } });
    EXPECT_EQ(labels[0], labels[1]);
    EXPECT_GE(labels[0], 0);
    EXPECT_EQ(labels[2], kAlone);
}

TEST(Lockstep, DifferencesPastFourGibibytesCount)
{
    const std::int64_t size = (std::int64_t(1) << 32) + 10;
    const std::vector<int> labels
        = labelsOf({ { size }, { size, size - 3 }, { size } }, 256 * 1024);
    EXPECT_EQ(labels[0], labels[2]);
    EXPECT_EQ(labels[1], kAlone);
}

TEST(Lockstep, StopsWhenCancelled)
{
    std::atomic<bool> cancelled { true };
    int closed = 0;
    Lockstep work;
    work.count = 2;
    work.block = 4096;
    work.open = [](std::size_t) { return std::make_unique<PatternStream>(100000); };
    work.closed = [&](std::size_t) { ++closed; };
    work.cancelled = &cancelled;
    std::vector<int> labels;
    EXPECT_FALSE(compareInLockstep(work, labels));
    EXPECT_EQ(closed, 2);
}

TEST(WorkQueue, TasksPostTasksAndTheWorkEndsWhenAllAreDone)
{
    for (const unsigned threads : { 0u, 1u, 4u }) {
        WorkQueue queue(std::chrono::milliseconds(1));
        std::atomic<int> done { 0 };
        std::function<void(int)> spawn = [&](int depth) {
            ++done;
            if (depth < 6) {
                queue.post([&, depth] { spawn(depth + 1); });
                queue.post([&, depth] { spawn(depth + 1); });
            }
        };
        queue.post([&] { spawn(0); });
        EXPECT_TRUE(queue.run(threads, [] { return true; }));
        EXPECT_EQ(done, 127) << threads << " threads";
    }
}

TEST(WorkQueue, AskingFalseCancelsAndWakesOtherWaits)
{
    WorkQueue queue(std::chrono::milliseconds(1));
    DescriptorSlots descriptors(1);
    ASSERT_TRUE(descriptors.acquire(1, queue.cancelFlag()));
    queue.onCancel([&] { descriptors.wake(); });
    std::atomic<bool> gaveUp { false };
    // The task waits for a slot that never comes back: only the cancel
    // ends its wait.
    queue.post([&] { gaveUp = !descriptors.acquire(1, queue.cancelFlag()); });
    int asked = 0;
    EXPECT_FALSE(queue.run(2, [&] { return ++asked < 3; }));
    EXPECT_TRUE(gaveUp);
    EXPECT_TRUE(queue.cancelled());
}

TEST(DescriptorSlots, AWaitEndsWhenSlotsComeBack)
{
    DescriptorSlots descriptors(3);
    const std::atomic<bool> never { false };
    ASSERT_TRUE(descriptors.acquire(2, never));
    std::atomic<bool> got { false };
    std::thread waiter([&] { got = descriptors.acquire(3, never); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got);
    descriptors.release(2);
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_GE(descriptorBudget(), 2u);
}

namespace {

// The real file system, failing the measurement of one path and counting
// what is measured from which thread.
class CountingFileSystem : public qevra::fs::FileSystem {
public:
    bool readDirectory(const std::string&, qevra::fs::DirListing&) override { return false; }
    bool fileExists(const std::string&) override { return false; }
    bool directoryExists(const std::string&) override { return false; }
    FileStamp measure(const std::string& path) override
    {
        ++measured;
        if (path == failing)
            throw qevra::EInOutError(EACCES);
        FileStamp stamp;
        stamp.device = 1;
        stamp.inode = std::stoull(path.substr(1)) + 1;
        stamp.size = std::int64_t(path.size());
        return stamp;
    }
    std::unique_ptr<ReadStream> openRead(const std::string&) override { return nullptr; }
    std::optional<FileStamp> examine(const std::string&, qevra::fs::Resolve) override
    {
        return std::nullopt;
    }
    qevra::fs::Removal removeFile(const std::string&, const FileStamp&, bool) override
    {
        return qevra::fs::Removal::Failed;
    }
    qevra::fs::TrashMove moveToTrash(const std::string&, const FileStamp&, bool) override
    {
        return {};
    }
    qevra::fs::Restoring restoreFromTrash(const qevra::fs::TrashedFile&, FileStamp*) override
    {
        return qevra::fs::Restoring::Failed;
    }

    std::string failing;
    std::atomic<int> measured { 0 };
};

PathList numbered(int count)
{
    PathList list;
    for (int i = 0; i < count; ++i)
        list.append(qevra::testing::numbered("/", i));
    return list;
}

} // namespace

TEST(WorkAhead, AWaitEndsOnlyWhenEveryEarlierChunkIsDoneAndKeepsTheCallerBusy)
{
    // The first chunk is slow, the second quick: waiting for an index in the
    // second must still wait for the first, running `meanwhile` meanwhile.
    std::atomic<bool> firstDone { false };
    WorkAhead ahead(3 * WorkAhead::kChunk, 2, [&](std::size_t begin, std::size_t) {
        return [&firstDone, begin]() -> WorkAhead::Commit {
            if (begin == 0) {
                std::this_thread::sleep_for(std::chrono::milliseconds(150));
                firstDone = true;
            }
            return {};
        };
    });
    int calls = 0;
    EXPECT_TRUE(ahead.waitFor(WorkAhead::kChunk + 1, [&] { return ++calls > 0; }));
    EXPECT_TRUE(firstDone);
    EXPECT_GE(calls, 1);
    EXPECT_TRUE(ahead.waitFor(3 * WorkAhead::kChunk - 1));
}

TEST(WorkAhead, UnboundWorkersRunToTheEndWithNobodyWaiting)
{
    // Far more chunks than the usual bound, none waited for until the end.
    const std::size_t count = 4 * WorkAhead::kChunksAhead * WorkAhead::kChunk;
    std::atomic<std::size_t> done { 0 };
    WorkAhead ahead(
        count, 2,
        [&](std::size_t begin, std::size_t end) {
            return [&done, begin, end]() -> WorkAhead::Commit {
                done += end - begin;
                return {};
            };
        },
        WorkAhead::kAsFarAsItCan);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (done < count && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_EQ(done, count);
    EXPECT_TRUE(ahead.waitFor(count - 1));
}

TEST(WorkAhead, GivingUpLeavesABusyWorkerBehindAndHandsNothingOver)
{
    // One chunk never finishes until released, as a read from a share that
    // stopped answering: the wait gives up when asked, and going does not
    // wait for that worker, which, once released, hands nothing over.
    auto release = std::make_shared<std::atomic<bool>>(false);
    auto ended = std::make_shared<std::atomic<bool>>(false);
    std::vector<int> results(2 * WorkAhead::kChunk, 0);
    {
        WorkAhead ahead(results.size(), 2, [&](std::size_t begin, std::size_t end) {
            return [&results, release, ended, begin, end]() -> WorkAhead::Commit {
                if (begin == 0) {
                    while (!release->load())
                        std::this_thread::sleep_for(std::chrono::milliseconds(1));
                    *ended = true;
                }
                return [&results, begin, end] {
                    for (std::size_t i = begin; i < end; ++i)
                        results[i] = 1;
                };
            };
        });
        int asked = 0;
        EXPECT_FALSE(ahead.waitFor(0, [&] { return ++asked < 3; }));
        EXPECT_EQ(asked, 3);
    }
    // Gone, with the first chunk still busy.
    EXPECT_FALSE(ended->load());
    EXPECT_EQ(results[0], 0);
    release->store(true);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (!ended->load() && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    EXPECT_TRUE(ended->load());
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_EQ(results[0], 0);
}

TEST(MeasureCandidates, TakesTheResultsInOrderWhateverMeasuresThem)
{
    const PathList candidates = numbered(5000);
    for (const unsigned threads : { 0u, 1u, 3u }) {
        CountingFileSystem files;
        StampList stamps;
        std::vector<std::uint32_t> order;
        std::uint64_t steps = 0;
        ProgressFunction progress([&](Phase phase, std::uint64_t done, std::uint64_t total) {
            EXPECT_EQ(phase, Phase::Measuring);
            EXPECT_EQ(done, steps++);
            EXPECT_EQ(total, 5000u);
            return true;
        });
        EXPECT_TRUE(measureCandidates(
            files, candidates, stamps, progress,
            [&](std::uint32_t i) {
                EXPECT_EQ(stamps[i].inode, i + 1u);
                order.push_back(i);
            },
            threads));
        EXPECT_EQ(order.size(), 5000u) << threads << " threads";
        EXPECT_TRUE(std::is_sorted(order.begin(), order.end()));
        EXPECT_EQ(files.measured, 5000);
    }
}

TEST(MeasureCandidates, AFailureEndsTheWorkAtItsTurnAndAStopWhereItIsAsked)
{
    const PathList candidates = numbered(5000);
    for (const unsigned threads : { 0u, 2u }) {
        CountingFileSystem files;
        files.failing = "/3000";
        StampList stamps;
        std::size_t last = 0;
        ProgressFunction goOn({});
        try {
            measureCandidates(
                files, candidates, stamps, goOn, [&](std::uint32_t i) { last = i; }, threads);
            ADD_FAILURE() << "the failure must end the work";
        } catch (const MeasureError& error) {
            EXPECT_EQ(error.index(), 3000u);
            EXPECT_EQ(error.code(), EACCES);
        }
        EXPECT_EQ(last, 2999u);
        // Workers are never far ahead.
        EXPECT_LT(files.measured, 3000 + 20 * 256);

        CountingFileSystem quiet;
        ProgressFunction stopAt100(
            [](Phase, std::uint64_t done, std::uint64_t) { return done < 100; });
        std::size_t taken = 0;
        EXPECT_FALSE(measureCandidates(
            quiet, candidates, stamps, stopAt100, [&](std::uint32_t) { ++taken; }, threads));
        EXPECT_EQ(taken, 100u);
        EXPECT_LT(quiet.measured, 100 + 20 * 256);
    }
}

namespace {

// A file system whose every file reads forever: a share that stopped
// answering.
class DeadShare : public CountingFileSystem {
public:
    std::unique_ptr<ReadStream> openRead(const std::string&) override
    {
        return std::make_unique<Stuck>();
    }

private:
    class Stuck : public ReadStream {
    public:
        std::optional<FileStamp> stamp() override { return FileStamp { 1, 1, 4096, 0 }; }
        std::int64_t read(char*, std::int64_t) override
        {
            for (;;)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
    };
};

} // namespace

TEST(ContentStage, StopLeavesAReadThatNeverReturnsAndTheProgramEndsWithoutIt)
{
    // In a child process, which then ends as the program would, with the
    // worker still in its read: the stop answers at once, and the end of
    // the program does not wait for the worker.
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
        DeadShare share;
        PathList paths;
        paths.append("/a");
        paths.append("/b");
        const std::vector<FileStamp> stamps(2, FileStamp { 1, 1, 4096, 0 });
        const auto start = std::chrono::steady_clock::now();
        ProgressFunction stopSoon([&](Phase, std::uint64_t, std::uint64_t) {
            return std::chrono::steady_clock::now() - start < std::chrono::milliseconds(100);
        });
        const auto classes = classifyByContent(share, paths, stamps, stopSoon);
        const auto took = std::chrono::steady_clock::now() - start;
        std::exit(!classes && took < std::chrono::seconds(2) ? 0 : 3);
    }
    int status = -1;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (::waitpid(pid, &status, WNOHANG) == 0 && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    if (std::chrono::steady_clock::now() >= deadline) {
        ::kill(pid, SIGKILL);
        ::waitpid(pid, &status, 0);
        FAIL() << "the program waited for the stuck read";
    }
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0);
}
