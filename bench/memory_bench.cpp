// Times the comparisons remembered between searches by content, through the
// engine, on the generated content tree (100,000 files, about 3 GB):
//
//   qevra-bench-memory [--dir DIR] [--changed N] [--seed S] [--runs R] [--no-cold]
//
// The remembered comparisons go to a temporary folder of the bench's own,
// never to the user's cache. It measures:
//   1. a search by size, warm (the walk and the measuring): the yardstick;
//   2. the first search by content, with nothing remembered, warm;
//   3. a second search by content with nothing changed, warm: its time
//      against (1), and the files it opened and the bytes it read;
//   4. the same two with the page cache dropped before each (as root);
//   5. a search by content after N files were changed (half rewritten with
//      other bytes of their size and their modification time set back, half
//      touched): what it read, and whether its rows are those of a search
//      that remembers nothing, on the same files;
//   6. the size of the remembered comparisons' file.
// The searches of (1) and (3) run in turn (which of the two goes first
// changes from run to run), as do those of (4), and their medians count, so
// that a machine shared with other work treats both alike.
// Each search's time is split where its phases begin: the walk, the
// measuring, the loading of the store (to the comparing's first step), and
// the comparing with the saving.
//
// The tree is made when missing by the generator of qevra-bench-tree (its
// default content tree). The changed files are put back at the end (and at
// the start, should an earlier run have ended before that), but give the
// bench a tree of its own rather than one another benchmark reads meanwhile.

#include "content_tree.h"
#include "forwarding_files.h"
#include "tree_generator.h"

#include "search/comparison_memory.h"
#include "search/masks.h"
#include "search/search.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
namespace search = qevra::search;
namespace stdfs = std::filesystem;

// The tree qevra-bench-tree makes by default.
constexpr std::uint64_t kTreeFiles = 100000;
constexpr std::uint64_t kTreeSeed = 1;
constexpr std::uint64_t kTreeBytes = 3'000'000'000ull;

// The goals.
constexpr double kMostRatio = 1.2; // a search that remembers, against one by size

// The files this bench rewrote and has not put back yet, relative to the
// root, NUL-separated. Hidden, so no search counts it.
constexpr const char* kChangedName = ".qevra-bench-memory-changed";

struct Options {
    std::string dir = "/tmp/qevra-bench-memory";
    std::uint64_t changed = 1000;
    std::uint64_t seed = 1;
    unsigned runs = 3;
    bool cold = true;
};

void printUsage(std::FILE* to)
{
    std::fprintf(to,
        "usage: qevra-bench-memory [--dir DIR] [--changed N] [--seed S] [--runs R] [--no-cold]\n"
        "  --dir DIR      the content tree, made there when missing\n"
        "                 (default /tmp/qevra-bench-memory; its files are changed and put back)\n"
        "  --changed N    files changed before the last search (default 1000, 1 %%)\n"
        "  --seed S       seed of the choice of those files (default 1)\n"
        "  --runs R       runs of the warm searches, of which the median counts (default 3)\n"
        "  --no-cold      skip the searches with the page cache dropped\n");
}

bool parseNumber(const char* text, std::uint64_t& out)
{
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 10);
    if (*text == '\0' || *text == '-' || *end != '\0' || errno != 0)
        return false;
    out = value;
    return true;
}

bool parseOptions(int argc, char** argv, Options& options, bool& help)
{
    help = false;
    for (int i = 1; i < argc; ++i) {
        const std::string_view arg = argv[i];
        if (arg == "--help" || arg == "-h") {
            help = true;
            continue;
        }
        if (arg == "--no-cold") {
            options.cold = false;
            continue;
        }
        if (arg != "--dir" && arg != "--changed" && arg != "--seed" && arg != "--runs") {
            std::fprintf(stderr, "unknown option: %s\n", argv[i]);
            return false;
        }
        if (i + 1 >= argc) {
            std::fprintf(stderr, "%s needs a value\n", argv[i]);
            return false;
        }
        const char* value = argv[++i];
        if (arg == "--dir") {
            options.dir = value;
            if (options.dir.empty()) {
                std::fprintf(stderr, "--dir: empty path\n");
                return false;
            }
            continue;
        }
        std::uint64_t number = 0;
        if (!parseNumber(value, number)) {
            std::fprintf(stderr, "%s: not a number: %s\n", argv[i - 1], value);
            return false;
        }
        if (arg == "--changed") {
            options.changed = number;
        } else if (arg == "--seed") {
            options.seed = number;
        } else if (number == 0 || number > 100) {
            std::fprintf(stderr, "--runs: 1 to 100\n");
            return false;
        } else {
            options.runs = static_cast<unsigned>(number);
        }
    }
    return true;
}

