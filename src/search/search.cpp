// A whole search: the collection of every root, then the pass of the
// criterion, chosen from one table.
#include "search/search.h"

#include "search/aside.h"
#include "search/collector.h"
#include "search/comparison_memory.h"
#include "search/content_stage.h"
#include "search/measuring.h"
#include "search/pairing.h"

#include <array>
#include <cstring>
#include <new>

namespace qevra::search {

namespace {

unsigned threadsOf(const SearchOptions& options)
{
    return options.measureThreads == SearchOptions::kProgramThreads ? measuringThreads()
                                                                    : options.measureThreads;
}

void startRows(Results& results, Criterion criterion)
{
    results.pairs.clear();
    results.first.release();
    results.second.release();
    results.criterion = criterion;
}

// By name: every two candidates of one bare name that are different files,
// both ways, in the order of the outer candidate.
Ended byName(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer)
{
    startRows(results, Criterion::Name);
    const std::size_t n = results.candidates.size();
    observer.phaseStarted(Phase::Naming, n);
    std::size_t outer = 0;
    const bool completed = pairByName(
        results.candidates, identifyWith(fileSystem), results.pairs, results.stamps,
        [&](std::size_t i) {
            outer = i;
            return observer.step(Phase::Naming, i, n);
        },
        threadsOf(request.options), [&] { return observer.step(Phase::Naming, outer, n); });
    return { !completed, Phase::Naming };
}

// Every candidate measured; by size, the rows come as the sizes do; by
// content, only the rows of files found equal byte for byte, once every
// candidate is measured.
Ended bySize(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer, bool content)
{
    startRows(results, content ? Criterion::Content : Criterion::Size);
    const PathList& candidates = results.candidates;
    const std::size_t n = candidates.size();
    observer.phaseStarted(Phase::Measuring, n);
    if (n == 0)
        return { false, Phase::Measuring };
    KeyPairer pairer;
    const auto measured = [&](std::uint32_t i) {
        if (!content)
            pairer.add(i, std::uint64_t(results.stamps[i].size));
    };
    std::function<bool(std::size_t, int)> failed;
    if (!request.options.stopAtUnmeasurable) {
        failed = [&](std::size_t i, int error) {
            observer.warning({ std::string(candidates[i]), error, std::strerror(error) });
            return true;
        };
    }
    bool completed = false;
    {
        // By size, the rows of the candidates measured stand however the
        // measuring ends: stopped, or by a failure that goes to the error box.
        struct SizeRows {
            ~SizeRows()
            {
                try {
                    if (bySize)
                        pairs = pairer.pairs(candidates, stamps);
                } catch (const std::bad_alloc&) {
                    // No memory left for them: no rows rather than an end.
                }
            }
            bool bySize;
            PairGroups& pairs;
            const KeyPairer& pairer;
            const PathList& candidates;
            const StampList& stamps;
        } sizeRows { !content, results.pairs, pairer, candidates, results.stamps };
        completed = measureCandidates(fileSystem, candidates, results.stamps, observer, measured,
            threadsOf(request.options), failed);
    }
    if (!completed)
        return { true, Phase::Measuring };
    pairer.clear();
    if (!content)
        return { false, Phase::Measuring };

    observer.phaseStarted(Phase::Comparing, 0);
    ContentStageOptions options = request.options.content;
    options.warn = [&](const Warning& warning) { observer.warning(warning); };
    std::optional<ComparisonMemory> memory;
    const ComparisonStore store(request.options.comparisons);
    if (!store.folder().empty()) {
        bool stopped = false;
        memory = aside<ComparisonMemory>(
            observer, [store] { return store.load(); }, stopped);
        if (stopped)
            return { true, Phase::Comparing };
        options.memory = memory ? &*memory : nullptr;
    }
    const auto equal = pairByContent(fileSystem, candidates, results.stamps, observer, options);
    if (!equal)
        return { true, Phase::Comparing };
    results.pairs = std::move(*equal);
    // The rows stand whether or not the memory is saved, and however long
    // that takes: a Stop meanwhile leaves the saving to end on its own.
    if (memory && !memory->learned().empty()) {
        bool stopped = false;
        const auto learned = std::make_shared<ComparisonMemory>(std::move(*memory));
        aside<bool>(
            observer, [store, learned] { return store.save(std::move(*learned)); }, stopped);
    }
    return { false, Phase::Comparing };
}

// The pass of each criterion.
struct Pass {
    Criterion criterion;
    Ended (*run)(const SearchRequest&, fs::FileSystem&, Results&, SearchObserver&);
};
constexpr std::array kPasses = {
    Pass { Criterion::Name, byName },
    Pass { Criterion::Size,
        [](const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
            SearchObserver& observer) {
            return bySize(request, fileSystem, results, observer, false);
        } },
    Pass { Criterion::Content,
        [](const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
            SearchObserver& observer) {
            return bySize(request, fileSystem, results, observer, true);
        } },
};

} // namespace

Ended collectRoot(const SearchRequest& request, fs::FileSystem& fileSystem, const std::string& root,
    Results& results, SearchObserver& observer)
{
    observer.phaseStarted(Phase::Collecting, 0);
    FileLister lister;
    Collector collector(fileSystem, lister, request.options.readAhead);
    collector.setUnreadable([&](const std::string& dir) {
        observer.warning({ dir, 0, "could not be read" });
    });
    const CollectOutcome outcome
        = collector.collect(root, request.masks, results.candidates, observer);
    return { outcome == CollectOutcome::Stopped, Phase::Collecting };
}

Ended runPass(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer)
{
    for (const Pass& pass : kPasses) {
        if (pass.criterion == request.criterion)
            return pass.run(request, fileSystem, results, observer);
    }
    return {};
}

Ended run(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer)
{
    results.pairs.clear();
    results.first.release();
    results.second.release();
    results.candidates.release();
    StampList().swap(results.stamps);
    for (const std::string& root : request.roots) {
        const Ended ended = collectRoot(request, fileSystem, root, results, observer);
        if (ended.stopped)
            return ended;
    }
    return runPass(request, fileSystem, results, observer);
}

} // namespace qevra::search
