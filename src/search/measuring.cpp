#include "search/measuring.h"

#include "search/work_ahead.h"

#include <algorithm>
#include <thread>
#include <vector>

namespace qevra::search {

bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured, unsigned threads)
{
    const std::size_t count = candidates.size();
    stamps.assign(count, fs::FileStamp());
    std::vector<int> errors(count, 0);
    WorkAhead ahead(count, threads, [&](std::size_t begin, std::size_t end) {
        // Candidates of one directory lie side by side in the list, as the
        // collection found them.
        std::vector<std::string_view> paths;
        paths.reserve(end - begin);
        for (std::size_t i = begin; i < end; ++i)
            paths.push_back(candidates[i]);
        fileSystem.measureEach(paths, std::span(stamps).subspan(begin, end - begin),
            std::span(errors).subspan(begin, end - begin));
    });
    for (std::size_t i = 0; i < count; ++i) {
        if (!progress.step(Phase::Measuring, i, count))
            return false;
        ahead.waitFor(i);
        if (errors[i] != 0)
            throw MeasureError(errors[i], i);
        if (measured)
            measured(static_cast<std::uint32_t>(i));
    }
    return true;
}

unsigned measuringThreads()
{
    return std::clamp(std::thread::hardware_concurrency(), 2u, 8u);
}

} // namespace qevra::search
