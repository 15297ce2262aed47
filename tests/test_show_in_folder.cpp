// "Показать в папке" as the program does it: the file manager's ShowItems
// call on a private session bus of the test's own, and the folder opened
// instead when no file manager answers.
#include "platform/services.h"
#include "platform/show_in_folder.h"
#include "support/temp_tree.h"

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <cstdlib>
#include <fcntl.h>
#include <optional>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using qevra::platform::fileAddress;
using qevra::platform::folderOf;
using qevra::platform::showItemInFolder;
using qevra::testing::TempTree;

namespace {

// A file manager that records what it is asked to show.
class FakeFileManager : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.freedesktop.FileManager1")
public:
    std::vector<std::pair<QStringList, QString>> calls;

public slots:
    void ShowItems(const QStringList& uris, const QString& startupId)
    {
        calls.emplace_back(uris, startupId);
    }
};

// A dbus-daemon of the test's own, ended with the test.
class PrivateBus {
public:
    explicit PrivateBus(const TempTree& tree)
    {
        const std::string config = tree.file("bus.conf",
            "<!DOCTYPE busconfig PUBLIC \"-//freedesktop//DTD D-Bus Bus Configuration 1.0//EN\"\n"
            " \"http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd\">\n"
            "<busconfig><type>session</type><listen>unix:tmpdir="
                + tree.root()
                + "</listen><auth>EXTERNAL</auth>"
                  "<policy context=\"default\"><allow send_destination=\"*\"/>"
                  "<allow eavesdrop=\"true\"/><allow own=\"*\"/></policy></busconfig>\n");
        int out[2];
        if (::pipe(out) != 0)
            return;
        // The daemon ends with the test, whatever ends it, and keeps none
        // of the test's output open.
        const pid_t parent = ::getpid();
        const std::string configArgument = "--config-file=" + config;
        pid_ = ::fork();
        if (pid_ == 0) {
            ::prctl(PR_SET_PDEATHSIG, SIGTERM);
            if (::getppid() != parent)
                ::_exit(1);
            ::close(out[0]);
            const int quiet = ::open("/dev/null", O_RDWR);
            ::dup2(quiet, 0);
            ::dup2(quiet, 1);
            ::dup2(quiet, 2);
            ::dup2(out[1], 3);
            ::execlp("dbus-daemon", "dbus-daemon", configArgument.c_str(), "--nofork",
                "--print-address=3", static_cast<char*>(nullptr));
            ::_exit(127);
        }
        ::close(out[1]);
        if (pid_ < 0)
            pid_ = 0;
        char ch = 0;
        while (pid_ && ::read(out[0], &ch, 1) == 1 && ch != '\n')
            address += ch;
        ::close(out[0]);
    }
    ~PrivateBus()
    {
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    QDBusConnection connect(const QString& name) const
    {
        return QDBusConnection::connectToBus(QString::fromStdString(address), name);
    }

    std::string address;

private:
    pid_t pid_ = 0;
};

class ShowInFolder : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_FALSE(bus.address.empty()) << "dbus-daemon did not start (scripts/install-deps)";
        fileManagerSide = bus.connect("file-manager");
        programSide = bus.connect("program");
        ASSERT_TRUE(fileManagerSide.isConnected());
        ASSERT_TRUE(programSide.isConnected());
    }
    void TearDown() override
    {
        QDBusConnection::disconnectFromBus("file-manager");
        QDBusConnection::disconnectFromBus("program");
    }

    void show(const std::string& path)
    {
        showItemInFolder(programSide, path,
            [this](const std::string& folder) { openedFolders.push_back(folder); });
    }

    TempTree tree;
    PrivateBus bus { tree };
    QDBusConnection fileManagerSide { QString() };
    QDBusConnection programSide { QString() };
    std::vector<std::string> openedFolders;
};

} // namespace

TEST(FileAddress, KeepsTheExactBytesOfThePath)
{
    EXPECT_EQ(fileAddress("/tmp/caf\xe9 x/50%.txt"), "file:///tmp/caf%E9%20x/50%25.txt");
    EXPECT_EQ(fileAddress("/home/u/\xd1\x84.jpg"), "file:///home/u/%D1%84.jpg");
    EXPECT_EQ(folderOf("/a/b/c.txt"), "/a/b");
    EXPECT_EQ(folderOf("/c.txt"), "/");
}

