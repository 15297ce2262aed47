// The media player over GStreamer, on real sound files written by the
// tests and played into fake sinks.
#include "platform/media_player.h"
#include "support/errors.h"
#include "support/media_files.h"
#include "support/temp_tree.h"

#include <QTest>
#include <QTimer>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <numbers>
#include <string>
#include <sys/inotify.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using qevra::platform::MediaPlayer;
using qevra::testing::errorOf;
using qevra::testing::TempTree;
using qevra::testing::wavContent;

namespace {

class MediaPlayerTest : public ::testing::Test {
protected:
    void SetUp() override { player.setSinksForTesting("fakesink", "fakesink", true); }

    std::string wav(const std::string& name, double seconds)
    {
        return tree.file(name, wavContent(seconds));
    }
    void open(const std::string& path)
    {
        player.setFileName(path);
        player.open();
    }
    bool waitForPosition(std::int64_t ms)
    {
        return QTest::qWaitFor([&] { return player.positionMs() >= ms; }, 5000);
    }

    TempTree tree;
    MediaPlayer player;
};

std::string boundSocket(const std::string& path)
{
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, sizeof address.sun_path - 1);
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    EXPECT_EQ(::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address), 0);
    ::close(fd);
    return path;
}

} // namespace

TEST_F(MediaPlayerTest, OpensPausedAndPlaysInRealTime)
{
    open(wav("tone.wav", 1.0));
    EXPECT_TRUE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.positionMs(), 0);

    player.play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.isPlaying(); }, 5000));
    EXPECT_TRUE(waitForPosition(100));
    EXPECT_FALSE(player.hasReachedEnd());
}

TEST_F(MediaPlayerTest, KeepsTheNameAsExactBytes)
{
    const std::string path = wav("\xff\xfe name %20#?.wav", 0.2);
    player.setFileName(path);
    EXPECT_EQ(player.fileName(), path);
    player.open();
    EXPECT_TRUE(player.isOpen());
}

TEST_F(MediaPlayerTest, StopAndPlayNeedAnOpenFileAndCloseNeedsNone)
{
    player.setFileName(wav("tone.wav", 0.2));
    EXPECT_EQ(errorOf([&] { player.stop(); }), "No MCI device open");
    EXPECT_EQ(errorOf([&] { player.play(); }), "No MCI device open");
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.positionMs(), -1);

    player.close();
    EXPECT_FALSE(player.isOpen());

    player.open();
    player.play();
    player.stop();
    player.close();
    EXPECT_FALSE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    player.close();
    EXPECT_EQ(errorOf([&] { player.stop(); }), "No MCI device open");
    EXPECT_FALSE(player.isOpen());
}

TEST_F(MediaPlayerTest, FilesThatCannotBeOpenedGiveGstreamersTextAndLeaveItClosed)
{
    const std::string good = wav("tone.wav", 0.2);
    struct Case {
        std::string path;
        QString expected;
    };
    const Case cases[] = {
        { tree.path("missing.wav"), "Resource not found." },
        { tree.file("notes.wav", "Just some text, not a sound.\n"),
            "Could not determine type of stream." },
        { tree.dir("folder.wav"), "is a directory." },
        { "", "No file name given" },
        { "tone.wav", "is not an absolute file name" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        open(good);
        player.play();
        player.setFileName(c.path);
        const QString message = errorOf([&] { player.open(); });
        EXPECT_TRUE(message.contains(c.expected)) << message.toStdString();
        EXPECT_FALSE(player.isOpen());
        EXPECT_FALSE(player.isPlaying());
        EXPECT_EQ(errorOf([&] { player.stop(); }), "No MCI device open");
    }
}

TEST_F(MediaPlayerTest, PlayGoesOnFromWhereStopLeftOff)
{
    open(wav("tone.wav", 2.0));
    player.play();
    ASSERT_TRUE(waitForPosition(300));
    player.stop();
    ASSERT_TRUE(QTest::qWaitFor([&] { return !player.isPlaying(); }, 5000));
    EXPECT_TRUE(player.isOpen());
    const std::int64_t stoppedAt = player.positionMs();
    EXPECT_GE(stoppedAt, 300);
    QTest::qWait(200);
    EXPECT_LT(player.positionMs(), stoppedAt + 100);

    player.play();
    EXPECT_GE(player.positionMs(), stoppedAt - 50);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.isPlaying(); }, 5000));
}

TEST_F(MediaPlayerTest, ReopeningStartsAgainFromTheStart)
{
    open(wav("tone.wav", 2.0));
    player.play();
    ASSERT_TRUE(waitForPosition(300));

    player.open();
    EXPECT_TRUE(player.isOpen());
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.positionMs(), 0);
    player.play();
    EXPECT_LT(player.positionMs(), 200);
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.isPlaying(); }, 5000));
}

