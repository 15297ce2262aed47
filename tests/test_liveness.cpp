// The window stays live and Stop answers at once whatever the disk does:
// through the real windows, on a share slow to answer every look at a file
// and on a read that never returns (the file-system seam in front of real
// trees). A heartbeat timer on the window's thread measures the longest
// time without events; the bounds are generous, so that a loaded machine
// passes, and the benchmark gives the real figures.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QTimer>

#include <chrono>
#include <optional>
#include <string>

using namespace qevra;
using namespace qevra::testing;
using Clock = std::chrono::steady_clock;
using std::chrono::milliseconds;

namespace {

// What a search looked like from the window's thread.
struct Watched {
    Clock::duration longestGap {}; // without events
    std::optional<Clock::duration> stopToEnd; // from the press of Stop
};

// Generous: the goal is a tenth of a second.
constexpr milliseconds kLive { 1000 };

class Liveness : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        // Reading directories, measuring and identifying run ahead on
        // workers, as in the program.
        form1->measureThreads = 2;
        form1->readAhead = true;
    }
    void TearDown() override
    {
        // Workers left behind by a Stop end quickly before the double goes.
        fileSystem.metadataDelayMs = 0;
        FormsTest::TearDown();
    }

    // Searches `root` for "txt" by `criterion`, pressing Stop after
    // `stopAfter` when given.
    Watched search(const std::string& root, controls::TxpCheckBox* criterion,
        std::optional<milliseconds> stopAfter = std::nullopt)
    {
        prepareSearch({ root }, "txt", criterion);

        Watched watched;
        Clock::time_point last = Clock::now();
        QTimer heartbeat;
        heartbeat.callOnTimeout([&] {
            const Clock::time_point now = Clock::now();
            watched.longestGap = std::max(watched.longestGap, now - last);
            last = now;
        });
        heartbeat.start(5);
        std::optional<Clock::time_point> stoppedAt;
        QTimer stop;
        stop.setSingleShot(true);
        stop.callOnTimeout([&] {
            stoppedAt = Clock::now();
            click(form1->fsBitBtn4);
        });
        if (stopAfter)
            stop.start(*stopAfter);
        last = Clock::now();
        click(form1->xpButton3);
        const Clock::time_point ended = Clock::now();
        watched.longestGap = std::max(watched.longestGap, ended - last);
        if (stoppedAt)
            watched.stopToEnd = ended - *stoppedAt;
        return watched;
    }
};

std::string shown(Clock::duration duration)
{
    return std::to_string(std::chrono::duration_cast<milliseconds>(duration).count()) + " ms";
}

} // namespace

TEST_F(Liveness, ASizeSearchOnASlowShareStaysLiveAndStopsAtOnce)
{
    // 20 ms for every look at a file: a chunk of files measured ahead took
    // seconds, all of them without events, and Stop waited for it.
    TempTree tree;
    for (int i = 0; i < 400; ++i)
        tree.file(numbered("d", i % 4, "/") + numbered("f", i, ".txt"), "x");
    fileSystem.metadataDelayMs = 20;
    const Watched watched = search(tree.root(), form1->CheckBox3, milliseconds(1000));
    ASSERT_TRUE(watched.stopToEnd);
    EXPECT_LT(*watched.stopToEnd, kLive) << shown(*watched.stopToEnd);
    EXPECT_LT(watched.longestGap, kLive) << shown(watched.longestGap);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
    EXPECT_FALSE(form1->searching());

    // The next search is not held up by what was left behind.
    fileSystem.metadataDelayMs = 0;
    TempTree other;
    other.file("a/x.txt", "same");
    other.file("b/y.txt", "same");
    search(other.root(), form1->CheckBox3);
    EXPECT_EQ(form1->ListBox2.size(), 1u);
    EXPECT_TRUE(form2->isVisible());
}

TEST_F(Liveness, ANameSearchOnASlowShareStaysLive)
{
    // Namesakes are identified on workers while the window waits.
    TempTree tree;
    for (int i = 0; i < 200; ++i) {
        tree.file("a/f" + std::to_string(i) + ".txt", "x");
        tree.file("b/f" + std::to_string(i) + ".txt", "x");
    }
    fileSystem.metadataDelayMs = 10;
    const Watched watched = search(tree.root(), form1->CheckBox2);
    EXPECT_LT(watched.longestGap, kLive) << shown(watched.longestGap);
    EXPECT_EQ(form1->ListBox2.size(), 400u);
}

TEST_F(Liveness, StopDuringAReadThatNeverReturnsEndsTheSearchAtOnce)
{
    // A read from a share that stopped answering: Stop leaves the worker
    // waiting on it, and the next search runs as if nothing were left.
    TempTree tree;
    const std::string content(200000, 'c');
    for (const char* dir : { "a", "b", "c" })
        tree.file(std::string(dir) + "/x.txt", content);
    fileSystem.hangingReads = { tree.path("b/x.txt") };
    const Watched watched = search(tree.root(), form1->checkbox1, milliseconds(300));
    ASSERT_TRUE(watched.stopToEnd);
    EXPECT_LT(*watched.stopToEnd, kLive) << shown(*watched.stopToEnd);
    EXPECT_LT(watched.longestGap, kLive) << shown(watched.longestGap);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_FALSE(form1->searching());
    EXPECT_EQ(fileSystem.busy.load(), 1); // the read, still waiting

    TempTree other;
    other.file("a/y.txt", content);
    other.file("b/y.txt", content);
    const Watched next = search(other.root(), form1->checkbox1);
    EXPECT_LT(next.longestGap, kLive) << shown(next.longestGap);
    EXPECT_EQ(form1->ListBox2.size(), 1u);
    EXPECT_TRUE(form2->isVisible());
    EXPECT_EQ(fileSystem.busy.load(), 1);
}

TEST_F(Liveness, StopWhileADirectoryReadNeverReturnsEndsTheSearchAtOnce)
{
    // The share stops answering in the middle of the walk: the window keeps
    // its events, Stop ends the search with what was collected before, and
    // the next search runs while the read is still stuck.
    TempTree tree;
    tree.file("x.txt", "x"); // the root's own files come before its folders
    tree.file("b/inner/y.txt", "y");
    fileSystem.hangingDirectories = { tree.path("b") };
    const Watched watched = search(tree.root(), form1->CheckBox3, milliseconds(300));
    ASSERT_TRUE(watched.stopToEnd);
    EXPECT_LT(*watched.stopToEnd, kLive) << shown(*watched.stopToEnd);
    EXPECT_LT(watched.longestGap, kLive) << shown(watched.longestGap);
    EXPECT_FALSE(form1->searching());
    EXPECT_FALSE(form2->isVisible());
    ASSERT_EQ(form1->ListBox1.size(), 1u);
    EXPECT_EQ(form1->ListBox1[0], tree.path("x.txt"));
    EXPECT_EQ(form1->StatusBar1->text(), "    Идет сканирование каталога");

    TempTree other;
    other.file("a/z.txt", "same");
    other.file("b/z.txt", "same");
    search(other.root(), form1->CheckBox3);
    EXPECT_EQ(form1->ListBox2.size(), 1u);
    EXPECT_TRUE(form2->isVisible());
}
