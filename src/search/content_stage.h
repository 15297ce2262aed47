#pragma once

#include "fs/file_system.h"
#include "search/content_hash.h"
#include "search/pairing.h"
#include "search/path_list.h"
#include "search/progress.h"

#include <cstdint>
#include <functional>
#include <limits>
#include <optional>
#include <vector>

namespace qevra::search {

class ComparisonMemory;

// How the content stage works; the defaults suit the program, tests shrink
// them to reach the paths that only very large searches take otherwise.
struct ContentStageOptions {
    // Files one lockstep comparison holds open at once. Larger groups of
    // one size are split by hashing first, and classes still larger are
    // checked against their first file batch by batch. Also capped by the
    // process's descriptor limit.
    std::size_t maxOpenFiles = 256;
    // Worker threads; 0 means one per hardware thread.
    unsigned threads = 0;
    // The hashes that group files before their bytes are compared.
    HashFunctions hashes = defaultHashes();
    // Told, on the calling thread once the stage has run to its end, of
    // each file that could not be opened, read or compared, and why.
    std::function<void(const Warning&)> warn {};
    // What earlier comparisons proved (pairByContent only): consulted before
    // reading, and taught what this one proves. None when null.
    ComparisonMemory* memory = nullptr;
};

// The class of a file equal to no other, or that could not be read.
constexpr std::uint32_t kNoClass = std::numeric_limits<std::uint32_t>::max();

// Sorts files into classes of files equal byte for byte: the result holds
// each file's class, or kNoClass. Only files of one measured size (their
// stamps') are compared, and every class is confirmed by reading its files
// to their very ends, whatever their sizes say. A file is read only while
// its open descriptor still shows the stamp it was measured with; one that
// changed, cannot be opened or read, or is no regular file any more, pairs
// with nothing. The files should be distinct (no identity twice). Reading
// and hashing run on worker threads; the calling thread reports the bytes
// read through `progress` (phase Comparing) every few tens of milliseconds,
// and when that answers false the workers stop and the result is nothing at
// once: a worker still waiting on a read (a share that does not answer) is
// left to end on its own, with the paths, stamps and buffers it holds, which
// is why the stage takes them; `fileSystem` must outlive it.
// `details`, when given, is told more of each file.
struct ContentDetails {
    std::vector<bool> unread; // could not be read (its kNoClass tells nothing)
    std::vector<std::uint64_t> heads; // headOf its first bytes, when read; else 0
};
std::optional<std::vector<std::uint32_t>> classifyByContent(fs::FileSystem& fileSystem,
    PathList paths, std::vector<fs::FileStamp> stamps, Progress& progress,
    const ContentStageOptions& options = {}, ContentDetails* details = nullptr);

// A hash of a file's first kHeadBytes (all of it when smaller), given at
// least that much of its start; never 0. Files whose heads differ differ.
constexpr std::size_t kHeadBytes = 4096;
std::uint64_t headOf(std::string_view start);

// The rows of the content criterion: for every candidate i in ascending
// order, (k, i) for every earlier candidate k whose file is equal to i's byte
// for byte and is another file (other path, other identity). Candidates
// must all be measured (`stamps`); each distinct file is read once. Nothing
// when stopped.
std::optional<PairGroups> pairByContent(fs::FileSystem& fileSystem, const PathList& candidates,
    const StampList& stamps, Progress& progress, const ContentStageOptions& options = {});

} // namespace qevra::search
