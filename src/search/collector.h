#pragma once

#include "fs/file_system.h"
#include "search/masks.h"
#include "search/path_list.h"
#include "search/progress.h"

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::search {

// Lists the plain files of one directory read that match one mask: regular
// files only, hidden (dot) names left out, sorted by their displayed names
// with letter case ignored and ties broken by bytes. It keeps the last
// listing until the next one.
class FileLister {
public:
    void list(const fs::DirListing& listing, const WildcardMatcher& mask);
    const std::vector<std::string_view>& names() const { return names_; }

private:
    std::vector<std::string_view> names_;
};

enum class CollectOutcome { Completed, Stopped };

// Collects every matching file below `root` into `out`: in each directory
// first its matching files, mask by mask, then the sub-trees of its
// sub-directories in the order the file system lists them, depth first.
// Symbolic links are neither collected nor followed; a directory that cannot
// be read contributes nothing. `progress` gets (Collecting, directories
// entered, 0) at the start of every directory, the root included; when it
// answers false the collection stops there and reports Stopped.
//
// With `readAhead`, the directories are read on a worker thread, in the
// same order, a bounded number ahead of the caller, and the caller runs
// `progress` every few tens of milliseconds while it waits for one: a share
// slow to answer, or one that stops answering, never holds the caller, and
// a Stop ends the walk at once, leaving the worker to end on its own
// (`fileSystem` must outlive it). Without, each directory is read at its
// turn on the calling thread.
class Collector {
public:
    Collector(fs::FileSystem& fileSystem, FileLister& lister, bool readAhead = false)
        : fs_(fileSystem)
        , lister_(lister)
        , readAhead_(readAhead)
    {
    }

    CollectOutcome collect(const std::string& root, const std::vector<WildcardMatcher>& masks,
        PathList& out, Progress& progress);
    // Told, on the calling thread, of each directory that could not be read.
    void setUnreadable(std::function<void(const std::string&)> unreadable)
    {
        unreadable_ = std::move(unreadable);
    }

private:
    fs::FileSystem& fs_;
    FileLister& lister_;
    const bool readAhead_;
    std::function<void(const std::string&)> unreadable_;
};

} // namespace qevra::search