double secondsSince(Clock::time_point start)
{
    return std::chrono::duration<double>(Clock::now() - start).count();
}

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

double megabytes(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 1e6;
}

// ---- The file system that counts what is read -------------------------------

class CountedStream final : public qevra::fs::ReadStream {
public:
    CountedStream(std::unique_ptr<qevra::fs::ReadStream> stream, std::atomic<std::uint64_t>& bytes)
        : stream_(std::move(stream))
        , bytes_(bytes)
    {
    }
    std::optional<qevra::fs::FileStamp> stamp() override { return stream_->stamp(); }
    std::int64_t read(char* buffer, std::int64_t count) override
    {
        const std::int64_t got = stream_->read(buffer, count);
        if (got > 0)
            bytes_.fetch_add(std::uint64_t(got), std::memory_order_relaxed);
        return got;
    }

private:
    std::unique_ptr<qevra::fs::ReadStream> stream_;
    std::atomic<std::uint64_t>& bytes_;
};

// The real file system, with the files opened for reading and the bytes
// read from them counted; measuring and examining pass on whole, as the
// real one takes them.
class CountingFiles final : public ForwardingFiles {
public:
    void measureEach(std::span<const std::string_view> paths,
        std::span<qevra::fs::FileStamp> stamps, std::span<int> errors) override
    {
        real().measureEach(paths, stamps, errors);
    }
    void examineEach(std::span<const std::string_view> paths, qevra::fs::Resolve resolve,
        std::span<qevra::fs::FileStamp> stamps) override
    {
        real().examineEach(paths, resolve, stamps);
    }
    std::unique_ptr<qevra::fs::ReadStream> openRead(const std::string& path) override
    {
        auto stream = real().openRead(path);
        opens_.fetch_add(1, std::memory_order_relaxed);
        if (noting_.load(std::memory_order_relaxed)) {
            const std::lock_guard lock(mutex_);
            opened_.push_back(path);
        }
        if (!stream)
            return stream;
        return std::make_unique<CountedStream>(std::move(stream), bytes_);
    }

    // Starts counting anew; with `note`, the paths opened are kept too.
    void reset(bool note)
    {
        opens_ = 0;
        bytes_ = 0;
        noting_ = note;
        const std::lock_guard lock(mutex_);
        opened_.clear();
    }
    std::uint64_t opens() const { return opens_.load(); }
    std::uint64_t bytes() const { return bytes_.load(); }
    std::vector<std::string> opened() const
    {
        const std::lock_guard lock(mutex_);
        return opened_;
    }

private:
    std::atomic<std::uint64_t> opens_ { 0 };
    std::atomic<std::uint64_t> bytes_ { 0 };
    std::atomic<bool> noting_ { false };
    mutable std::mutex mutex_;
    std::vector<std::string> opened_;
};

// ---- One search ----------------------------------------------------------------

// Notes when each phase began, and when the comparing began to read (its
// first step with the bytes to compare: after the remembered comparisons
// were loaded).
class PhaseClock final : public search::SearchObserver {
public:
    PhaseClock()
        : start(Clock::now())
    {
    }
    void phaseStarted(search::Phase phase, std::uint64_t) override
    {
        if (phase == search::Phase::Measuring)
            measuring = Clock::now();
        else if (phase == search::Phase::Comparing)
            comparing = Clock::now();
    }
    bool step(search::Phase phase, std::uint64_t, std::uint64_t total) override
    {
        if (phase == search::Phase::Comparing && total > 0 && !pairing)
            pairing = Clock::now();
        return true;
    }
    void warning(const search::Warning& warning) override
    {
        if (++warnings <= 5)
            std::fprintf(stderr, "warning: %s: %s\n", warning.path.c_str(), warning.what.c_str());
    }

    Clock::time_point start;
    std::optional<Clock::time_point> measuring;
    std::optional<Clock::time_point> comparing;
    std::optional<Clock::time_point> pairing;
    std::size_t warnings = 0;
};

