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

// Measures every candidate in order into `stamps` (resized to them). Before
// candidate i, `progress` gets (Measuring, i, count); when it answers false
// the work ends there and the result is false. After candidate i is
// measured, `measured(i)` runs. The first candidate that cannot be measured
// ends the work with a MeasureError.
bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured);

} // namespace qevra::search
