#pragma once

// A seeded, deterministic generator of file trees for the benchmarks.
//
// Generation has two steps: planTree() decides every directory and file
// (names, nesting, sizes, contents) in memory, and writeTree() puts a plan
// on disk. A benchmark that needs more than empty files (sizes, duplicate
// contents) adjusts the plan's files between the two steps, or supplies its
// own content writer. prepareTree() adds reuse: a marker file in the root
// remembers which parameters made the tree, so a second run with the same
// parameters finds it ready.

#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::bench {

// A small, fast generator whose sequence is the same on every platform and
// standard library (unlike the <random> distributions).
class Random {
public:
    explicit Random(std::uint64_t seed)
        : state_(seed)
    {
    }

    // splitmix64.
    std::uint64_t next()
    {
        std::uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }

    // A value in [low, high], both included.
    std::uint64_t between(std::uint64_t low, std::uint64_t high)
    {
        return low + next() % (high - low + 1);
    }

    // True with the given probability (0..1).
    bool chance(double probability)
    {
        return static_cast<double>(next() >> 11) * 0x1.0p-53 < probability;
    }

private:
    std::uint64_t state_;
};

// One extension of the mix and its share of the files.
struct ExtensionShare {
    std::string extension; // without the dot; empty for a name without one
    double weight;
};

// The parameters of a tree. Everything the plan depends on is here, so that
// describe() identifies a tree completely.
struct TreeSpec {
    std::uint64_t files = 100000;
    std::uint64_t seed = 1;
    unsigned maxDepth = 5; // levels below the root
    unsigned minFilesPerDirectory = 20;
    unsigned maxFilesPerDirectory = 60;
    double hiddenFileShare = 0.04;
    double hiddenDirectoryShare = 0.04;
    double cyrillicNameShare = 0.10;
    std::vector<ExtensionShare> extensions = defaultExtensions();
    // Free text that a benchmark adds to tell its own variants apart (for
    // instance the rules it used to give the files sizes and contents).
    std::string variant;

    static std::vector<ExtensionShare> defaultExtensions();

    // A one-line-per-parameter text that identifies the tree.
    std::string describe() const;
};

struct PlannedDirectory {
    std::string path; // relative to the root, "/" separated
    unsigned depth = 1; // 1 for a child of the root
    bool hidden = false;
};

struct PlannedFile {
    std::string path; // relative to the root, "/" separated
    std::uint32_t directory = 0; // index into TreePlan::directories; 0 is the root
    bool hidden = false; // the name starts with "."
    std::string extension; // as written in the name, case kept; empty when none
    // Contents: `size` bytes generated from `contentSeed`. Files with equal
    // size and seed are byte-for-byte equal.
    std::uint64_t size = 0;
    std::uint64_t contentSeed = 0;
    // One byte changed: the byte at `flipAt` is XORed with `flipMask`, so
    // that files of one size and seed can differ at a chosen place. No
    // change when `flipMask` is 0.
    std::uint64_t flipAt = 0;
    std::uint8_t flipMask = 0;
    // The contents are `size` zero bytes left as a hole: the file has its
    // length but takes no data blocks (for trees where only sizes count).
    bool hole = false;
};

struct TreePlan {
    // Parents before their children; index 0 is the root itself (path "").
    std::vector<PlannedDirectory> directories;
    std::vector<PlannedFile> files;
};

// Decides the tree for `spec`. The same spec always gives the same plan.
TreePlan planTree(const TreeSpec& spec);

// Fills an open file with a plan entry's contents; false on a write error.
using ContentWriter = std::function<bool(int fd, const PlannedFile& file)>;

// The default content writer: `size` pseudo-random bytes from `contentSeed`
// with the planned byte changed, or a hole of `size` bytes.
bool writeGeneratedContents(int fd, const PlannedFile& file);

// Creates the plan's directories and files below `root` (which must exist).
// Throws std::runtime_error naming the path that failed.
void writeTree(const std::string& root, const TreePlan& plan,
    const ContentWriter& writer = writeGeneratedContents);

// The name of the marker file in a generated tree's root.
inline constexpr std::string_view kMarkerName = ".qevra-bench-tree";

enum class PrepareOutcome { Reused, Created };

// Makes `root` hold the tree of `plan` made from `spec`: reuses it when the
// marker says so, otherwise (re)creates it. A directory that is not empty
// and has no marker is never touched: that throws std::runtime_error, as
// does a failure to create the tree.
PrepareOutcome prepareTree(const std::string& root, const TreeSpec& spec, const TreePlan& plan,
    const ContentWriter& writer = writeGeneratedContents);

// Removes a generated tree (everything below `root`, and `root` itself) when
// its marker is there; returns false and leaves it alone otherwise.
bool removeTree(const std::string& root);

// The character between a name's stem and its number: mostly "_",
// sometimes a blank or "-".
inline char stemSeparator(Random& random)
{
    switch (random.between(0, 5)) {
    case 0:
        return ' ';
    case 1:
        return '-';
    default:
        return '_';
    }
}

// Reads a benchmark's command line with `parse`. A bad option prints the
// usage to stderr and gives exit code 2, --help prints it to stdout and
// gives 0; nothing when the program goes on.
template <class Options, class Parse, class Usage>
std::optional<int> readCommandLine(
    int argc, char** argv, Options& options, Parse parse, Usage usage)
{
    bool help = false;
    if (!parse(argc, argv, options, help)) {
        usage(stderr);
        return 2;
    }
    if (help) {
        usage(stdout);
        return 0;
    }
    return std::nullopt;
}

} // namespace qevra::bench