struct Timed {
    double seconds = 0;
    double collecting = 0; // to the measuring
    double measuring = 0; // to the comparing, or to the end
    double loading = 0; // the comparing to its first step with bytes
    double comparing = 0; // the rest, the saving included
    std::uint64_t opens = 0;
    std::uint64_t bytes = 0;
    std::size_t candidates = 0;
    std::uint64_t rows = 0;
    std::uint64_t rowsHash = 0;
    std::size_t warnings = 0;
    bool stopped = false;
};

double between(Clock::time_point from, Clock::time_point to)
{
    return std::chrono::duration<double>(to - from).count();
}

// FNV-1a over every row's two paths, in the rows' order.
std::uint64_t hashRows(const search::Results& results)
{
    std::uint64_t hash = 0xcbf29ce484222325ull;
    const auto add = [&](std::string_view text) {
        for (const char c : text) {
            hash ^= static_cast<unsigned char>(c);
            hash *= 0x100000001b3ull;
        }
        hash ^= 0xff;
        hash *= 0x100000001b3ull;
    };
    for (std::uint64_t r = 0; r < results.pairs.rows(); ++r) {
        const search::Row row = results.pairs.row(r);
        add(results.candidates[row.first]);
        add(results.candidates[row.second]);
    }
    return hash;
}

Timed runSearch(const std::string& root, qevra::Criterion criterion, const std::string& store,
    CountingFiles& files, search::Results& results, bool note = false)
{
    search::SearchRequest request;
    request.roots = { root };
    request.extensionText = QStringLiteral("*");
    for (const QString& mask : search::masksFor(request.extensionText))
        request.masks.emplace_back(mask);
    request.criterion = criterion;
    request.options.stopAtUnmeasurable = false;
    request.options.comparisons = store;
    files.reset(note);
    PhaseClock clock;
    const search::Ended ended = search::run(request, files, results, clock);
    const Clock::time_point end = Clock::now();

    Timed timed;
    timed.seconds = between(clock.start, end);
    const Clock::time_point measuring = clock.measuring.value_or(end);
    const Clock::time_point comparing = clock.comparing.value_or(end);
    const Clock::time_point pairing = clock.pairing.value_or(comparing);
    timed.collecting = between(clock.start, measuring);
    timed.measuring = between(measuring, comparing);
    timed.loading = between(comparing, pairing);
    timed.comparing = between(pairing, end);
    timed.opens = files.opens();
    timed.bytes = files.bytes();
    timed.candidates = results.candidates.size();
    timed.rows = results.pairs.rows();
    timed.rowsHash = hashRows(results);
    timed.warnings = clock.warnings;
    timed.stopped = ended.stopped;
    return timed;
}

// A search into results of its own, freed after its time was taken.
Timed searchOnce(const std::string& root, qevra::Criterion criterion, const std::string& store,
    CountingFiles& files)
{
    search::Results results;
    return runSearch(root, criterion, store, files, results);
}

void printSearch(const char* what, const Timed& timed)
{
    std::printf("  %-44s %7.3f s  (walk %.3f, measure %.3f", what, timed.seconds, timed.collecting,
        timed.measuring);
    if (timed.loading > 0 || timed.comparing > 0)
        std::printf(", load %.3f, compare+save %.3f", timed.loading, timed.comparing);
    std::printf(")  %zu files, %llu rows, %llu opened, %.1f MB read%s\n", timed.candidates,
        static_cast<unsigned long long>(timed.rows), static_cast<unsigned long long>(timed.opens),
        megabytes(timed.bytes), timed.stopped ? ", STOPPED" : "");
    if (timed.warnings > 0)
        std::printf("    %zu warnings\n", timed.warnings);
    std::fflush(stdout);
}

// Empty when the page cache was dropped, else why not.
std::string dropPageCache()
{
    ::sync();
    const int fd = ::open("/proc/sys/vm/drop_caches", O_WRONLY | O_CLOEXEC);
    if (fd < 0)
        return std::string("cannot open /proc/sys/vm/drop_caches: ") + std::strerror(errno);
    const bool written = ::write(fd, "3", 1) == 1;
    const int error = errno;
    ::close(fd);
    if (!written)
        return std::string("cannot write /proc/sys/vm/drop_caches: ") + std::strerror(error);
    return {};
}

// ---- Changing files and putting them back ----------------------------------

std::string joined(const std::string& root, std::string_view relative)
{
    std::string path = root;
    path += '/';
    path += relative;
    return path;
}

