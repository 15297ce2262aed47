// Times the collection of candidates for the extension "txt" over a
// generated tree: through the engine alone, through the main window as the
// search command runs it, and against "find DIR -type f" as the yardstick.
// The goal: the collection through the main window takes at most 1.5 times
// as long as find.

#include "tree_generator.h"

#include "app/main_window.h"
#include "base/exceptions.h"
#include "fs/file_system.h"
#include "platform/application.h"
#include "search/collector.h"
#include "search/masks.h"
#include "search/path_list.h"

#include <QCoreApplication>
#include <QFile>
#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <spawn.h>
#include <string>
#include <string_view>
#include <sys/wait.h>
#include <vector>

extern char** environ;

namespace {

using Clock = std::chrono::steady_clock;

constexpr double kGoalRatio = 1.5;
const QString kExtension = QStringLiteral("txt");

struct Options {
    std::string dir = "/tmp/qevra-bench-tree";
    std::uint64_t files = 100000;
    std::uint64_t seed = 1;
    unsigned runs = 5;
    bool keep = true;
};

void printUsage(std::FILE* to)
{
    std::fprintf(to,
        "usage: qevra-bench-collect [--dir DIR] [--files N] [--seed N] [--runs K]"
        " [--keep | --clean]\n"
        "  --dir DIR    where the tree is made or reused (default /tmp/qevra-bench-tree)\n"
        "  --files N    files in the tree (default 100000)\n"
        "  --seed N     seed of the tree (default 1)\n"
        "  --runs K     timed runs of each kind; the best counts (default 5)\n"
        "  --keep       keep the tree for the next run (default)\n"
        "  --clean      remove the tree at the end\n");
}

bool parseNumber(const char* text, std::uint64_t& out)
{
    const char* end = text + std::strlen(text);
    const auto [ptr, error] = std::from_chars(text, end, out);
    return error == std::errc() && ptr == end && ptr != text;
}

// Parses the command line; false (after a message) when it is not valid.
bool parseOptions(int argc, char** argv, Options& options, bool& help)
{
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        auto value = [&]() -> const char* {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "%s needs a value\n", argv[i]);
                return nullptr;
            }
            return argv[++i];
        };
        std::uint64_t number = 0;
        if (arg == "--help" || arg == "-h") {
            help = true;
        } else if (arg == "--keep") {
            options.keep = true;
        } else if (arg == "--clean") {
            options.keep = false;
        } else if (arg == "--dir") {
            const char* v = value();
            if (!v || !*v)
                return false;
            options.dir = v;
        } else if (arg == "--files" || arg == "--seed" || arg == "--runs") {
            const char* v = value();
            if (!v)
                return false;
            if (!parseNumber(v, number)) {
                std::fprintf(stderr, "%s: not a number: %s\n", argv[i - 1], v);
                return false;
            }
            if (arg == "--files")
                options.files = number;
            else if (arg == "--seed")
                options.seed = number;
            else if (number == 0 || number > 1000) {
                std::fprintf(stderr, "--runs: between 1 and 1000\n");
                return false;
            } else
                options.runs = static_cast<unsigned>(number);
        } else {
            std::fprintf(stderr, "unknown option: %s\n", argv[i]);
            return false;
        }
    }
    return true;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The times of one kind of run; the best is the figure, the median shows
// how steady the runs were.
struct Timings {
    std::vector<double> seconds;
    double best() const { return *std::min_element(seconds.begin(), seconds.end()); }
    double median() const
    {
        std::vector<double> sorted = seconds;
        std::sort(sorted.begin(), sorted.end());
        const std::size_t n = sorted.size();
        return n % 2 ? sorted[n / 2] : (sorted[n / 2 - 1] + sorted[n / 2]) / 2;
    }
};

