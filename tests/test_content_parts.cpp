// The parts of the content stage on their own: the lockstep comparison on
// streams held in memory, the work queue and the descriptor slots.
#include "search/descriptor_slots.h"
#include "search/lockstep.h"
#include "search/work_queue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <stdexcept>
#include <string>
#include <thread>

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
    DescriptorSlots slots(1);
    ASSERT_TRUE(slots.acquire(1, queue.cancelFlag()));
    queue.onCancel([&] { slots.wake(); });
    std::atomic<bool> gaveUp { false };
    // The task waits for a slot that never comes back: only the cancel
    // ends its wait.
    queue.post([&] { gaveUp = !slots.acquire(1, queue.cancelFlag()); });
    int asked = 0;
    EXPECT_FALSE(queue.run(2, [&] { return ++asked < 3; }));
    EXPECT_TRUE(gaveUp);
    EXPECT_TRUE(queue.cancelled());
}

TEST(DescriptorSlots, AWaitEndsWhenSlotsComeBack)
{
    DescriptorSlots slots(3);
    const std::atomic<bool> never { false };
    ASSERT_TRUE(slots.acquire(2, never));
    std::atomic<bool> got { false };
    std::thread waiter([&] { got = slots.acquire(3, never); });
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    EXPECT_FALSE(got);
    slots.release(2);
    waiter.join();
    EXPECT_TRUE(got);
    EXPECT_GE(descriptorBudget(), 2u);
}
