// Searches whose answer is a few huge groups of equal files, through the
// main window, offscreen, each in a process of its own:
//
//   qevra-bench-groups [--only N] [--max-memory-mb M] [--max-seconds S]
//
// Each scenario's files are made fresh in a temporary folder on tmpfs (a
// private tmpfs in a mount namespace of this program's own when /tmp is on
// a disk and the program may mount), and removed afterwards. The program
// then runs itself again for the scenario, as a child that builds the
// windows, chooses the folder through the folder dialog, types the
// extension, clicks the criterion's box and presses "Искать копии", with a
// heartbeat timer on the window's thread. The child tells:
//
// - the rows (the count the editor gets),
// - the peak resident memory (VmHWM) from the press to the editor shown,
//   against the same program's peak with nothing searched (its windows
//   shown): the rise above it, and its budget of 100 bytes a candidate plus
//   the candidates' paths,
// - the time from the press to the editor shown, and from the search's last
//   request to the file system (the pass done with the files) to the
//   editor shown,
// - the longest time without events on the window's thread,
// - for the group of 30,000 files of one size, the time of "Удалить все"
//   (a click on the editor's first column's button) and the files left.
//
// The parent watches each child's resident memory and kills a child above M
// MB (three quarters of the memory available at the start by default), or
// one that runs longer than S seconds (900 by default), so that a program
// whose memory follows the rows ends safely.

#include "app/main_window.h"
#include "app/startup.h"
#include "editor/copies_editor.h"
#include "forwarding_files.h"
#include "fs/file_system.h"
#include "platform/application.h"
#include "platform/services.h"
#include "queued_folders.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTest>
#include <QTimer>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <functional>
#include <linux/magic.h>
#include <map>
#include <optional>
#include <sched.h>
#include <span>
#include <string>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double ms(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

enum class Kind { Name, Size, Content };

struct Scenario {
    int number;
    const char* title;
    Kind kind;
    std::uint32_t files;
    std::size_t bytes; // each file's length (by name: a short line of its own)
    bool deleteAll; // time "Удалить все" after the search
};

// Scenario 0 is the program with nothing searched.
const std::vector<Scenario> kScenarios = {
    { 1, "5,000 of one name", Kind::Name, 5000, 0, false },
    { 2, "10,000 of one name", Kind::Name, 10000, 0, false },
    { 3, "10,000 of one size", Kind::Size, 10000, 64, false },
    { 4, "30,000 of one size", Kind::Size, 30000, 64, true },
    { 5, "10,000 identical", Kind::Content, 10000, 4096, false },
    { 6, "100,000 of one size", Kind::Size, 100000, 64, false },
    { 7, "100,000 empty", Kind::Content, 100000, 0, false },
};

const char* extensionOf(Kind kind)
{
    return kind == Kind::Name ? "js" : "dat";
}

// ---------------------------------------------------------------- the child

// The real file system, noting when the search last asked it something.
// Only the search's requests count (reading folders, measuring, examining,
// opening and reading files), and none after the editor is first shown.
class TimedFiles : public ForwardingFiles {
public:
    std::atomic<bool> frozen { false };

    std::optional<Clock::time_point> last() const
    {
        const std::int64_t ticks = last_.load();
        if (ticks == 0)
            return std::nullopt;
        return Clock::time_point(Clock::duration(ticks));
    }

    bool readDirectory(const std::string& dir, qevra::fs::DirListing& out) override
    {
        const bool read = real().readDirectory(dir, out);
        note();
        return read;
    }
    qevra::fs::FileStamp measure(const std::string& path) override
    {
        const Noted noted(*this);
        return real().measure(path);
    }
    void measureEach(std::span<const std::string_view> paths,
        std::span<qevra::fs::FileStamp> stamps, std::span<int> errors) override
    {
        real().measureEach(paths, stamps, errors);
        note();
    }
    std::unique_ptr<qevra::fs::ReadStream> openRead(const std::string& path) override
    {
        auto stream = real().openRead(path);
        note();
        if (!stream)
            return stream;
        return std::make_unique<TimedStream>(std::move(stream), *this);
    }
    std::optional<qevra::fs::FileStamp> examine(
        const std::string& path, qevra::fs::Resolve resolve) override
    {
        auto stamp = real().examine(path, resolve);
        note();
        return stamp;
    }
    void examineEach(std::span<const std::string_view> paths, qevra::fs::Resolve resolve,
        std::span<qevra::fs::FileStamp> stamps) override
    {
        real().examineEach(paths, resolve, stamps);
        note();
    }

private:
    void note()
    {
        if (!frozen.load(std::memory_order_relaxed))
            last_.store(Clock::now().time_since_epoch().count(), std::memory_order_relaxed);
    }

