#pragma once

#include "fs/file_system.h"
#include "search/path_list.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <unordered_map>
#include <vector>

namespace qevra::search {

// One pair of candidates, by their indexes in the candidate list: the
// first copy and the second copy.
struct Row {
    std::uint32_t first;
    std::uint32_t second;
    friend bool operator==(const Row&, const Row&) = default;
};

// Pairs candidates of equal bare name (bytes, case-sensitive) and different
// full paths. For every outer candidate i in ascending order and, within it,
// every inner candidate j in ascending order, the row is (j, i): a pair
// a < b thus gives (b, a) at outer step a and (a, b) at outer step b.
// Time grows with candidates plus rows (grouping by name), never n × n.
// `atOuter(i)` runs at the start of each outer step. The rows are appended.
void pairByName(const PathList& candidates, std::vector<Row>& rows,
    const std::function<void(std::size_t)>& atOuter = {});

// Pairs candidates of equal size as they are measured: adding candidate i
// appends (k, i) for every earlier k of the same size, ascending, whose
// path differs from i's. Candidates must be added in ascending order from 0.
class SizePairer {
public:
    void add(
        std::uint32_t index, std::int64_t size, const PathList& candidates, std::vector<Row>& rows);
    void clear() { bySize_.clear(); }

private:
    std::unordered_map<std::int64_t, std::vector<std::uint32_t>> bySize_;
};

// Compares two whole files byte by byte, reading both in 16 KiB blocks from
// the start until both end. Results: -1 First cannot be opened; -2 Second
// cannot be opened; Second's size + 1 when Second is shorter than First; -3
// when reads fail or the two reads of a block return different byte counts
// (a size that cannot be taken counts as a failed read); the 1-based offset
// of the first differing byte; 0 when the files are equal. Never throws.
std::int64_t compareFiles(
    fs::FileSystem& fileSystem, const std::string& first, const std::string& second);

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
    // Makes every content hash equal, so that only the byte comparisons can
    // tell files apart (exercises what a hash collision would).
    bool collidingHashes = false;
};

// The content stage: keeps, in their order, exactly the rows whose two
// files are byte-for-byte equal whole files (a file that cannot be opened
// or read pairs with nothing). Each distinct file is read at most twice;
// reading and hashing run on worker threads. The calling thread runs
// `keepGoing` every few tens of milliseconds while it waits; when that
// returns false the workers stop and the result is nothing. A row whose
// two indexes name one path is kept when the file can be opened.
// File-system calls come from several worker threads at once; each stream
// is used by one thread at a time.
std::optional<std::vector<Row>> keepEqualContent(fs::FileSystem& fileSystem,
    const PathList& candidates, const std::vector<Row>& rows,
    const std::function<bool()>& keepGoing);
std::optional<std::vector<Row>> keepEqualContent(fs::FileSystem& fileSystem,
    const PathList& candidates, const std::vector<Row>& rows,
    const std::function<bool()>& keepGoing, const ContentStageOptions& options);

} // namespace qevra::search
