// Runs one search through the engine, without a window (or, with --window,
// through the main window, offscreen, as the search button does), and
// prints its figures:
//
//   qevra-bench --dir DIR [--dir DIR2 ...] --ext TEXT --criterion name|size|content
//               [--window] [--rows FILE] [--no-collect] [--max-pass S] [--max-memory MB]
//
// Through the window, the roots are chosen through the folder dialog's seam
// (the first with "Выбрать каталог", the others with "Добавить каталог"), the
// extension text typed into its box, the criterion's box clicked, then the
// search button.
// Before the search, unless --no-collect, the candidates are collected twice
// on their own: the first run warms the cache, the second gives the
// collection's time, which the search's total time less it leaves for the
// pass. Peak memory is read
// at the end, with the copies editor shown.
//
// When the first root holds a generated tree's facts, the counts are
// checked against them. --max-pass and --max-memory print whether the pass
// (the search less the collection) and the peak memory stay within goals.

#include "content_tree.h"

#include "app/main_window.h"
#include "app/startup.h"
#include "editor/copies_editor.h"
#include "platform/application.h"
#include "platform/services.h"
#include "queued_folders.h"
#include "search/masks.h"
#include "search/search.h"

#include <QCoreApplication>
#include <QTest>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <fstream>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

enum class Criterion { Name, Size, Content };

struct Options {
    std::vector<std::string> dirs;
    std::string ext;
    std::optional<Criterion> criterion;
    std::string rowsFile;
    bool collectFirst = true;
    std::optional<double> maxPass;
    std::optional<double> maxMemory;
    bool window = false;
};

void printUsage(std::FILE* to)
{
    std::fprintf(to,
        "usage: qevra-bench --dir DIR [--dir DIR2 ...] --ext TEXT"
        " --criterion name|size|content [--window] [--rows FILE]\n"
        "                   [--no-collect] [--max-pass S] [--max-memory MB]\n"
        "  --dir DIR        a root of the search (repeat for more)\n"
        "  --ext TEXT       the extension text, as typed into its box (\"*\" for all)\n"
        "  --criterion C    name, size or content\n"
        "  --window         through the main window, offscreen (else the engine alone)\n"
        "  --rows FILE      write every row: first path, NUL, second path, NUL\n"
        "  --no-collect     skip the separate collection before the search\n"
        "  --max-pass S     goal: the search less the collection within S seconds\n"
        "  --max-memory MB  goal: peak memory (VmHWM) within MB megabytes\n");
}

bool parseOptions(int argc, char** argv, Options& options, bool& help)
{
    help = false;
    bool extGiven = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        if (arg == "--no-collect") {
            options.collectFirst = false;
            continue;
        }
        if (arg == "--window") {
            options.window = true;
            continue;
        }
        if (arg != "--dir" && arg != "--ext" && arg != "--criterion" && arg != "--rows"
            && arg != "--max-pass" && arg != "--max-memory") {
            std::fprintf(stderr, "unknown option: %s\n", argv[i]);
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", argv[i]);
            return false;
        }
        const std::string value = argv[++i];
        if (arg == "--dir") {
            if (value.empty()) {
                std::fprintf(stderr, "--dir: empty path\n");
                return false;
            }
            options.dirs.push_back(value);
        } else if (arg == "--ext") {
            options.ext = value;
            extGiven = true;
        } else if (arg == "--rows") {
            options.rowsFile = value;
        } else if (arg == "--max-pass" || arg == "--max-memory") {
            char* end = nullptr;
            const double limit = std::strtod(value.c_str(), &end);
            if (value.empty() || *end != '\0' || !(limit > 0)) {
                std::fprintf(stderr, "%s: not a positive number: %s\n", argv[i - 1], value.c_str());
                return false;
            }
            (arg == "--max-pass" ? options.maxPass : options.maxMemory) = limit;
        } else if (value == "name") {
            options.criterion = Criterion::Name;
        } else if (value == "size") {
            options.criterion = Criterion::Size;
        } else if (value == "content") {
            options.criterion = Criterion::Content;
        } else {
            std::fprintf(stderr, "--criterion: name, size or content, not %s\n", value.c_str());
            return false;
        }
    }
    if (help)
        return true;
    if (options.dirs.empty() || !extGiven || options.ext.empty() || !options.criterion) {
        std::fprintf(stderr, "--dir, --ext and --criterion are required\n");
        return false;
    }
    if (options.maxPass && !options.collectFirst) {
        std::fprintf(stderr, "--max-pass needs the collection on its own first\n");
        return false;
    }
    return true;
}