TEST_F(ShowInFolder, TheFileManagerIsAskedToShowTheFile)
{
    FakeFileManager fileManager;
    ASSERT_TRUE(fileManagerSide.registerObject(
        "/org/freedesktop/FileManager1", &fileManager, QDBusConnection::ExportAllSlots));
    ASSERT_TRUE(fileManagerSide.registerService("org.freedesktop.FileManager1"));
    const std::string path = tree.file("caf\xe9/x.txt");
    show(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !fileManager.calls.empty(); }, 5000));
    EXPECT_EQ(fileManager.calls[0].first, QStringList { fileAddress(path) });
    EXPECT_EQ(fileManager.calls[0].second, QString());
    // Its answer came: the folder is not opened besides.
    QTest::qWait(200);
    EXPECT_TRUE(openedFolders.empty());
    EXPECT_EQ(fileManager.calls.size(), 1u);
}

TEST_F(ShowInFolder, WithoutAFileManagerTheFolderOpens)
{
    const std::string path = tree.file("d/x.txt");
    show(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !openedFolders.empty(); }, 5000));
    EXPECT_EQ(openedFolders, std::vector<std::string> { tree.path("d") });

    // A name on the bus that answers with an error is no file manager.
    openedFolders.clear();
    ASSERT_TRUE(fileManagerSide.registerService("org.freedesktop.FileManager1"));
    show(path);
    ASSERT_TRUE(QTest::qWaitFor([&] { return !openedFolders.empty(); }, 5000));
    EXPECT_EQ(openedFolders, std::vector<std::string> { tree.path("d") });

    // Without a session bus the folder opens at once.
    openedFolders.clear();
    showItemInFolder(QDBusConnection(QStringLiteral("no such bus")), path,
        [this](const std::string& folder) { openedFolders.push_back(folder); });
    EXPECT_EQ(openedFolders, std::vector<std::string> { tree.path("d") });
}

namespace {

// Sets an environment variable while the object lives.
class ScopedVariable {
public:
    ScopedVariable(const char* name, const std::string& value)
        : name_(name)
    {
        if (const char* old = std::getenv(name))
            old_ = old;
        ::setenv(name, value.c_str(), 1);
    }
    ~ScopedVariable()
    {
        if (old_)
            ::setenv(name_, old_->c_str(), 1);
        else
            ::unsetenv(name_);
    }
    ScopedVariable(const ScopedVariable&) = delete;
    ScopedVariable& operator=(const ScopedVariable&) = delete;

private:
    const char* name_;
    std::optional<std::string> old_;
};

// Puts an xdg-open into `bin` that writes its argument to `argumentFile`
// and ends with `status`.
void writeOpener(const TempTree& tree, const std::string& argumentFile, int status)
{
    std::string script = "#!/bin/sh\nPATH=/usr/bin:/bin\n";
    script += "printf '%s' \"$1\" > '" + argumentFile + ".new'\n";
    script += "mv '" + argumentFile + ".new' '" + argumentFile + "'\nexit ";
    script += std::to_string(status);
    script += "\n";
    const std::string made = tree.file("opener.new", script);
    ::chmod(made.c_str(), 0755);
    ::rename(made.c_str(), tree.path("bin/xdg-open").c_str());
    ::unlink(argumentFile.c_str());
}

} // namespace

TEST_F(ShowInFolder, TheDesktopTellsWhenNothingCanOpenTheFolder)
{
    // The program's own desktop actions, on this test's bus (no file
    // manager) and with an xdg-open of its own alone on PATH.
    ScopedVariable sessionBus("DBUS_SESSION_BUS_ADDRESS", bus.address);
    tree.dir("bin");
    ScopedVariable path("PATH", tree.path("bin"));
    const std::string argumentFile = tree.path("argument");
    const auto argument = [&] {
        return ::access(argumentFile.c_str(), F_OK) == 0 ? qevra::testing::readFile(argumentFile)
                                                         : std::string();
    };
    qevra::platform::Desktop& desktop = qevra::platform::realServices().desktop;
    const std::string file = tree.file("caf\xe9/x.txt");
    int failures = 0;

    writeOpener(tree, argumentFile, 4);
    desktop.showInFolder(file, [&] { ++failures; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return failures == 1; }, 10000));
    EXPECT_EQ(argument(), tree.path("caf\xe9"));

    // The folder opened: nothing is told.
    writeOpener(tree, argumentFile, 0);
    desktop.showInFolder(file, [&] { ++failures; });
    ASSERT_TRUE(QTest::qWaitFor([&] { return !argument().empty(); }, 10000));
    QTest::qWait(300);
    EXPECT_EQ(failures, 1);

    // An opener that cannot be started is told at once.
    qevra::platform::launchWatched("qevra-no-such-opener", file, [&] { ++failures; });
    EXPECT_EQ(failures, 2);
}

#include "test_show_in_folder.moc"
