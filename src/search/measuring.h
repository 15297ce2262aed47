#pragma once

#include "base/exceptions.h"
#include "fs/file_system.h"
#include "search/pairing.h"
#include "search/path_list.h"
#include "search/progress.h"

#include <cstdint>
#include <functional>

namespace qevra::search {

// A candidate that could not be measured: the file system's error, and
// which candidate it was.
class MeasureError : public EInOutError {
public:
    MeasureError(int code, std::size_t index)
        : EInOutError(code)
        , index_(index)
    {
    }
    std::size_t index() const noexcept { return index_; }

private:
    std::size_t index_;
};

// Measures every candidate into `stamps` (resized to them), taking the
// results in candidate order: before candidate i, `progress` gets
// (Measuring, i, count), and when it answers false the work ends there and
// the result is false; after candidate i, `measured(i)` runs. A candidate
// that cannot be measured goes to `failed(i, errno)` at its turn: when that
// answers true the candidate is left out (an unknown stamp, no `measured`),
// else (or with no `failed`) the work ends with a MeasureError. `threads`
// workers measure ahead of the caller (never far); with none, each
// candidate is measured at its turn on the calling thread. Everything but
// the measuring runs on the calling thread.
bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured, unsigned threads = 0,
    const std::function<bool(std::size_t, int)>& failed = {});

// The workers the program measures with.
unsigned measuringThreads();

} // namespace qevra::search