    // Notes the request's end, also when it throws.
    class Noted {
    public:
        explicit Noted(TimedFiles& files)
            : files_(files)
        {
        }
        ~Noted() { files_.note(); }
        Noted(const Noted&) = delete;
        Noted& operator=(const Noted&) = delete;

    private:
        TimedFiles& files_;
    };

    class TimedStream : public qevra::fs::ReadStream {
    public:
        TimedStream(std::unique_ptr<ReadStream> real, TimedFiles& files)
            : real_(std::move(real))
            , files_(files)
        {
        }
        std::optional<qevra::fs::FileStamp> stamp() override { return real_->stamp(); }
        std::int64_t read(char* buffer, std::int64_t count) override
        {
            const std::int64_t got = real_->read(buffer, count);
            files_.note();
            return got;
        }

    private:
        std::unique_ptr<ReadStream> real_;
        TimedFiles& files_;
    };

    std::atomic<std::int64_t> last_ { 0 };
};

// Message boxes, written to the child's report instead of shown.
class ReportedBoxes : public qevra::platform::MessageBoxes {
public:
    explicit ReportedBoxes(std::FILE* out)
        : out_(out)
    {
    }
    void showMessage(const QString& text) override
    {
        std::fprintf(out_, "message=%s\n", text.toUtf8().constData());
    }
    void showError(const QString& text) override
    {
        std::fprintf(out_, "error=%s\n", text.toUtf8().constData());
    }

private:
    std::FILE* out_;
};

// When the editor is first shown and first painted: watches every event of
// the application.
class EditorWatch : public QObject {
public:
    explicit EditorWatch(QWidget& editor, TimedFiles& files)
        : editor_(editor)
        , files_(files)
    {
    }
    bool shown = false;
    bool painted = false;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (painted || !watched->isWidgetType())
            return false;
        if (event->type() == QEvent::Show && watched == &editor_) {
            shown = true;
            files_.frozen = true;
        } else if (event->type() == QEvent::Paint && shown
            && static_cast<QWidget*>(watched)->window() == &editor_) {
            painted = true;
        }
        return false;
    }

private:
    QWidget& editor_;
    TimedFiles& files_;
};

// The longest time between two events of a 1 ms timer on this thread.
class Heartbeat {
public:
    Heartbeat()
    {
        timer_.callOnTimeout([this] { beat(); });
        timer_.start(1);
    }
    void restart()
    {
        last_ = Clock::now();
        longest_ = {};
    }
    Clock::duration longestUntil(Clock::time_point end) { return std::max(longest_, end - last_); }

private:
    void beat()
    {
        const auto now = Clock::now();
        longest_ = std::max(longest_, now - last_);
        last_ = now;
    }

    QTimer timer_;
    Clock::time_point last_ = Clock::now();
    Clock::duration longest_ {};
};

