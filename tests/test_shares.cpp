// The engine on a share slow to answer and on one that stops answering: a
// FUSE pass-through of a local folder with a delay on every request and a
// switch that hangs its reads, mounted in a private mount namespace of a
// child process. The caller's progress runs while it waits, and a stop ends
// the work at once whatever the share does. The bounds are generous (a
// second against the goal of a tenth); the benchmark gives the figures.
#include "fs/file_system.h"
#include "search/collector.h"
#include "search/content_stage.h"
#include "search/measuring.h"
#include "search/pairing.h"
#include "support/pass_through.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <csignal>
#include <fstream>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qevra;
using qevra::testing::kChildSkipped;
using qevra::testing::PassThrough;
using qevra::testing::TempTree;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

constexpr milliseconds kLive { 1000 };

// Watches a wait from the caller's side: the longest time between two
// calls of the progress, and when it was told to stop.
class Watch {
public:
    explicit Watch(milliseconds stopAfter)
        : stopAfter_(stopAfter)
    {
    }
    bool step()
    {
        const auto now = Clock::now();
        longestGap = std::max(longestGap, now - last_);
        last_ = now;
        if (now - start_ < stopAfter_)
            return true;
        if (!stoppedAt)
            stoppedAt = now;
        return false;
    }
    Clock::duration sinceStop() const
    {
        return stoppedAt ? Clock::now() - *stoppedAt : Clock::duration();
    }

    Clock::duration longestGap {};
    std::optional<Clock::time_point> stoppedAt;

private:
    const milliseconds stopAfter_;
    const Clock::time_point start_ = Clock::now();
    Clock::time_point last_ = start_;
};

#ifdef QEVRA_FUSE_PASSTHROUGH

// Runs `work(source, share)` in a child process with a tmpfs at `base`, its
// folder `source` filled by `fill` and shown at `share` through the
// pass-through started with `options`; kChildSkipped where the kernel
// refuses.
int onShare(const std::string& base, const std::vector<std::string>& options,
    const std::function<void(const std::string&)>& fill,
    const std::function<int(const std::string&, PassThrough&)>& work)
{
    return qevra::testing::inMountNamespace([&] {
        if (::mount("qevra-test", base.c_str(), "tmpfs", 0, "mode=0755") != 0)
            return kChildSkipped;
        const std::string source = base + "/source";
        const std::string share = base + "/share";
        ::mkdir(source.c_str(), 0755);
        ::mkdir(share.c_str(), 0755);
        fill(source);
        PassThrough passThrough(QEVRA_FUSE_PASSTHROUGH, source, share, options);
        if (!passThrough.mounted())
            return kChildSkipped;
        return work(share, passThrough);
    });
}

#define EXPECT_SHARE_PASSES(status)                                                                \
    do {                                                                                           \
        const int shareStatus = (status);                                                          \
        if (shareStatus == kChildSkipped)                                                          \
            GTEST_SKIP() << "the kernel refuses a private FUSE mount here";                        \
        EXPECT_EQ(shareStatus, 0);                                                                 \
    } while (false)

bool fuseUsable()
{
    return ::access("/dev/fuse", R_OK | W_OK) == 0;
}

#endif

} // namespace

#ifdef QEVRA_FUSE_PASSTHROUGH

TEST(Shares, MeasuringOnASlowShareKeepsTheCallerBusyAndStopsAtOnce)
{
    // 20 ms a request, and several requests a file: a chunk measured ahead
    // takes seconds, which the caller waited through without a step.
    if (!fuseUsable())
        GTEST_SKIP() << "no /dev/fuse here";
    TempTree tree;
    EXPECT_SHARE_PASSES(onShare(
        tree.dir("base"), { "--delay", "20" },
        [](const std::string& source) {
            for (int i = 0; i < 60; ++i)
                std::ofstream(source + "/f" + std::to_string(i) + ".txt") << i;
        },
        [](const std::string& share, PassThrough&) {
            search::PathList candidates;
            for (int i = 0; i < 60; ++i)
                candidates.append(share + "/f" + std::to_string(i) + ".txt");
            search::StampList stamps;
            Watch watch(milliseconds(400));
            search::ProgressFunction progress(
                [&](search::Phase, std::uint64_t, std::uint64_t) { return watch.step(); });
            const bool completed = search::measureCandidates(
                fs::realFileSystem(), candidates, stamps, progress, {}, 2);
            const auto stopToEnd = watch.sinceStop();
            CHECK_IN_CHILD(!completed);
            CHECK_IN_CHILD(watch.stoppedAt);
            CHECK_IN_CHILD(stopToEnd < kLive);
            CHECK_IN_CHILD(watch.longestGap < kLive);
            return 0;
        }));
}