bool writeChangedList(const std::string& root, const std::vector<std::string>& relative)
{
    std::ofstream out(joined(root, kChangedName), std::ios::binary | std::ios::trunc);
    for (const std::string& path : relative) {
        out << path;
        out.put('\0');
    }
    out.close();
    return static_cast<bool>(out);
}

// Puts back the planned contents of the files an earlier change listed;
// false when one could not be.
bool restoreChanged(const std::string& root, const qevra::bench::TreePlan& plan)
{
    const std::string listPath = joined(root, kChangedName);
    std::ifstream in(listPath, std::ios::binary);
    if (!in)
        return true;
    std::unordered_map<std::string_view, const qevra::bench::PlannedFile*> byPath;
    for (const qevra::bench::PlannedFile& file : plan.files)
        byPath.emplace(file.path, &file);
    std::string relative;
    std::size_t restored = 0;
    bool whole = true;
    while (std::getline(in, relative, '\0')) {
        const auto found = byPath.find(relative);
        if (found == byPath.end()) {
            whole = false;
            continue;
        }
        const std::string path = joined(root, relative);
        const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0 || !qevra::bench::writeGeneratedContents(fd, *found->second)) {
            std::fprintf(stderr, "cannot put back %s\n", path.c_str());
            whole = false;
        } else {
            ++restored;
        }
        if (fd >= 0)
            ::close(fd);
    }
    in.close();
    if (whole)
        ::unlink(listPath.c_str());
    std::printf("  put back %zu rewritten file(s) as planned%s\n", restored,
        whole ? "" : " (some could not be)");
    return whole;
}

