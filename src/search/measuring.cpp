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
    WorkAhead ahead(count, threads, [&](std::size_t i) {
        try {
            stamps[i] = fileSystem.measure(std::string(candidates[i]));
        } catch (const EInOutError& error) {
            errors[i] = error.code() != 0 ? error.code() : EIO;
        } catch (const std::exception&) {
            errors[i] = EIO;
        }
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
