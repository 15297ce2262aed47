// Makes (or finds ready) a generated tree for the search benchmarks and
// prints what it holds:
//
//   qevra-bench-tree --dir DIR [--files N] [--seed S] [--bytes TOTAL]
//       the content tree: tiny, KiB- and MiB-sized files with duplicates of
//       several kinds (default 100000 files, about 3 GB);
//   qevra-bench-tree --dir DIR --files 1000000 --tiny
//       the scale tree: empty or tiny files (and holes) whose names and sizes
//       recur a few times, for the name and size passes.
//
// The tree's facts (files, bytes, the rows each search must give) go to a
// hidden file in its root, where qevra-bench finds them.

#include "content_tree.h"
#include "tree_generator.h"

#include <charconv>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <string>
#include <string_view>
#include <sys/statvfs.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    std::string dir;
    std::uint64_t files = 100000;
    std::uint64_t seed = 1;
    std::uint64_t bytes = 3'000'000'000ull;
    bool tiny = false;
    bool filesGiven = false;
};

void printUsage(std::FILE* to)
{
    std::fprintf(to,
        "usage: qevra-bench-tree --dir DIR [--files N] [--seed S] [--bytes TOTAL] [--tiny]\n"
        "  --dir DIR      where the tree is made, or found ready from an earlier run\n"
        "  --files N      files in the tree (default 100000; 1000000 with --tiny)\n"
        "  --seed S       seed of names, sizes and contents (default 1)\n"
        "  --bytes TOTAL  about this many bytes of contents (default 3G; suffixes K M G,\n"
        "                 powers of 1000)\n"
        "  --tiny         the scale tree: empty or tiny files, names and sizes recurring\n"
        "                 at most ten times (--bytes does not apply)\n");
}

// A number with an optional K, M or G (powers of 1000).
bool parseAmount(std::string_view text, std::uint64_t& out)
{
    std::uint64_t factor = 1;
    if (!text.empty()) {
        switch (text.back()) {
        case 'K':
        case 'k':
            factor = 1000;
            break;
        case 'M':
        case 'm':
            factor = 1000 * 1000;
            break;
        case 'G':
        case 'g':
            factor = 1000 * 1000 * 1000;
            break;
        default:
            break;
        }
        if (factor != 1)
            text.remove_suffix(1);
    }
    std::uint64_t value = 0;
    const auto [ptr, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || ptr != text.data() + text.size() || text.empty())
        return false;
    out = value * factor;
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
        if (arg == "--tiny") {
            options.tiny = true;
            continue;
        }
        if (arg != "--dir" && arg != "--files" && arg != "--seed" && arg != "--bytes") {
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
            continue;
        }
        std::uint64_t number = 0;
        if (!parseAmount(value, number)) {
            std::fprintf(stderr, "%s: not a number: %s\n", argv[i - 1], value);
            return false;
        }
        if (arg == "--files") {
            options.files = number;
            options.filesGiven = true;
        } else if (arg == "--seed") {
            options.seed = number;
        } else {
            options.bytes = number;
        }
    }
    if (options.dir.empty() && !help) {
        std::fprintf(stderr, "--dir is required\n");
        return false;
    }
    if (options.tiny && !options.filesGiven)
        options.files = 1000000;
    if (options.files == 0) {
        std::fprintf(stderr, "--files: at least 1\n");
        return false;
    }
    return true;
}

double megabytes(std::uint64_t bytes)
{
    return static_cast<double>(bytes) / 1e6;
}

} // namespace