// Records the boxes the search opens instead of showing them.
class RecordedBoxes : public qevra::platform::MessageBoxes {
public:
    void showMessage(const QString& text) override
    {
        messages.push_back(text);
        std::fprintf(stderr, "message box: %s\n", text.toUtf8().constData());
    }
    void showError(const QString& text) override
    {
        errors.push_back(text);
        std::fprintf(stderr, "error box: %s\n", text.toUtf8().constData());
    }

    std::vector<QString> messages;
    std::vector<QString> errors;
};

// Peak and current resident memory of this process, in MB.
double statusMegabytes(const char* key)
{
    std::ifstream status("/proc/self/status");
    std::string line;
    const std::size_t keyLength = std::strlen(key);
    while (std::getline(status, line)) {
        if (line.compare(0, keyLength, key) == 0 && line.size() > keyLength
            && line[keyLength] == ':')
            return std::strtod(line.c_str() + keyLength + 1, nullptr) / 1024.0;
    }
    return -1;
}

// A counter of /proc/self/io (bytes or calls of reading), or -1.
long long ioCounter(const char* key)
{
    std::ifstream io("/proc/self/io");
    std::string name;
    long long value = 0;
    while (io >> name >> value) {
        if (name.size() == std::strlen(key) + 1 && name.compare(0, name.size() - 1, key) == 0)
            return value;
    }
    return -1;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

bool writeRows(const qevra::search::Results& results, const std::string& path)
{
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    for (std::size_t r = 0; r < results.first.size() && out; ++r) {
        const std::string_view first = results.first[r];
        const std::string_view second = results.second[r];
        out.write(first.data(), std::streamsize(first.size()));
        out.put('\0');
        out.write(second.data(), std::streamsize(second.size()));
        out.put('\0');
    }
    out.close();
    return static_cast<bool>(out);
}

const char* criterionName(Criterion criterion)
{
    switch (criterion) {
    case Criterion::Name:
        return "name";
    case Criterion::Size:
        return "size";
    case Criterion::Content:
        return "content";
    }
    return "?";
}

// What one search came to, through either door.
struct Measured {
    double firstCollectSeconds = -1;
    double collectSeconds = -1;
    std::size_t collected = 0;
    double searchSeconds = -1;
    const qevra::search::Results* results = nullptr;
    bool editorShown = false;
};

// The engine's search as a front end without a window runs it: every
// warning on standard error, no stop.
class Quiet final : public qevra::search::SearchObserver {
public:
    bool step(qevra::search::Phase, std::uint64_t, std::uint64_t) override { return true; }
    void warning(const qevra::search::Warning& warning) override
    {
        std::fprintf(stderr, "warning: %s: %s\n", warning.path.c_str(), warning.what.c_str());
    }
};

qevra::Criterion criterionOf(Criterion criterion)
{
    return criterion == Criterion::Name ? qevra::Criterion::Name
        : criterion == Criterion::Size  ? qevra::Criterion::Size
                                        : qevra::Criterion::Content;
}

// Through the engine alone: the collection twice on its own, then the
// whole search.
bool throughEngine(const Options& options, qevra::search::Results& results, Measured& measured)
{
    qevra::search::SearchRequest request;
    request.roots = options.dirs;
    request.extensionText = QString::fromUtf8(options.ext.c_str());
    for (const QString& mask : qevra::search::masksFor(request.extensionText))
        request.masks.emplace_back(mask);
    request.criterion = criterionOf(*options.criterion);
    request.options.stopAtUnmeasurable = false;
    Quiet quiet;
    if (options.collectFirst) {
        for (int run = 0; run < 2; ++run) {
            qevra::search::Results scratch;
            const Clock::time_point start = Clock::now();
            for (const std::string& dir : options.dirs)
                qevra::search::collectRoot(
                    request, qevra::fs::realFileSystem(), dir, scratch, quiet);
            (run == 0 ? measured.firstCollectSeconds : measured.collectSeconds)
                = secondsSince(start);
            measured.collected = scratch.candidates.size();
        }
    }
    const Clock::time_point start = Clock::now();
    qevra::search::run(request, qevra::fs::realFileSystem(), results, quiet);
    measured.searchSeconds = secondsSince(start);
    measured.results = &results;
    return true;
}

// Through the main window, offscreen, exactly as the search button runs it.
bool throughWindow(const Options& options, qevra::Program& program,
    qevra::bench::QueuedFolders& folders, Measured& measured)
{
    qevra::TForm1& form = program.Form1;
    form.show();
    QCoreApplication::processEvents();

    // The roots, as a user picks them.
    folders.queue.assign(options.dirs.begin(), options.dirs.end());
    QTest::mouseClick(form.xpButton1, Qt::LeftButton);
    for (std::size_t i = 1; i < options.dirs.size(); ++i)
        QTest::mouseClick(form.xpButton2, Qt::LeftButton);
    if (form.ListBox4.toVector() != options.dirs) {
        std::fprintf(stderr, "the roots did not reach the main window\n");
        return false;
    }

    const QString ext = QString::fromUtf8(options.ext.c_str());
    form.proComboBox1->setEditText(ext);
    if (form.proComboBox1->currentText() != ext) {
        std::fprintf(stderr, "the extension box holds \"%s\"\n",
            form.proComboBox1->currentText().toUtf8().constData());
        return false;
    }
    qevra::controls::TxpCheckBox* box = *options.criterion == Criterion::Content ? form.checkbox1
        : *options.criterion == Criterion::Name                                  ? form.CheckBox2
                                                                                 : form.CheckBox3;
    box->click();
    if (!box->isChecked()) {
        std::fprintf(stderr, "the criterion box is not checked\n");
        return false;
    }

    // The collection alone, through the main window's own routine: once to
    // warm the cache, once more for its time. The list is released after
    // each, so that the search grows it afresh as a first search would.
    if (options.collectFirst) {
        for (int run = 0; run < 2; ++run) {
            const Clock::time_point start = Clock::now();
            for (const std::string& dir : options.dirs)
                form.DirSize(dir);
            (run == 0 ? measured.firstCollectSeconds : measured.collectSeconds)
                = secondsSince(start);
            measured.collected = form.ListBox1.size();
            form.ListBox1.release();
        }
    }
    const Clock::time_point start = Clock::now();
    QTest::mouseClick(form.xpButton3, Qt::LeftButton);
    measured.searchSeconds = secondsSince(start);
    QCoreApplication::processEvents();
    measured.results = &form.results;
    measured.editorShown = program.Form2.isVisible();
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    // What is timed is the reading itself: no comparison is remembered.
    ::setenv("QEVRA_NO_CACHE", "1", 1);
    Options options;
    if (const auto exitCode
        = qevra::bench::readCommandLine(argc, argv, options, parseOptions, printUsage))
        return *exitCode;

    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int appArgc = 1;
    static char appName[] = "qevra-bench";
    static char* appArgv[] = { appName, nullptr };
    qevra::Application application(appArgc, appArgv);
    RecordedBoxes boxes;
    qevra::bench::QueuedFolders folders;
    qevra::platform::Services services(
        qevra::fs::realFileSystem(), boxes, folders, qevra::platform::realServices().desktop);
    qevra::Application::setServices(&services);
    qevra::Program program(services);

    const double beforeMB = statusMegabytes("VmRSS");
    const long long readBefore = ioCounter("rchar");
    const long long readCallsBefore = ioCounter("syscr");
    Measured measured;
    qevra::search::Results engineResults;
    if (!(options.window ? throughWindow(options, program, folders, measured)
                         : throughEngine(options, engineResults, measured)))
        return 1;
    const qevra::search::Results& results = *measured.results;
    const double firstCollectSeconds = measured.firstCollectSeconds;
    const double collectSeconds = measured.collectSeconds;
    const std::size_t collected = measured.collected;
    const double searchSeconds = measured.searchSeconds;

    const long long readBytes = ioCounter("rchar") - readBefore;
    const long long readCalls = ioCounter("syscr") - readCallsBefore;
    const std::size_t candidates = results.candidates.size();
    const std::size_t rows = results.first.size();
    const double peakMB = statusMegabytes("VmHWM");
    const double rssMB = statusMegabytes("VmRSS");

    std::printf("search: criterion %s, extension \"%s\", %zu root(s), %s\n",
        criterionName(*options.criterion), options.ext.c_str(), options.dirs.size(),
        options.window ? "through the main window" : "through the engine");
    std::printf("candidates %zu\n", candidates);
    std::printf("rows %zu\n", rows);
    std::printf("search seconds %.3f\n", searchSeconds);
    if (options.collectFirst) {
        std::printf("collection seconds %.3f (%zu candidates, on its own before the search;"
                    " %.3f s the first time)\n",
            collectSeconds, collected, firstCollectSeconds);
        std::printf("pass seconds %.3f (search less collection)\n", searchSeconds - collectSeconds);
    }
    std::printf("peak memory MB %.1f (VmHWM; VmRSS %.1f before the search, %.1f after)\n", peakMB,
        beforeMB, rssMB);
    std::printf("read by the search MB %.1f in %lld calls (rchar, syscr)\n",
        static_cast<double>(readBytes) / 1e6, readCalls);
    if (options.window)
        std::printf("editor shown %s\n", measured.editorShown ? "yes" : "no");
    for (const QString& message : boxes.messages)
        std::printf("message: %s\n", message.toUtf8().constData());

    int status = boxes.errors.empty() ? 0 : 1;
    for (const QString& error : boxes.errors)
        std::printf("error: %s\n", error.toUtf8().constData());

    if (!options.rowsFile.empty()) {
        if (writeRows(results, options.rowsFile)) {
            std::printf("rows written to %s\n", options.rowsFile.c_str());
        } else {
            std::fprintf(stderr, "cannot write %s\n", options.rowsFile.c_str());
            status = 1;
        }
    }

    if (options.maxPass) {
        const double pass = searchSeconds - collectSeconds;
        std::printf("%s: pass %.3f s within %.3f s\n",
            pass <= *options.maxPass ? "GOAL MET" : "GOAL MISSED", pass, *options.maxPass);
    }
    if (options.maxMemory) {
        std::printf("%s: peak memory %.1f MB within %.1f MB\n",
            peakMB <= *options.maxMemory ? "GOAL MET" : "GOAL MISSED", peakMB, *options.maxMemory);
    }

    // A generated tree knows what the search over all its files must give.
    const auto facts = options.dirs.size() == 1 && options.ext == "*"
        ? qevra::bench::readFacts(options.dirs.front())
        : std::nullopt;
    if (facts) {
        const char* key = *options.criterion == Criterion::Name ? "name-rows"
            : *options.criterion == Criterion::Size             ? "size-rows"
                                                                : "content-rows";
        const auto files = facts->find("files");
        const auto expectedRows = facts->find(key);
        if (files != facts->end() && expectedRows != facts->end()) {
            const bool right = files->second == candidates && expectedRows->second == rows;
            std::printf("tree facts: %llu candidates, %llu rows expected: %s\n",
                static_cast<unsigned long long>(files->second),
                static_cast<unsigned long long>(expectedRows->second), right ? "OK" : "MISMATCH");
            if (!right)
                status = 1;
        }
    }
    return status;
}