// The candidates the collection must find: plain files that are not hidden
// and whose name ends in ".txt", letter case ignored. Hidden directories are
// entered like any other.
std::size_t expectedCandidates(const qevra::bench::TreePlan& plan)
{
    std::size_t count = 0;
    for (const qevra::bench::PlannedFile& file : plan.files) {
        if (file.hidden || file.extension.size() != 3)
            continue;
        std::string lower = file.extension;
        for (char& c : lower)
            c = (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
        count += lower == "txt";
    }
    return count;
}

// (a) The engine alone: the collector on the real file system with the
// masks of the extension text, no events step.
std::size_t collectWithEngine(const std::string& dir, qevra::search::PathList& out)
{
    using namespace qevra;
    std::vector<search::WildcardMatcher> masks;
    for (const QString& mask : search::masksFor(kExtension))
        masks.emplace_back(mask);
    search::FileLister lister;
    search::Collector collector(fs::realFileSystem(), lister);
    out.clear();
    qevra::search::ProgressFunction goOn({});
    collector.collect(dir, masks, out, goOn);
    return out.size();
}

// (b) The main window, as the search command collects: the candidate list
// cleared, then DirSize on the root with its throttled events step.
std::size_t collectWithForm(qevra::TForm1& form, const std::string& dir)
{
    form.ListBox1.clear();
    form.DirSize(dir);
    return form.ListBox1.size();
}

// (c) find DIR -type f, its output to /dev/null; false when it could not run
// or failed.
bool runFind(const std::string& dir)
{
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, "/dev/null", O_WRONLY, 0);
    std::string program = "find";
    std::string root = dir;
    std::string typeOption = "-type";
    std::string typeValue = "f";
    char* args[] = { program.data(), root.data(), typeOption.data(), typeValue.data(), nullptr };
    pid_t pid = 0;
    const int error = posix_spawnp(&pid, "find", &actions, nullptr, args, environ);
    posix_spawn_file_actions_destroy(&actions);
    if (error != 0) {
        std::fprintf(stderr, "cannot start find: %s\n", std::strerror(error));
        return false;
    }
    int status = 0;
    while (::waitpid(pid, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

void printRow(const char* label, const Timings& t, std::size_t candidates)
{
    std::printf("%-22s %9.4f s best  %9.4f s median", label, t.best(), t.median());
    if (candidates > 0)
        std::printf("  %12.0f candidates/s", static_cast<double>(candidates) / t.best());
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const auto exitCode
        = qevra::bench::readCommandLine(argc, argv, options, parseOptions, printUsage))
        return *exitCode;

    // The tree.
    qevra::bench::TreeSpec spec;
    spec.files = options.files;
    spec.seed = options.seed;
    const qevra::bench::TreePlan plan = qevra::bench::planTree(spec);
    const std::size_t expected = expectedCandidates(plan);
    const Clock::time_point prepareStart = Clock::now();
    qevra::bench::PrepareOutcome outcome;
    try {
        outcome = qevra::bench::prepareTree(options.dir, spec, plan);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "qevra-bench-collect: %s\n", error.what());
        return 2;
    }
    const double prepareSeconds = secondsSince(prepareStart);
    unsigned hiddenDirectories = 0;
    unsigned deepest = 0;
    for (const qevra::bench::PlannedDirectory& d : plan.directories) {
        hiddenDirectories += d.hidden;
        deepest = std::max(deepest, d.depth);
    }
    std::size_t hiddenFiles = 0;
    for (const qevra::bench::PlannedFile& f : plan.files)
        hiddenFiles += f.hidden;
    std::printf("tree: %s (%s in %.2f s)\n", options.dir.c_str(),
        outcome == qevra::bench::PrepareOutcome::Reused ? "reused" : "created", prepareSeconds);
    std::printf("  %zu files (%zu hidden), %zu directories below the root (%u hidden), "
                "%u levels, seed %llu\n",
        plan.files.size(), hiddenFiles, plan.directories.size() - 1, hiddenDirectories, deepest,
        static_cast<unsigned long long>(options.seed));
    std::printf("  extension text \"txt\": %zu candidates expected\n", expected);

    // The application, offscreen unless the caller chose a platform.
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    static int appArgc = 1;
    static char appName[] = "qevra-bench-collect";
    static char* appArgv[] = { appName, nullptr };
    qevra::Application application(appArgc, appArgv);

    qevra::TForm1 form(qevra::platform::realServices());
    form.proComboBox1->setEditText(kExtension);
    form.ListBox4.clear();
    form.ListBox4.append(options.dir);
    form.Label2->setCaption(
        QFile::decodeName(QByteArray(options.dir.data(), qsizetype(options.dir.size()))));
    form.show();
    QCoreApplication::processEvents();
    if (form.proComboBox1->currentText() != kExtension) {
        std::fprintf(stderr, "the extension box holds \"%s\" instead of \"txt\"\n",
            form.proComboBox1->currentText().toUtf8().constData());
        return 1;
    }

    qevra::search::PathList engineOut;
    std::size_t engineCount = 0;
    std::size_t formCount = 0;
    Timings engine, viaForm, find;
    try {
        // One untimed round warms the caches.
        collectWithEngine(options.dir, engineOut);
        collectWithForm(form, options.dir);
        if (!runFind(options.dir)) {
            std::fprintf(stderr, "find failed\n");
            return 1;
        }
        for (unsigned run = 0; run < options.runs; ++run) {
            Clock::time_point start = Clock::now();
            engineCount = collectWithEngine(options.dir, engineOut);
            engine.seconds.push_back(secondsSince(start));

            start = Clock::now();
            formCount = collectWithForm(form, options.dir);
            viaForm.seconds.push_back(secondsSince(start));

            start = Clock::now();
            const bool findOk = runFind(options.dir);
            find.seconds.push_back(secondsSince(start));
            if (!findOk) {
                std::fprintf(stderr, "find failed\n");
                return 1;
            }
        }
    } catch (const qevra::Exception& error) {
        std::fprintf(stderr, "the collection ended with: %s\n", error.what());
        return 1;
    }

    std::printf("runs: %u of each, warm cache, best counts\n", options.runs);
    std::printf("candidates collected: engine %zu, TForm1 %zu\n", engineCount, formCount);
    printRow("(a) engine", engine, engineCount);
    printRow("(b) TForm1::DirSize", viaForm, formCount);
    printRow("(c) find -type f", find, 0);
    const double formRatio = viaForm.best() / find.best();
    const double engineRatio = engine.best() / find.best();
    std::printf("ratio (b)/(c): %.2f\n", formRatio);
    std::printf("ratio (a)/(c): %.2f\n", engineRatio);
    std::printf("%s: collection through TForm1 within %.1f x find (%.2f x)\n",
        formRatio <= kGoalRatio ? "GOAL MET" : "GOAL MISSED", kGoalRatio, formRatio);

    int status = 0;
    if (engineCount != expected || formCount != expected) {
        std::fprintf(stderr, "WRONG COUNT: %zu candidates expected\n", expected);
        status = 1;
    }
    if (!options.keep) {
        if (qevra::bench::removeTree(options.dir))
            std::printf("tree removed\n");
        else
            std::fprintf(stderr, "the tree at %s was not removed\n", options.dir.c_str());
    }
    return status;
}
