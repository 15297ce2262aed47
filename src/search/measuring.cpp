#include "search/measuring.h"

#include "search/work_ahead.h"

#include <algorithm>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace qevra::search {

bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured, unsigned threads,
    const std::function<bool(std::size_t, int)>& failed)
{
    const std::size_t count = candidates.size();
    stamps.assign(count, fs::FileStamp());
    std::vector<int> errors(count, 0);
    WorkAhead ahead(count, threads, [&](std::size_t begin, std::size_t end) -> WorkAhead::Slow {
        // Candidates of one directory lie side by side in the list, as the
        // collection found them. The slow part works on copies, so that a
        // search given up never waits for a file system that does not
        // answer.
        auto paths = std::make_shared<std::vector<std::string>>();
        paths->reserve(end - begin);
        for (std::size_t i = begin; i < end; ++i)
            paths->emplace_back(candidates[i]);
        return [&fileSystem, &stamps, &errors, paths, begin]() -> WorkAhead::Commit {
            const std::vector<std::string_view> views(paths->begin(), paths->end());
            auto found = std::make_shared<std::vector<fs::FileStamp>>(views.size());
            auto codes = std::make_shared<std::vector<int>>(views.size(), 0);
            fileSystem.measureEach(views, *found, *codes);
            return [&stamps, &errors, found, codes, begin] {
                std::copy(found->begin(), found->end(), stamps.begin() + std::ptrdiff_t(begin));
                std::copy(codes->begin(), codes->end(), errors.begin() + std::ptrdiff_t(begin));
            };
        };
    });
    // The window runs its events while the workers measure, and Stop ends
    // the wait at once.
    for (std::size_t i = 0; i < count; ++i) {
        if (!progress.step(Phase::Measuring, i, count))
            return false;
        if (!ahead.waitFor(i, [&] { return progress.step(Phase::Measuring, i, count); }))
            return false;
        if (errors[i] != 0) {
            if (!failed || !failed(i, errors[i]))
                throw MeasureError(errors[i], i);
            stamps[i] = fs::FileStamp();
            continue;
        }
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