int main(int argc, char** argv)
{
    Options options;
    if (const auto exitCode
        = qevra::bench::readCommandLine(argc, argv, options, parseOptions, printUsage))
        return *exitCode;

    const Clock::time_point planStart = Clock::now();
    const qevra::bench::PlannedTree tree = options.tiny
        ? qevra::bench::planScaleTree(options.files, options.seed)
        : qevra::bench::planContentTree(options.files, options.seed, options.bytes);
    const double planSeconds = std::chrono::duration<double>(Clock::now() - planStart).count();
    const qevra::bench::TreeFacts& facts = tree.facts;

    // Room for a new tree's contents, with a margin for directories and
    // inodes; a tree already there is left to prepareTree().
    std::error_code error;
    const bool marked = std::filesystem::exists(
        std::filesystem::path(options.dir) / qevra::bench::kMarkerName, error);
    const std::string probe = std::filesystem::exists(options.dir, error)
        ? options.dir
        : std::filesystem::path(options.dir).parent_path().native();
    struct statvfs disk { };
    if (!marked && ::statvfs(probe.empty() ? "." : probe.c_str(), &disk) == 0) {
        const std::uint64_t free = std::uint64_t(disk.f_bavail) * disk.f_frsize;
        std::uint64_t needed = 0;
        for (const qevra::bench::PlannedFile& file : tree.plan.files)
            needed += file.hole ? 4096 : (file.size + 4095) / 4096 * 4096 + 4096;
        if (needed + needed / 10 > free) {
            std::fprintf(stderr,
                "qevra-bench-tree: about %.0f MB needed, %.0f MB free; use a smaller --bytes"
                " or --files\n",
                megabytes(needed), megabytes(free));
            return 1;
        }
    }

    const Clock::time_point writeStart = Clock::now();
    qevra::bench::PrepareOutcome outcome;
    try {
        outcome = qevra::bench::prepareTree(options.dir, tree.spec, tree.plan);
        qevra::bench::writeFacts(options.dir, facts);
    } catch (const std::exception& failure) {
        std::fprintf(stderr, "qevra-bench-tree: %s\n", failure.what());
        return 1;
    }
    const double writeSeconds = std::chrono::duration<double>(Clock::now() - writeStart).count();

    std::printf("tree: %s (%s in %.1f s; planned in %.1f s)\n", options.dir.c_str(),
        outcome == qevra::bench::PrepareOutcome::Reused ? "reused" : "created", writeSeconds,
        planSeconds);
    std::printf("  kind %s, seed %llu, %zu directories below the root\n",
        options.tiny ? "scale (--tiny)" : "content", static_cast<unsigned long long>(options.seed),
        tree.plan.directories.size() - 1);
    std::printf("  %llu files, %.1f MB of contents", static_cast<unsigned long long>(facts.files),
        megabytes(facts.bytes));
    if (facts.holeFiles > 0)
        std::printf(" (%.1f MB of data, the rest holes)", megabytes(facts.dataBytes));
    std::printf("\n");
    std::printf("  empty %llu, tiny (<= 1 KiB) %llu, KiB-sized %llu, larger %llu; holes %llu\n",
        static_cast<unsigned long long>(facts.emptyFiles),
        static_cast<unsigned long long>(facts.tinyFiles),
        static_cast<unsigned long long>(facts.kibFiles),
        static_cast<unsigned long long>(facts.largeFiles),
        static_cast<unsigned long long>(facts.holeFiles));
    std::printf("  names: %llu distinct, each at most %llu times\n",
        static_cast<unsigned long long>(facts.distinctNames),
        static_cast<unsigned long long>(facts.mostNameRepeats));
    std::printf("  sizes: %llu distinct, each at most %llu times\n",
        static_cast<unsigned long long>(facts.distinctSizes),
        static_cast<unsigned long long>(facts.mostSizeRepeats));
    std::printf("  duplicates: %llu files in %llu sets of equal contents\n",
        static_cast<unsigned long long>(facts.duplicatedFiles),
        static_cast<unsigned long long>(facts.duplicateSets));
    std::printf("  rows with extension \"*\": name %llu, size %llu, content %llu\n",
        static_cast<unsigned long long>(facts.nameRows),
        static_cast<unsigned long long>(facts.sizeRows),
        static_cast<unsigned long long>(facts.contentRows));
    return 0;
}
