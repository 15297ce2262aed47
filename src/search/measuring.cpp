#include "search/measuring.h"

namespace qevra::search {

bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured)
{
    const std::size_t count = candidates.size();
    stamps.assign(count, fs::FileStamp());
    for (std::size_t i = 0; i < count; ++i) {
        if (!progress.step(Phase::Measuring, i, count))
            return false;
        try {
            stamps[i] = fileSystem.measure(std::string(candidates[i]));
        } catch (const EInOutError& error) {
            throw MeasureError(error.code(), i);
        }
        if (measured)
            measured(static_cast<std::uint32_t>(i));
    }
    return true;
}

} // namespace qevra::search