// The process's peak resident memory in kB, or -1.
long long peakKb()
{
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmHWM:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

// Sets the peak to what is resident now.
bool resetPeak()
{
    std::FILE* reset = std::fopen("/proc/self/clear_refs", "w");
    if (!reset)
        return false;
    const bool written = std::fputs("5", reset) >= 0;
    return std::fclose(reset) == 0 && written;
}

// Runs the events until `done` or `limit` has passed.
bool processUntil(const std::function<bool()>& done, Clock::duration limit)
{
    const auto deadline = Clock::now() + limit;
    QCoreApplication::processEvents();
    while (!done()) {
        if (Clock::now() > deadline)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

int runChild(int number, const std::string& dir, const std::string& outPath)
{
    std::FILE* out = std::fopen(outPath.c_str(), "w");
    if (!out) {
        std::perror(outPath.c_str());
        return 1;
    }
    std::setvbuf(out, nullptr, _IOLBF, 0);
    const auto scenario = std::find_if(kScenarios.begin(), kScenarios.end(),
        [&](const Scenario& s) { return s.number == number; });
    const Kind kind = scenario == kScenarios.end() ? Kind::Size : scenario->kind;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
    static int appArgc = 1;
    static char appName[] = "qevra-bench-groups";
    static char* appArgv[] = { appName, nullptr };
    qevra::Application application(appArgc, appArgv);
    TimedFiles files;
    ReportedBoxes boxes(out);
    qevra::bench::QueuedFolders folders;
    qevra::platform::Services services(
        files, boxes, folders, qevra::platform::realServices().desktop);
    qevra::Application::setServices(&services);
    qevra::Program program(services);
    qevra::TForm1& form = program.Form1;
    qevra::TForm2& editor = program.Form2;
    form.show();
    QCoreApplication::processEvents();

    // The folder through the dialog, the extension typed, the criterion's box
    // clicked.
    folders.queue = { dir };
    QTest::mouseClick(form.xpButton1, Qt::LeftButton);
    if (form.ListBox4.size() != 1)
        std::fprintf(out, "odd=the folder was not chosen\n");
    form.proComboBox1->setFocus();
    form.proComboBox1->clearEditText();
    QTest::keyClicks(form.proComboBox1, QString::fromLatin1(extensionOf(kind)));
    if (form.proComboBox1->currentText() != QString::fromLatin1(extensionOf(kind))) {
        std::fprintf(out, "odd=the extension typed reads \"%s\"; set instead\n",
            form.proComboBox1->currentText().toUtf8().constData());
        form.proComboBox1->setEditText(QString::fromLatin1(extensionOf(kind)));
    }
    qevra::controls::TxpCheckBox* box = kind == Kind::Name ? form.CheckBox2
        : kind == Kind::Size                               ? form.CheckBox3
                                                           : form.checkbox1;
    QTest::mouseClick(box, Qt::LeftButton);
    if (!box->isChecked())
        std::fprintf(out, "odd=the criterion's box was not checked by the click\n");
    QCoreApplication::processEvents();

    EditorWatch watch(editor, files);
    application.installEventFilter(&watch);
    Heartbeat heartbeat;
    if (!resetPeak())
        std::fprintf(out, "odd=the peak memory could not be reset\n");

    if (number == 0) {
        // Nothing searched: the editor shown empty, so that the windows'
        // own memory is in the figure.
        editor.show();
        processUntil([&] { return watch.painted; }, std::chrono::seconds(30));
        std::fprintf(out, "peak_kb=%lld\n", peakKb());
        std::fprintf(out, "done=1\n");
        std::fclose(out);
        return 0;
    }

    std::fprintf(out, "stage=search\n");
    heartbeat.restart();
    const auto pressed = Clock::now();
    QTest::mouseClick(form.xpButton3, Qt::LeftButton);
    if (!processUntil([&] { return watch.painted; }, std::chrono::seconds(60)))
        std::fprintf(out, "odd=the editor was not painted within 60 s of the search's end\n");
    const auto shown = Clock::now();
    std::fprintf(out, "peak_kb=%lld\n", peakKb());
    std::fprintf(out, "rows=%llu\n", static_cast<unsigned long long>(form.ListBox2.size()));
    std::fprintf(out, "count_line=%s\n", editor.Label1->caption().toUtf8().constData());
    std::fprintf(out, "press_to_editor_ms=%.1f\n", ms(shown - pressed));
    if (const auto last = files.last())
        std::fprintf(out, "files_to_editor_ms=%.1f\n", ms(shown - *last));
    std::fprintf(out, "gap_ms=%.1f\n", ms(heartbeat.longestUntil(shown)));
    if (!editor.isVisible())
        std::fprintf(out, "odd=the editor is not visible after the search\n");

    if (scenario != kScenarios.end() && scenario->deleteAll) {
        std::fprintf(out, "stage=delete\n");
        if (!editor.xpButton3->isVisible() || !editor.xpButton3->isEnabled())
            std::fprintf(out, "odd=\"Удалить все\" is not visible and enabled\n");
        QCoreApplication::processEvents();
        heartbeat.restart();
        const auto start = Clock::now();
        QTest::mouseClick(editor.xpButton3, Qt::LeftButton);
        const auto end = Clock::now();
        std::fprintf(out, "delete_ms=%.1f\n", ms(end - start));
        std::fprintf(out, "delete_gap_ms=%.1f\n", ms(heartbeat.longestUntil(end)));
        std::fprintf(out, "delete_peak_kb=%lld\n", peakKb());
    }
    std::fprintf(out, "done=1\n");
    std::fclose(out);
    // The windows' teardown is no part of the figures.
    std::fflush(nullptr);
    ::_exit(0);
}

// --------------------------------------------------------------- the parent

// Where the trees go: a tmpfs, and whether this program mounted it.
struct Place {
    std::filesystem::path dir;
    std::string what;
    bool mounted = false;
};

bool onTmpfs(const char* path)
{
    struct statfs info { };
    return ::statfs(path, &info) == 0 && info.f_type == TMPFS_MAGIC;
}

Place choosePlace()
{
    if (onTmpfs("/tmp"))
        return { "/tmp", "/tmp (tmpfs)", false };
    // A private tmpfs in a mount namespace of this program's own, gone with
    // the program.
    if (::unshare(CLONE_NEWNS) == 0
        && ::mount(nullptr, "/", nullptr, MS_REC | MS_PRIVATE, nullptr) == 0) {
        char pattern[] = "/tmp/qevra-groups-XXXXXX";
        if (::mkdtemp(pattern)) {
            if (::mount("tmpfs", pattern, "tmpfs", MS_NOSUID | MS_NODEV, "mode=0700") == 0)
                return { pattern, std::string("a private tmpfs at ").append(pattern), true };
            ::rmdir(pattern);
        }
    }
    if (onTmpfs("/dev/shm"))
        return { "/dev/shm", "/dev/shm (tmpfs)", false };
    return { "/tmp", "/tmp, NOT tmpfs (no private tmpfs could be mounted)", false };
}

bool writeFile(const std::string& path, const std::string& content)
{
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = content.empty()
        || ::write(fd, content.data(), content.size()) == static_cast<ssize_t>(content.size());
    return ::close(fd) == 0 && written;
}

struct Tree {
    std::filesystem::path root;
    std::uint64_t pathBytes = 0; // the candidates' paths, as the search holds them
};

// The scenario's files under a new folder of `base`.
std::optional<Tree> makeTree(const Scenario& s, const std::filesystem::path& base)
{
    std::string pattern = (base / "qevra-groups-tree-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        return std::nullopt;
    Tree tree;
    tree.root = std::filesystem::canonical(pattern);
    const std::string root = tree.root.string();
    const std::string same(s.bytes, 'q');
    for (std::uint32_t i = 0; i < s.files; ++i) {
        std::string folder;
        std::string path;
        std::string content;
        char number[16];
        std::snprintf(number, sizeof number, "%06u", i);
        switch (s.kind) {
        case Kind::Name:
            // Each file in a folder of its own, all of one name.
            folder = std::string(root).append("/d").append(number);
            path = std::string(folder).append("/index.js");
            content = std::string("module.exports = ").append(number).append(";\n");
            break;
        case Kind::Size:
        case Kind::Content:
            // A thousand files a folder, each of its own name.
            folder = std::string(root).append("/g").append(std::to_string(i / 1000));
            path = std::string(folder).append("/f").append(number).append(".dat");
            // By size, of one length, each of its own bytes; by content,
            // all alike.
            content = s.kind == Kind::Content
                ? same
                : std::string(s.bytes - std::strlen(number), '.').append(number);
            break;
        }
        if (::mkdir(folder.c_str(), 0755) != 0 && errno != EEXIST)
            return std::nullopt;
        if (!writeFile(path, content))
            return std::nullopt;
        tree.pathBytes += path.size();
    }
    return tree;
}

std::uint64_t countFiles(const std::filesystem::path& root)
{
    std::uint64_t count = 0;
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(root, error);
         !error && it != std::filesystem::recursive_directory_iterator(); it.increment(error)) {
        if (it->is_regular_file(error))
            ++count;
    }
    return count;
}

long long residentKb(pid_t pid)
{
    std::ifstream status(std::string("/proc/").append(std::to_string(pid)).append("/status"));
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("VmRSS:", 0) == 0)
            return std::stoll(line.substr(6));
    }
    return -1;
}

long long availableKb()
{
    std::ifstream info("/proc/meminfo");
    std::string line;
    while (std::getline(info, line)) {
        if (line.rfind("MemAvailable:", 0) == 0)
            return std::stoll(line.substr(13));
    }
    return -1;
}

struct ChildRun {
    std::map<std::string, std::string> report;
    std::vector<std::string> notes; // messages, errors, oddities
    std::optional<std::string> ended; // why it did not end well
    long long sampledPeakKb = 0; // the largest VmRSS the watchdog saw
    double seconds = 0;
};

ChildRun runScenarioProcess(
    int number, const std::string& dir, const std::string& outPath, long long maxMb, int maxSeconds)
{
    ChildRun run;
    const std::string numberText = std::to_string(number);
    const pid_t pid = ::fork();
    if (pid < 0) {
        run.ended = "fork failed";
        return run;
    }
    if (pid == 0) {
        const char* argv[] = { "qevra-bench-groups", "--scenario", numberText.c_str(), "--dir",
            dir.c_str(), "--out", outPath.c_str(), nullptr };
        ::execv("/proc/self/exe", const_cast<char* const*>(argv));
        ::_exit(127);
    }
    const auto start = Clock::now();
    int status = 0;
    bool killedForMemory = false;
    bool killedForTime = false;
    for (;;) {
        const pid_t waited = ::waitpid(pid, &status, WNOHANG);
        if (waited == pid)
            break;
        const long long rss = residentKb(pid);
        run.sampledPeakKb = std::max(run.sampledPeakKb, rss);
        if (!killedForMemory && !killedForTime) {
            if (rss > maxMb * 1000000 / 1024) {
                killedForMemory = true;
                ::kill(pid, SIGKILL);
            } else if (Clock::now() - start > std::chrono::seconds(maxSeconds)) {
                killedForTime = true;
                ::kill(pid, SIGKILL);
            }
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    run.seconds = ms(Clock::now() - start) / 1000;
    std::ifstream report(outPath);
    std::string line;
    while (std::getline(report, line)) {
        const auto eq = line.find('=');
        if (eq == std::string::npos)
            continue;
        const std::string key = line.substr(0, eq);
        const std::string value = line.substr(eq + 1);
        if (key == "message" || key == "error" || key == "odd")
            run.notes.push_back(std::string(key).append(": ").append(value));
        else
            run.report[key] = value;
    }
    const std::string stage = run.report.count("stage") ? run.report["stage"] : "start";
    if (killedForMemory) {
        run.ended = std::string("killed above ")
                        .append(std::to_string(maxMb))
                        .append(" MB (in the ")
                        .append(stage)
                        .append(")");
    } else if (killedForTime) {
        run.ended = std::string("stopped after ")
                        .append(std::to_string(maxSeconds))
                        .append(" s (in the ")
                        .append(stage)
                        .append(")");
    } else if (WIFSIGNALED(status)) {
        run.ended = std::string("ended by signal ")
                        .append(std::to_string(WTERMSIG(status)))
                        .append(" (in the ")
                        .append(stage)
                        .append(")");
    } else if (!run.report.count("done")) {
        run.ended = std::string("ended with status ")
                        .append(std::to_string(WEXITSTATUS(status)))
                        .append(" (in the ")
                        .append(stage)
                        .append(")");
    }
    return run;
}

std::string grouped(unsigned long long value)
{
    const std::string digits = std::to_string(value);
    std::string text;
    for (std::size_t i = 0; i < digits.size(); ++i) {
        if (i > 0 && (digits.size() - i) % 3 == 0)
            text.push_back(',');
        text.push_back(digits[i]);
    }
    return text;
}

std::string fixed(double value, int decimals)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.*f", decimals, value);
    return text;
}

// Pads to `width` characters (not bytes), on the left unless `left`.
std::string pad(const std::string& text, std::size_t width, bool left = false)
{
    std::size_t characters = 0;
    for (const char c : text)
        characters += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
    if (characters >= width)
        return text;
    const std::string fill(width - characters, ' ');
    return left ? std::string(text).append(fill) : std::string(fill).append(text);
}

double reported(const std::map<std::string, std::string>& report, const char* key, double fallback)
{
    const auto it = report.find(key);
    return it == report.end() ? fallback : std::atof(it->second.c_str());
}

const char* verdict(bool met)
{
    return met ? "GOAL MET" : "GOAL MISSED";
}

int usage(int status)
{
    std::fprintf(stderr,
        "usage: qevra-bench-groups [--only N] [--max-memory-mb M] [--max-seconds S]\n"
        "  N: 1 to 7; M: kill a search whose resident memory passes M MB;\n"
        "  S: kill a search that runs longer than S seconds\n");
    return status;
}

} // namespace

int main(int argc, char** argv)
{
    // What is timed is the reading itself: no comparison is remembered.
    ::setenv("QEVRA_NO_CACHE", "1", 1);
    std::optional<int> only;
    std::optional<int> child;
    std::string childDir;
    std::string childOut;
    long long maxMb = 0;
    int maxSeconds = 900;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--only" && hasValue) {
            only = std::atoi(argv[++i]);
        } else if (arg == "--max-memory-mb" && hasValue) {
            maxMb = std::atoll(argv[++i]);
        } else if (arg == "--max-seconds" && hasValue) {
            maxSeconds = std::atoi(argv[++i]);
        } else if (arg == "--scenario" && hasValue) {
            child = std::atoi(argv[++i]);
        } else if (arg == "--dir" && hasValue) {
            childDir = argv[++i];
        } else if (arg == "--out" && hasValue) {
            childOut = argv[++i];
        } else {
            return usage(arg == "--help" || arg == "-h" ? 0 : 2);
        }
    }
    if (child)
        return runChild(*child, childDir, childOut);
    if (only && (*only < 1 || *only > int(kScenarios.size())))
        return usage(2);
    if (maxMb <= 0)
        maxMb = std::max(500LL, availableKb() * 1024 / 1000000 * 3 / 4);
    if (maxSeconds <= 0)
        return usage(2);

    const Place place = choosePlace();
    std::printf("files on %s; a search is killed above %lld MB or after %d s\n", place.what.c_str(),
        maxMb, maxSeconds);
    std::fflush(stdout);
    const std::string outPath = (place.dir / "qevra-groups-report").string();

    // The program with nothing searched: its windows shown.
    std::string emptyPattern = (place.dir / "qevra-groups-empty-XXXXXX").string();
    if (!::mkdtemp(emptyPattern.data())) {
        std::perror("mkdtemp");
        return 1;
    }
    const ChildRun empty = runScenarioProcess(
        0, std::filesystem::canonical(emptyPattern).string(), outPath, maxMb, maxSeconds);
    std::filesystem::remove_all(emptyPattern);
    const double emptyMb = reported(empty.report, "peak_kb", -1) * 1024 / 1e6;
    if (empty.ended || emptyMb < 0) {
        std::fprintf(stderr, "the empty program did not report: %s\n",
            empty.ended ? empty.ended->c_str() : "no peak");
        return 1;
    }

    struct Line {
        const Scenario* scenario;
        ChildRun run;
        double budgetMb;
        std::optional<std::uint64_t> filesLeft;
    };
    std::vector<Line> lines;
    for (const Scenario& s : kScenarios) {
        if (only && *only != s.number)
            continue;
        std::printf("scenario %d: %s ...\n", s.number, s.title);
        std::fflush(stdout);
        const std::optional<Tree> tree = makeTree(s, place.dir);
        if (!tree) {
            std::fprintf(stderr, "could not make the files of scenario %d\n", s.number);
            return 1;
        }
        Line line { &s,
            runScenarioProcess(s.number, tree->root.string(), outPath, maxMb, maxSeconds),
            (100.0 * s.files + double(tree->pathBytes)) / 1e6, std::nullopt };
        if (s.deleteAll && line.run.report.count("delete_ms"))
            line.filesLeft = countFiles(tree->root);
        std::filesystem::remove_all(tree->root);
        lines.push_back(std::move(line));
    }
    std::filesystem::remove(outPath);
    if (place.mounted) {
        ::umount2(place.dir.c_str(), MNT_DETACH);
        ::rmdir(place.dir.c_str());
    }

    // The table.
    std::printf("\nempty program (windows shown, nothing searched): peak %.1f MB\n", emptyMb);
    std::printf("MB = 10^6 bytes; budget = 100 bytes a candidate + the candidates' paths\n\n");
    const std::vector<std::pair<const char*, std::size_t>> columns
        = { { "scenario", 24 }, { "rows", 15 }, { "peak MB", 9 }, { "rise MB", 9 },
              { "budget MB", 10 }, { "press→editor s", 15 }, { "files→editor s", 15 },
              { "longest gap ms", 15 }, { "Удалить все s", 14 }, { "files left", 11 } };
    std::string header;
    for (std::size_t c = 0; c < columns.size(); ++c)
        header.append(pad(columns[c].first, columns[c].second, c == 0)).append(" ");
    std::printf("%s\n", header.c_str());
    bool allMet = true;
    std::vector<std::string> verdicts;
    for (const Line& line : lines) {
        const Scenario& s = *line.scenario;
        const auto& report = line.run.report;
        std::string text = pad(std::to_string(s.number).append(". ").append(s.title), 24, true);
        text.append(" ");
        if (line.run.ended && !report.count("peak_kb")) {
            text.append(*line.run.ended)
                .append("; largest resident memory seen ")
                .append(fixed(double(line.run.sampledPeakKb) * 1024 / 1e6, 0))
                .append(" MB, after ")
                .append(fixed(line.run.seconds, 1))
                .append(" s");
            std::printf("%s\n", text.c_str());
            allMet = false;
            verdicts.push_back(std::to_string(s.number).append(". ").append(*line.run.ended));
            continue;
        }
        const double peakMb = reported(report, "peak_kb", 0) * 1024 / 1e6;
        const double rise = peakMb - emptyMb;
        const double pressS = reported(report, "press_to_editor_ms", 0) / 1000;
        const double filesS = reported(report, "files_to_editor_ms", -1000) / 1000;
        const double gap = reported(report, "gap_ms", 0);
        text.append(pad(grouped(std::strtoull(
                            report.count("rows") ? report.at("rows").c_str() : "0", nullptr, 10)),
                        15))
            .append(" ")
            .append(pad(fixed(peakMb, 1), 9))
            .append(" ")
            .append(pad(fixed(rise, 1), 9))
            .append(" ")
            .append(pad(fixed(line.budgetMb, 1), 10))
            .append(" ")
            .append(pad(fixed(pressS, 2), 15))
            .append(" ")
            .append(pad(filesS < 0 ? "-" : fixed(filesS, 2), 15))
            .append(" ")
            .append(pad(fixed(gap, 1), 15))
            .append(" ");
        std::string verdictText = std::to_string(s.number).append(". ");
        const bool riseMet = rise <= line.budgetMb;
        const bool editorMet = filesS >= 0 && filesS <= 1;
        const bool gapMet = gap <= 100;
        verdictText.append("rise ")
            .append(verdict(riseMet))
            .append(", editor ")
            .append(verdict(editorMet))
            .append(", events ")
            .append(verdict(gapMet));
        allMet = allMet && riseMet && editorMet && gapMet;
        if (s.deleteAll) {
            if (report.count("delete_ms")) {
                const double deleteS = reported(report, "delete_ms", 0) / 1000;
                const bool deleteMet = deleteS < 5;
                allMet = allMet && deleteMet;
                text.append(pad(fixed(deleteS, 2), 14))
                    .append(" ")
                    .append(pad(line.filesLeft ? grouped(*line.filesLeft) : "-", 11));
                verdictText.append(", Удалить все ")
                    .append(verdict(deleteMet))
                    .append(" (longest gap in it ")
                    .append(fixed(reported(report, "delete_gap_ms", 0), 1))
                    .append(" ms)");
            } else {
                allMet = false;
                text.append(pad("-", 14)).append(" ").append(pad("-", 11));
                verdictText.append(", Удалить все not run");
            }
        } else {
            text.append(pad("", 14)).append(" ").append(pad("", 11));
        }
        if (line.run.ended) {
            allMet = false;
            text.append(" ").append(*line.run.ended);
            verdictText.append(", ").append(*line.run.ended);
        }
        std::printf("%s\n", text.c_str());
        verdicts.push_back(verdictText);
    }
    std::printf("\ntargets: rise above the empty program <= budget; editor within 1 s of the"
                " search's last file-system request (files→editor); <= 100 ms without events;"
                " \"Удалить все\" on 30,000 files under 5 s\n");
    for (const std::string& v : verdicts)
        std::printf("  %s\n", v.c_str());
    for (const Line& line : lines) {
        for (const std::string& note : line.run.notes)
            std::printf("  scenario %d: %s\n", line.scenario->number, note.c_str());
        const auto count = line.run.report.find("count_line");
        if (count != line.run.report.end())
            std::printf("  scenario %d: the editor's count line reads \"%s\"\n",
                line.scenario->number, count->second.c_str());
    }
    return allMet ? 0 : 1;
}
