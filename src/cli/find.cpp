#include "cli/find.h"

#include "cli/options.h"
#include "cli/report.h"
#include "search/comparison_memory.h"
#include "search/search.h"

#include <chrono>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace qevra::cli {

namespace {

using Clock = std::chrono::steady_clock;

std::string megabytes(std::uint64_t bytes)
{
    char text[32];
    std::snprintf(text, sizeof text, "%.1f MB", static_cast<double>(bytes) / 1e6);
    return text;
}

// Follows the search for the terminal: a line of progress on standard error
// while it is a terminal, redrawn a few times a second; the warnings, named
// there too and kept for the JSON document; the interruption.
class TerminalProgress final : public search::SearchObserver {
public:
    TerminalProgress(
        std::FILE* err, const std::atomic<bool>& interrupted, const search::Results& results)
        : err_(err)
        , interrupted_(interrupted)
        , results_(results)
        , terminal_(::isatty(::fileno(err)) == 1)
    {
    }
    ~TerminalProgress() override { clear(); }
    TerminalProgress(const TerminalProgress&) = delete;
    TerminalProgress& operator=(const TerminalProgress&) = delete;

    bool step(search::Phase phase, std::uint64_t done, std::uint64_t total) override
    {
        if (interrupted_.load())
            return false;
        if (terminal_) {
            const Clock::time_point now = Clock::now();
            if (now - drawn_ >= std::chrono::milliseconds(100)) {
                drawn_ = now;
                draw(phase, done, total, now);
            }
        }
        return !interrupted_.load();
    }
    void phaseStarted(search::Phase phase, std::uint64_t) override
    {
        if (phase != phase_ || phase != search::Phase::Collecting)
            phaseStart_ = Clock::now();
        phase_ = phase;
    }
    void warning(const search::Warning& warning) override
    {
        warnings.push_back(warning);
        clear();
        std::fprintf(err_, "qevra-find: %s: %s\n", warning.path.c_str(), warning.what.c_str());
    }
    // Takes the progress line off the terminal.
    void clear()
    {
        if (terminal_ && shown_) {
            std::fputs("\r\033[K", err_);
            std::fflush(err_);
            shown_ = false;
        }
    }

    std::vector<search::Warning> warnings;

private:
    void draw(search::Phase phase, std::uint64_t done, std::uint64_t total, Clock::time_point now)
    {
        std::string line;
        switch (phase) {
        case search::Phase::Collecting:
            line = "collecting: " + std::to_string(results_.candidates.size()) + " files";
            break;
        case search::Phase::Naming:
            line = "pairing names: " + std::to_string(done) + " of " + std::to_string(total);
            break;
        case search::Phase::Measuring:
            line = "measuring: " + std::to_string(done) + " of " + std::to_string(total) + " files";
            break;
        case search::Phase::Comparing:
            line = "comparing: " + megabytes(done) + " of " + megabytes(total);
            break;
        }
        if (phase != search::Phase::Collecting && total > 0) {
            const double share = std::min(1.0, static_cast<double>(done) / double(total));
            constexpr int kWidth = 20;
            const int filled = static_cast<int>(share * kWidth);
            line += " [" + std::string(std::size_t(filled), '#')
                + std::string(std::size_t(kWidth - filled), ' ') + "]";
            const double seconds = std::chrono::duration<double>(now - phaseStart_).count();
            if (done > 0 && seconds >= 1) {
                const auto left
                    = static_cast<long long>(seconds * double(total - done) / double(done));
                char eta[48];
                std::snprintf(eta, sizeof eta, " %lld:%02lld left", left / 60, left % 60);
                line += eta;
            }
        }
        std::fprintf(err_, "\r\033[K%s", line.c_str());
        std::fflush(err_);
        shown_ = true;
    }