// Another content of the same size: every byte of the file inverted in
// part (XOR 0xA5), its access and modification times set back as they were.
bool rewrite(const std::string& path)
{
    const int fd = ::open(path.c_str(), O_RDWR | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return false;
    struct stat before { };
    bool done = ::fstat(fd, &before) == 0;
    std::vector<char> bytes(done ? std::size_t(before.st_size) : 0);
    std::size_t got = 0;
    while (done && got < bytes.size()) {
        const ssize_t n = ::pread(fd, bytes.data() + got, bytes.size() - got, off_t(got));
        if (n < 0 && errno == EINTR)
            continue;
        done = n > 0;
        got += done ? std::size_t(n) : 0;
    }
    for (char& c : bytes)
        c = static_cast<char>(static_cast<unsigned char>(c) ^ 0xA5);
    std::size_t put = 0;
    while (done && put < bytes.size()) {
        const ssize_t n = ::pwrite(fd, bytes.data() + put, bytes.size() - put, off_t(put));
        if (n < 0 && errno == EINTR)
            continue;
        done = n > 0;
        put += done ? std::size_t(n) : 0;
    }
    const struct timespec times[2] = { before.st_atim, before.st_mtim };
    done = done && ::futimens(fd, times) == 0;
    return ::close(fd) == 0 && done;
}

bool touch(const std::string& path)
{
    const struct timespec times[2] = { { 0, UTIME_OMIT }, { 0, UTIME_NOW } };
    return ::utimensat(AT_FDCWD, path.c_str(), times, AT_SYMLINK_NOFOLLOW) == 0;
}

// `count` planned files that share their size with another, not empty,
// chosen by the seed: the first half to be rewritten, the rest touched.
std::vector<std::uint32_t> chooseFiles(
    const qevra::bench::TreePlan& plan, std::uint64_t count, std::uint64_t seed)
{
    std::unordered_map<std::uint64_t, std::uint32_t> perSize;
    for (const qevra::bench::PlannedFile& file : plan.files) {
        if (!file.hidden)
            ++perSize[file.size];
    }
    std::vector<std::uint32_t> eligible;
    for (std::uint32_t f = 0; f < plan.files.size(); ++f) {
        const qevra::bench::PlannedFile& file = plan.files[f];
        if (!file.hidden && !file.hole && file.size > 0 && perSize[file.size] > 1)
            eligible.push_back(f);
    }
    qevra::bench::Random random(seed);
    const std::size_t wanted = std::min<std::size_t>(count, eligible.size());
    for (std::size_t i = 0; i < wanted; ++i)
        std::swap(eligible[i], eligible[random.between(i, eligible.size() - 1)]);
    eligible.resize(wanted);
    return eligible;
}

// ---- What the changed search must read ------------------------------------

// The files a search that remembers must open after the change, at most:
// the changed ones, and one of each remembered class (the classes of the
// search before, a file alone being a class of its own) among the unchanged
// files of each size that holds a changed one.
std::uint64_t mostToOpen(
    const search::Results& before, const std::unordered_set<std::string>& changed)
{
    const std::size_t n = before.candidates.size();
    std::vector<std::uint64_t> classOf(n);
    for (std::size_t c = 0; c < n; ++c)
        classOf[c] = before.pairs.groups() + c;
    for (std::size_t g = 0; g < before.pairs.groups(); ++g) {
        for (const std::uint32_t c : before.pairs.group(g))
            classOf[c] = g;
    }
    std::unordered_map<std::int64_t, std::vector<std::uint32_t>> bySize;
    std::vector<bool> isChanged(n, false);
    for (std::uint32_t c = 0; c < n; ++c) {
        bySize[before.stamps[c].size].push_back(c);
        isChanged[c] = changed.count(std::string(before.candidates[c])) > 0;
    }
    std::uint64_t most = 0;
    for (const auto& [size, members] : bySize) {
        std::uint64_t changedHere = 0;
        std::unordered_set<std::uint64_t> classes;
        for (const std::uint32_t c : members) {
            if (isChanged[c])
                ++changedHere;
            else
                classes.insert(classOf[c]);
        }
        if (changedHere > 0)
            most += changedHere + classes.size();
    }
    return most;
}

// ---- The table -------------------------------------------------------------

struct Line {
    std::string measure;
    std::string result;
    std::string goal;
    std::string met; // "yes", "NO", or "-"
};

std::string formatted(const char* format, double a, double b = 0, double c = 0)
{
    char text[160];
    // The formats are this file's own literals.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wformat-nonliteral"
    std::snprintf(text, sizeof text, format, a, b, c);
#pragma GCC diagnostic pop
    return text;
}

void printTable(const std::vector<Line>& lines)
{
    std::size_t widths[3] = { 7, 6, 4 };
    for (const Line& line : lines) {
        widths[0] = std::max(widths[0], line.measure.size());
        widths[1] = std::max(widths[1], line.result.size());
        widths[2] = std::max(widths[2], line.goal.size());
    }
    const auto row = [&](const std::string& a, const std::string& b, const std::string& c,
                         const std::string& d) {
        std::printf("%-*s  %-*s  %-*s  %s\n", int(widths[0]), a.c_str(), int(widths[1]), b.c_str(),
            int(widths[2]), c.c_str(), d.c_str());
    };
    row("Measure", "Result", "Goal", "Met");
    row(std::string(widths[0], '-'), std::string(widths[1], '-'), std::string(widths[2], '-'),
        "---");
    for (const Line& line : lines)
        row(line.measure, line.result, line.goal, line.met);
}

const char* yesNo(bool met)
{
    return met ? "yes" : "NO";
}

// A private folder under the temporary directory, removed at the end.
class TemporaryFolder {
public:
    TemporaryFolder()
    {
        std::string name = (stdfs::temp_directory_path() / "qevra-bench-memory-XXXXXX").native();
        if (::mkdtemp(name.data()))
            path_ = name;
    }
    ~TemporaryFolder()
    {
        std::error_code error;
        if (!path_.empty())
            stdfs::remove_all(path_, error);
    }
    TemporaryFolder(const TemporaryFolder&) = delete;
    TemporaryFolder& operator=(const TemporaryFolder&) = delete;
    const std::string& path() const { return path_; }

private:
    std::string path_;
};

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const auto exitCode
        = qevra::bench::readCommandLine(argc, argv, options, parseOptions, printUsage))
        return *exitCode;

    // The tree, as qevra-bench-tree makes it by default.
    const qevra::bench::PlannedTree tree
        = qevra::bench::planContentTree(kTreeFiles, kTreeSeed, kTreeBytes);
    const auto& [parameters, plan, planned] = tree;
    std::string root;
    try {
        const Clock::time_point start = Clock::now();
        const auto outcome = qevra::bench::prepareTree(options.dir, parameters, plan);
        qevra::bench::writeFacts(options.dir, planned);
        root = stdfs::canonical(options.dir).native();
        std::printf("tree: %s, %llu files, %.1f MB (%s in %.1f s)\n", root.c_str(),
            static_cast<unsigned long long>(planned.files), megabytes(planned.bytes),
            outcome == qevra::bench::PrepareOutcome::Reused ? "reused" : "created",
            secondsSince(start));
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "qevra-bench-memory: %s\n", failure.what());
        return 1;
    }
    if (!restoreChanged(root, plan))
        return 1;

    const TemporaryFolder storeFolder;
    const TemporaryFolder scratchFolder;
    if (storeFolder.path().empty() || scratchFolder.path().empty()) {
        std::fprintf(stderr, "qevra-bench-memory: cannot make a temporary folder\n");
        return 1;
    }
    const std::string& store = storeFolder.path();
    std::printf("remembered comparisons in %s\n\n", store.c_str());

    CountingFiles files;
    std::vector<Line> table;
    bool allMet = true;
    bool rowsRight = true;
    const auto goal = [&](bool met) {
        allMet = allMet && met;
        return std::string(yesNo(met));
    };

    // 2. By content: once remembering nothing (which warms the page cache and
    // gives the rows every search must give), then the first search that
    // remembers, with an empty store, and once more remembering nothing, for
    // its time warm.
    std::printf("2. first search by content, warm\n");
    search::Results reference;
    const Timed warming = runSearch(root, qevra::Criterion::Content, {}, files, reference);
    printSearch("without the store (warms the cache)", warming);
    const auto kept = qevra::bench::readFacts(root);
    if (kept && kept->count("content-rows") > 0) {
        const bool right
            = kept->at("content-rows") == warming.rows && kept->at("files") == warming.candidates;
        std::printf("  tree facts: %llu rows expected: %s\n",
            static_cast<unsigned long long>(kept->at("content-rows")), right ? "OK" : "MISMATCH");
        rowsRight = rowsRight && right;
    }
    const auto sameAsReference = [&](const Timed& timed) {
        return timed.rows == warming.rows && timed.rowsHash == warming.rowsHash
            && timed.candidates == warming.candidates;
    };
    Timed first;
    Timed plain;
    first = searchOnce(root, qevra::Criterion::Content, store, files);
    printSearch("with an empty store", first);
    plain = searchOnce(root, qevra::Criterion::Content, {}, files);
    printSearch("without the store", plain);
    rowsRight = rowsRight && sameAsReference(first) && sameAsReference(plain);
    table.push_back({ "2. first search by content, empty store, warm",
        formatted("%.3f s (without the store %.3f s)", first.seconds, plain.seconds), "", "-" });

    // 1 and 3. By size, and by content with nothing changed since, warm: one
    // of each in turn, so that both see the same machine; the medians count.
    std::printf("1 and 3. search by size, and by content with the store and nothing changed,"
                " warm, in turn\n");
    std::vector<double> sizeTimes;
    std::vector<double> secondTimes;
    std::uint64_t secondOpens = 0;
    std::uint64_t secondBytes = 0;
    for (unsigned turn = 0; turn < 2 * options.runs; ++turn) {
        // Which goes first changes from run to run: a search can leave the
        // next one a different start (memory to fault in, threads to make).
        if ((turn + turn / 2) % 2 == 0) {
            const Timed bySize = searchOnce(root, qevra::Criterion::Size, {}, files);
            printSearch("by size", bySize);
            sizeTimes.push_back(bySize.seconds);
            continue;
        }
        const Timed timed = searchOnce(root, qevra::Criterion::Content, store, files);
        printSearch("by content, with the store", timed);
        secondTimes.push_back(timed.seconds);
        secondOpens = std::max(secondOpens, timed.opens);
        secondBytes = std::max(secondBytes, timed.bytes);
        rowsRight = rowsRight && sameAsReference(timed);
    }
    const double sizeWarm = median(sizeTimes);
    const double secondWarm = median(secondTimes);
    const double warmRatio = secondWarm / sizeWarm;
    table.insert(table.begin(),
        { "1. search by size (walk + measure), warm, median", formatted("%.3f s", sizeWarm), "",
            "-" });
    table.push_back({ "3. second search by content, unchanged, warm, median",
        formatted("%.3f s = %.2f x (1)", secondWarm, warmRatio), formatted("<= %.1f x", kMostRatio),
        goal(warmRatio <= kMostRatio) });
    table.push_back({ "   files opened, bytes read (most of the runs)",
        formatted("%.0f, %.0f", double(secondOpens), double(secondBytes)), "0, 0",
        goal(secondOpens == 0 && secondBytes == 0) });

    // Where the store's time goes: loading it, and saving what one search
    // proves into a copy of it.
    std::uint64_t entries = 0;
    {
        const search::ComparisonStore comparisons(store);
        const Clock::time_point loadStart = Clock::now();
        const search::ComparisonMemory loaded = comparisons.load();
        const double loadSeconds = secondsSince(loadStart);
        entries = loaded.entries().size();
        search::ComparisonMemory proved;
        const std::uint64_t comparison = search::ComparisonMemory::newComparison();
        for (const search::ComparisonMemory::Entry& entry : loaded.entries()) {
            qevra::fs::FileStamp stamp;
            stamp.device = entry.device;
            stamp.inode = entry.inode;
            stamp.size = entry.size;
            stamp.modified = entry.modified;
            stamp.changed = entry.changed;
            proved.learn(stamp, { comparison, entry.cls });
        }
        std::error_code error;
        stdfs::copy_file(stdfs::path(store) / search::ComparisonStore::kFileName,
            stdfs::path(scratchFolder.path()) / search::ComparisonStore::kFileName, error);
        const search::ComparisonStore scratch(scratchFolder.path());
        const Clock::time_point saveStart = Clock::now();
        const bool saved = scratch.save(std::move(proved));
        const double saveSeconds = secondsSince(saveStart);
        std::printf("  the store alone: load %.3f s, save %.3f s%s (%llu entries)\n", loadSeconds,
            saveSeconds, saved ? "" : " (FAILED)", static_cast<unsigned long long>(entries));
    }

    // 4. Cold: the page cache dropped before each.
    std::printf("4. cold: the page cache dropped before each search\n");
    if (!options.cold) {
        std::printf("  skipped (--no-cold)\n");
        table.push_back({ "4. cold, second search by content / by size", "skipped (--no-cold)",
            formatted("<= %.1f x", kMostRatio), "-" });
    } else if (const std::string why = dropPageCache(); !why.empty()) {
        std::printf("  skipped: %s\n", why.c_str());
        table.push_back({ "4. cold, second search by content / by size",
            "skipped: the page cache cannot be dropped", formatted("<= %.1f x", kMostRatio), "-" });
    } else {
        std::vector<double> coldSizeTimes;
        std::vector<double> coldContentTimes;
        std::uint64_t opens = 0;
        std::uint64_t bytes = 0;
        bool dropped = true;
        for (unsigned turn = 0; turn < 2 * options.runs; ++turn) {
            // The first drop was the check above.
            if (turn > 0 && !dropPageCache().empty()) {
                dropped = false;
                break;
            }
            if ((turn + turn / 2) % 2 == 0) {
                const Timed bySize = searchOnce(root, qevra::Criterion::Size, {}, files);
                printSearch("by size", bySize);
                coldSizeTimes.push_back(bySize.seconds);
                continue;
            }
            const Timed timed = searchOnce(root, qevra::Criterion::Content, store, files);
            printSearch("by content, with the store", timed);
            rowsRight = rowsRight && sameAsReference(timed);
            coldContentTimes.push_back(timed.seconds);
            opens = std::max(opens, timed.opens);
            bytes = std::max(bytes, timed.bytes);
        }
        const double sizeCold = median(coldSizeTimes);
        const double contentCold = median(coldContentTimes);
        const double ratio = contentCold / sizeCold;
        table.push_back({ "4. cold, second search by content / by size, medians",
            formatted("%.3f s / %.3f s = %.2f x", contentCold, sizeCold, ratio),
            formatted("<= %.1f x", kMostRatio), dropped ? goal(ratio <= kMostRatio) : "-" });
        table.push_back({ "   files opened, bytes read (most of the runs)",
            formatted("%.0f, %.0f", double(opens), double(bytes)), "0, 0",
            goal(opens == 0 && bytes == 0) });
    }

    // 5. Some files changed.
    std::printf("5. %llu files changed, then a search by content\n",
        static_cast<unsigned long long>(options.changed));
    const std::vector<std::uint32_t> chosen = chooseFiles(plan, options.changed, options.seed);
    const std::size_t rewrittenCount = chosen.size() / 2;
    std::vector<std::string> rewritten;
    for (std::size_t k = 0; k < rewrittenCount; ++k)
        rewritten.push_back(plan.files[chosen[k]].path);
    if (!writeChangedList(root, rewritten)) {
        std::fprintf(stderr, "qevra-bench-memory: cannot write %s in the tree\n", kChangedName);
        return 1;
    }
    std::unordered_set<std::string> changed;
    std::size_t failures = 0;
    for (std::size_t k = 0; k < chosen.size(); ++k) {
        const std::string path = joined(root, plan.files[chosen[k]].path);
        if (!(k < rewrittenCount ? rewrite(path) : touch(path)))
            ++failures;
        changed.insert(path);
    }
    std::printf("  %zu rewritten with their times set back, %zu touched%s\n", rewrittenCount,
        chosen.size() - rewrittenCount, failures > 0 ? " (SOME FAILED)" : "");

    // The rows of a search that remembers nothing, on the changed files
    // (and the page cache warm for the next one).
    search::Results changedReference;
    const Timed changedPlain
        = runSearch(root, qevra::Criterion::Content, {}, files, changedReference);
    printSearch("without the store", changedPlain);
    search::Results changedResults;
    const Timed changedTimed
        = runSearch(root, qevra::Criterion::Content, store, files, changedResults, true);
    printSearch("with the store", changedTimed);

    std::unordered_set<std::string> opened;
    for (std::string& path : files.opened())
        opened.insert(std::move(path));
    std::uint64_t openedChanged = 0;
    for (const std::string& path : opened)
        openedChanged += changed.count(path);
    const std::uint64_t openedOthers = opened.size() - openedChanged;
    const std::uint64_t most = mostToOpen(reference, changed);
    const bool sameRows = changedTimed.rows == changedPlain.rows
        && changedTimed.rowsHash == changedPlain.rowsHash
        && changedTimed.candidates == changedPlain.candidates;
    std::printf("  opened %llu times: %zu files, %llu of them changed, %llu unchanged;"
                " at most %llu expected (the changed files and one of each remembered class"
                " of their sizes)\n",
        static_cast<unsigned long long>(changedTimed.opens), opened.size(),
        static_cast<unsigned long long>(openedChanged),
        static_cast<unsigned long long>(openedOthers), static_cast<unsigned long long>(most));
    std::printf("  rows: %llu with the store, %llu without; %s\n",
        static_cast<unsigned long long>(changedTimed.rows),
        static_cast<unsigned long long>(changedPlain.rows), sameRows ? "the same" : "DIFFERENT");
    rowsRight = rowsRight && sameRows;

    table.push_back(
        { formatted("5. %.0f files changed (%.1f %%), search by content, warm",
              double(chosen.size()), 100.0 * double(chosen.size()) / double(planned.files)),
            formatted("%.3f s = %.2f x (1) (without the store %.3f s)", changedTimed.seconds,
                changedTimed.seconds / sizeWarm, changedPlain.seconds),
            "", "-" });
    table.push_back({ "   files opened, bytes read",
        formatted("%.0f files (%.0f opens), %.1f MB", double(opened.size()),
            double(changedTimed.opens), megabytes(changedTimed.bytes)),
        "", "-" });
    table.push_back({ "   changed files among them",
        formatted("%.0f of %.0f", double(openedChanged), double(changed.size())), "all",
        goal(openedChanged == changed.size()) });
    table.push_back({ "   unchanged files opened vs changed files",
        formatted("%.0f vs %.0f", double(openedOthers), double(changed.size())),
        "<= one partner each", goal(openedOthers <= changed.size()) });
    table.push_back({ "   files opened vs changed + a class each of their sizes",
        formatted("%.0f vs %.0f", double(opened.size()), double(most)),
        "<=", goal(opened.size() <= most) });
    table.push_back({ "   rows (count, hash) as without the store",
        formatted("%.0f, ", double(changedTimed.rows)) + (sameRows ? "equal" : "DIFFERENT"),
        "equal", goal(sameRows) });

    // Put the tree back as it was planned.
    restoreChanged(root, plan);

    // 6. The store's file.
    std::error_code error;
    const std::uintmax_t storeBytes
        = stdfs::file_size(stdfs::path(store) / search::ComparisonStore::kFileName, error);
    entries = search::ComparisonStore(store).load().entries().size();
    table.push_back({ "6. the store's file, entries, bytes per entry",
        error ? std::string("missing")
              : formatted("%.0f bytes, %.0f entries, %.1f B/entry", double(storeBytes),
                  double(entries), entries > 0 ? double(storeBytes) / double(entries) : 0.0),
        "", "-" });
    table.push_back({ "rows of every search by content as without the store",
        rowsRight ? "equal" : "DIFFERENT", "equal", goal(rowsRight) });

    std::printf("\n");
    printTable(table);
    std::printf("\n%s\n", allMet ? "ALL GOALS MET" : "SOME GOALS MISSED");
    return rowsRight ? 0 : 1;
}