TEST_F(MediaPlayerTest, OpeningAnotherFileReplacesTheFirst)
{
    open(wav("long.wav", 2.0));
    player.play();
    ASSERT_TRUE(waitForPosition(300));

    open(wav("short.wav", 0.3));
    EXPECT_EQ(player.fileName(), tree.path("short.wav"));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_EQ(player.positionMs(), 0);
    // The new file ends after its own 0.3 s, not the first file's 2 s.
    player.play();
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.hasReachedEnd(); }, 1500));
}

TEST_F(MediaPlayerTest, PlayAfterTheEndRewinds)
{
    open(wav("short.wav", 0.3));
    player.play();
    ASSERT_TRUE(QTest::qWaitFor([&] { return player.hasReachedEnd(); }, 5000));
    EXPECT_FALSE(player.isPlaying());
    EXPECT_GE(player.positionMs(), 250);

    player.play();
    EXPECT_FALSE(player.hasReachedEnd());
    EXPECT_LT(player.positionMs(), 200);
    EXPECT_TRUE(player.isPlaying());
    // It plays the whole file again.
    EXPECT_TRUE(QTest::qWaitFor([&] { return player.hasReachedEnd(); }, 5000));
}

TEST_F(MediaPlayerTest, WhatIsNoRegularFileIsRefusedBeforeGstreamerSeesIt)
{
    // A sound file swapped for a named pipe that no one writes.
    const std::string swapped = wav("tone.wav", 0.2);
    open(swapped);
    player.play();
    ::unlink(swapped.c_str());
    ASSERT_EQ(::mkfifo(swapped.c_str(), 0644), 0);
    // Were an open to block on the pipe, the alarm would end the test
    // program rather than let it hang.
    ::alarm(60);
    struct Case {
        std::string path;
        QString expected;
    };
    const Case cases[] = {
        { swapped, "is a named pipe, not a regular file." },
        { "/dev/null", "\"/dev/null\" is a device, not a regular file." },
        { boundSocket(tree.path("socket.wav")), "is a socket, not a regular file." },
        { tree.link("link.wav", wav("target.wav", 0.2)), "Too many levels of symbolic links" },
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.path);
        player.setFileName(c.path);
        const QString message = errorOf([&] { player.open(); });
        EXPECT_TRUE(message.contains(c.expected)) << message.toStdString();
        EXPECT_FALSE(player.isOpen());
    }
    ::alarm(0);
}

TEST_F(MediaPlayerTest, EventsRunWhileAFileIsSlowToOpen)
{
    // Every buffer waits half a second on its way to the sink.
    player.setSinksForTesting("identity sleep-time=500000 ! fakesink", "fakesink");
    int ticks = 0;
    QTimer timer;
    timer.callOnTimeout([&] { ++ticks; });
    timer.start(10);
    open(wav("tone.wav", 0.2));
    EXPECT_TRUE(player.isOpen());
    EXPECT_GT(ticks, 0);
}

TEST_F(MediaPlayerTest, APipeSwappedInAsTheFileIsCheckedNeverReachesGstreamer)
{
    // A folder and a missing file are told apart by the check itself. At
    // the very moment the folder is opened to be checked, another program
    // puts a named pipe no one writes in its place: were the name then
    // handed to GStreamer, its open would wait on the pipe for good.
    const std::string path = tree.dir("folder.wav");
    const int watch = ::inotify_init1(IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(::inotify_add_watch(watch, path.c_str(), IN_OPEN), 0);
    std::atomic<bool> swapped { false };
    std::atomic<bool> returned { false };
    std::thread swapper([&] {
        char events[4096];
        if (::read(watch, events, sizeof events) <= 0)
            return;
        ::rmdir(path.c_str());
        ::mkfifo(path.c_str(), 0644);
        swapped = true;
        // A reader stuck on the pipe is let go after a while, so that a
        // failure shows as slowness rather than a hung test.
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(5);
        while (!returned && std::chrono::steady_clock::now() < deadline)
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        const int writer = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC);
        if (writer >= 0)
            ::close(writer);
    });
    player.setFileName(path);
    const auto start = std::chrono::steady_clock::now();
    const QString message = errorOf([&] { player.open(); });
    const auto took = std::chrono::steady_clock::now() - start;
    returned = true;
    swapper.join();
    ::close(watch);
    EXPECT_TRUE(swapped);
    EXPECT_TRUE(message.contains("is a directory.")) << message.toStdString();
    EXPECT_LT(took, std::chrono::seconds(3));
    EXPECT_FALSE(player.isOpen());

    // A missing file: GStreamer's words, without GStreamer.
    player.setFileName(tree.path("missing.wav"));
    EXPECT_EQ(errorOf([&] { player.open(); }), "Resource not found.");
}