    std::FILE* err_;
    const std::atomic<bool>& interrupted_;
    const search::Results& results_;
    const bool terminal_;
    bool shown_ = false;
    Clock::time_point drawn_ {};
    search::Phase phase_ = search::Phase::Collecting;
    Clock::time_point phaseStart_ = Clock::now();
};

// The directory a DIR names, absolute and without links, as the folder
// dialog of the program answers it; nothing, with the reason in `error`,
// when it is no directory.
std::optional<std::string> resolvedDirectory(const std::string& dir, std::string& error)
{
    char resolved[PATH_MAX];
    if (!::realpath(dir.c_str(), resolved)) {
        error = std::strerror(errno);
        return std::nullopt;
    }
    struct stat status;
    if (::stat(resolved, &status) != 0 || !S_ISDIR(status.st_mode)) {
        error = std::strerror(ENOTDIR);
        return std::nullopt;
    }
    return std::string(resolved);
}

} // namespace

int runFind(const std::vector<std::string>& arguments, std::FILE* out, std::FILE* err,
    const std::atomic<bool>& interrupted)
{
    std::string error;
    const std::optional<FindOptions> options = parseFindOptions(arguments, error);
    if (!options) {
        std::fprintf(err, "qevra-find: %s\nTry 'qevra-find --help' for more.\n", error.c_str());
        return 2;
    }
    if (options->help) {
        std::fputs(findUsage().c_str(), out);
        return std::fflush(out) == 0 ? 0 : 1;
    }
    if (options->version) {
        std::fprintf(out, "qevra-find %s\n", QEVRA_VERSION);
        return std::fflush(out) == 0 ? 0 : 1;
    }

    const std::optional<std::string> comparisons = search::ComparisonStore::defaultFolder();
    if (options->forget && comparisons && !search::ComparisonStore(*comparisons).clear()) {
        std::fprintf(err, "qevra-find: %s: the remembered comparisons could not be emptied\n",
            comparisons->c_str());
        return 1;
    }
    if (options->dirs.empty())
        return 0;

    search::SearchRequest request;
    for (const std::string& dir : options->dirs) {
        const auto resolved = resolvedDirectory(dir, error);
        if (!resolved) {
            std::fprintf(err, "qevra-find: %s: %s\n", dir.c_str(), error.c_str());
            return 1;
        }
        request.roots.push_back(*resolved);
    }
    request.criterion = options->criterion;
    if (options->extensionText) {
        request.extensionText = *options->extensionText;
        for (const QString& mask : search::masksFor(request.extensionText))
            request.masks.emplace_back(mask);
    } else {
        request.masks.emplace_back(QStringLiteral("*"));
    }
    // A file that cannot be measured is named and left out: one unreadable
    // file does not end a search on a terminal.
    request.options.stopAtUnmeasurable = false;
    if (!options->noCache) {
        if (const auto folder = search::ComparisonStore::folderForSearches())
            request.options.comparisons = *folder;
    }

    search::Results results;
    TerminalProgress progress(err, interrupted, results);
    const search::Ended ended = search::run(request, fs::realFileSystem(), results, progress);
    progress.clear();
    if (ended.stopped || interrupted.load()) {
        std::fputs("qevra-find: interrupted\n", err);
        return 130;
    }

    const Groups groups = groupsOf(results);
    bool written = false;
    switch (options->format) {
    case FindOptions::Format::Rows:
        written = writeRows(out, results, options->nulSeparated);
        break;
    case FindOptions::Format::Groups:
        written = writeGroups(out, results, groups, options->nulSeparated);
        break;
    case FindOptions::Format::Summary:
        written = writeSummary(out, summarize(results, groups));
        break;
    case FindOptions::Format::Json:
        written = writeJson(out, request.criterion, request.roots, results, groups,
            summarize(results, groups), progress.warnings);
        break;
    }
    if (!written) {
        std::fprintf(
            err, "qevra-find: the output could not be written: %s\n", std::strerror(errno));
        return 1;
    }
    return 0;
}

} // namespace qevra::cli
