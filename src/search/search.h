#pragma once

#include "fs/file_system.h"
#include "search/progress.h"
#include "search/request.h"
#include "search/results.h"

#include <cstdint>
#include <string>

namespace qevra::search {

// How a search, or a stage of it, ended.
struct Ended {
    bool stopped = false; // the observer answered false
    Phase phase = Phase::Collecting; // the phase it ended in
};

// Runs a whole search: `results` is emptied, every root is collected into
// its candidates in order, then the pass of the request's criterion makes
// the rows and the stamps. A stop keeps what was done so far. A candidate
// that cannot be measured throws MeasureError when the request says so
// (options.stopAtUnmeasurable), else it is told as a warning and left out.
// Nothing here knows a window: every front end (the main window, the
// command line, the benchmarks) runs its searches through this.
Ended run(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer);

// The stages of a run, for a front end that runs one at a time: the
// collection of one root (appended to the candidates), and the pass of the
// request's criterion over the candidates collected (the rows, stamps and
// criterion of `results` anew).
Ended collectRoot(const SearchRequest& request, fs::FileSystem& fileSystem, const std::string& root,
    Results& results, SearchObserver& observer);
Ended runPass(const SearchRequest& request, fs::FileSystem& fileSystem, Results& results,
    SearchObserver& observer);

} // namespace qevra::search