TEST(Shares, TheWalkOfASlowShareKeepsTheCallerBusy)
{
    if (!fuseUsable())
        GTEST_SKIP() << "no /dev/fuse here";
    TempTree tree;
    EXPECT_SHARE_PASSES(onShare(
        tree.dir("base"), { "--delay", "20" },
        [](const std::string& source) {
            for (int d = 0; d < 12; ++d) {
                const std::string dir = source + "/d" + std::to_string(d);
                ::mkdir(dir.c_str(), 0755);
                std::ofstream(dir + "/x.txt") << d;
            }
        },
        [](const std::string& share, PassThrough&) {
            search::FileLister lister;
            search::Collector collector(fs::realFileSystem(), lister, true);
            const std::vector<search::WildcardMatcher> masks = { search::WildcardMatcher("*.txt") };
            search::PathList candidates;
            Watch watch(milliseconds(60000));
            search::ProgressFunction progress(
                [&](search::Phase, std::uint64_t, std::uint64_t) { return watch.step(); });
            CHECK_IN_CHILD(collector.collect(share, masks, candidates, progress)
                == search::CollectOutcome::Completed);
            CHECK_IN_CHILD(candidates.size() == 12);
            // One directory read is several requests: a walk at the
            // caller's pace left it that long without a step each time.
            CHECK_IN_CHILD(watch.longestGap < milliseconds(200));
            return 0;
        }));
}

TEST(Shares, StopDuringAReadTheShareNeverAnswersEndsTheContentStageAtOnce)
{
    if (!fuseUsable())
        GTEST_SKIP() << "no /dev/fuse here";
    TempTree tree;
    const std::string content(256 * 1024, 'q');
    EXPECT_SHARE_PASSES(onShare(
        tree.dir("base"), { "--hang-reads" },
        [&](const std::string& source) {
            std::ofstream(source + "/a.txt") << content;
            std::ofstream(source + "/b.txt") << content;
        },
        [](const std::string& share, PassThrough& passThrough) {
            fs::FileSystem& files = fs::realFileSystem();
            search::PathList candidates;
            search::StampList stamps;
            for (const char* name : { "/a.txt", "/b.txt" }) {
                candidates.append(share + name);
                stamps.push_back(files.measure(share + name));
            }
            // Were the stop to wait for the read, the share would end after
            // a while, so that the test fails rather than hangs.
            std::atomic<bool> returned { false };
            std::thread watchdog([&] {
                const auto deadline = Clock::now() + std::chrono::seconds(10);
                while (!returned && Clock::now() < deadline)
                    std::this_thread::sleep_for(milliseconds(10));
                if (!returned)
                    passThrough.signal(SIGTERM);
            });
            Watch watch(milliseconds(300));
            search::ProgressFunction progress(
                [&](search::Phase, std::uint64_t, std::uint64_t) { return watch.step(); });
            const auto rows = search::pairByContent(files, candidates, stamps, progress);
            const auto stopToEnd = watch.sinceStop();
            returned = true;
            watchdog.join();
            CHECK_IN_CHILD(!rows);
            CHECK_IN_CHILD(watch.stoppedAt);
            CHECK_IN_CHILD(stopToEnd < kLive);
            CHECK_IN_CHILD(watch.longestGap < kLive);
            // The share goes away; the read left behind fails, and its
            // worker ends.
            passThrough.stop();
            return 0;
        }));
}

#else

TEST(Shares, MeasuringOnASlowShareKeepsTheCallerBusyAndStopsAtOnce)
{
    GTEST_SKIP() << "built without libfuse3: no pass-through file system to mount";
}

#endif

TEST(Shares, SparseFilesOfSizesChosenToCollideCostWhatOtherFilesCost)
{
    // Sizes cost nothing to choose: a sparse file of two petabytes takes no
    // disk on tmpfs. These all fell on one place of a table hashed by a
    // fixed multiplier (its bits from 32 up), so that each file measured
    // walked every earlier one.
    TempTree tree;
    const std::string base = tree.dir("base");
    const int status = qevra::testing::inMountNamespace([&] {
        if (::mount("qevra-test", base.c_str(), "tmpfs", 0, "mode=0755") != 0)
            return kChildSkipped;
        constexpr std::uint64_t kMultiplier = 0x9E3779B97F4A7C15ull;
        std::uint64_t inverse = kMultiplier;
        for (int i = 0; i < 6; ++i)
            inverse *= 2 - kMultiplier * inverse;
        constexpr std::uint32_t kFiles = 3000;
        search::PathList candidates;
        for (std::uint32_t v = 0; v < kFiles; ++v) {
            // The last two share a size, and so pair.
            const std::uint64_t size = (inverse * std::min(v, kFiles - 2)) & ((1ull << 51) - 1);
            const std::string path = base + "/f" + std::to_string(v);
            std::ofstream(path).close();
            CHECK_IN_CHILD(::truncate(path.c_str(), off_t(size)) == 0);
            candidates.append(path);
        }
        search::StampList stamps;
        search::ProgressFunction goOn({});
        CHECK_IN_CHILD(
            search::measureCandidates(fs::realFileSystem(), candidates, stamps, goOn, {}, 2));
        search::KeyPairer pairer;
        for (std::uint32_t i = 0; i < kFiles; ++i)
            pairer.add(i, std::uint64_t(stamps[i].size));
        CHECK_IN_CHILD((pairer.pairs(candidates, stamps).listed()
            == std::vector<search::Row> { { kFiles - 2, kFiles - 1 } }));
        CHECK_IN_CHILD(pairer.probes() < std::uint64_t(kFiles) * 8);
        return 0;
    });
    if (status == kChildSkipped)
        GTEST_SKIP() << "the kernel refuses a private tmpfs here";
    EXPECT_EQ(status, 0);
}
