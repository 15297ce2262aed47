#include "search/collector.h"

#include <QFile>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

namespace qevra::search {

void FileLister::list(const fs::DirListing& listing, const WildcardMatcher& mask)
{
    names_.clear();
    struct Match {
        QString shown;
        std::string_view bytes;
    };
    std::vector<Match> matches;
    for (std::size_t i = 0; i < listing.size(); ++i) {
        if (listing.type(i) != fs::EntryType::File)
            continue;
        const std::string_view name = listing.name(i);
        if (name.empty() || name.front() == '.' || !mask.matches(name))
            continue;
        matches.push_back(
            { QFile::decodeName(QByteArray(name.data(), qsizetype(name.size()))), name });
    }
    if (matches.size() > 1) {
        std::sort(matches.begin(), matches.end(), [](const Match& a, const Match& b) {
            const int order = QString::compare(a.shown, b.shown, Qt::CaseInsensitive);
            return order != 0 ? order < 0 : a.bytes < b.bytes;
        });
    }
    names_.reserve(matches.size());
    for (const Match& m : matches)
        names_.push_back(m.bytes);
}

namespace {

// The directories of a depth-first walk: `enter` is asked before each
// directory is read whether to go on, then `visit` is given it (its path,
// whether it could be read, its listing) and answers the same; the
// sub-directories of each are walked in the order the file system lists
// them. An explicit stack instead of recursion, so that a very deep tree
// cannot exhaust the thread's stack.
template <typename Enter, typename Visit>
void walk(fs::FileSystem& fileSystem, const std::string& root, Enter shouldEnter, Visit visit)
{
    struct Level {
        std::string path;
        std::vector<std::string> subdirs;
        std::size_t next = 0;
    };
    std::vector<Level> stack;
    fs::DirListing listing;
    const auto enter = [&](std::string path) {
        if (!shouldEnter())
            return false;
        Level level;
        level.path = std::move(path);
        const bool read = fileSystem.readDirectory(level.path, listing);
        if (read) {
            for (std::size_t i = 0; i < listing.size(); ++i) {
                if (listing.type(i) != fs::EntryType::Directory)
                    continue;
                const std::string_view name = listing.name(i);
                if (name == "." || name == "..")
                    continue;
                level.subdirs.emplace_back(name);
            }
        }
        const bool goOn = visit(level.path, read, listing);
        stack.push_back(std::move(level));
        return goOn;
    };
    if (!enter(root))
        return;
    while (!stack.empty()) {
        Level& top = stack.back();
        if (top.next == top.subdirs.size()) {
            stack.pop_back();
            continue;
        }
        std::string child = top.path;
        child.append(fs::separatorFor(top.path)).append(top.subdirs[top.next++]);
        if (!enter(std::move(child)))
            return;
    }
}

// Directories read by a worker ahead of the caller, in walk order. The
// worker holds the shared state, so the caller may go without waiting for a
// read that does not return.
class ReadAhead {
public:
    struct Directory {
        std::string path;
        bool read = false;
        fs::DirListing listing;
    };

    ReadAhead(fs::FileSystem& fileSystem, const std::string& root)
        : state_(std::make_shared<State>())
    {
        try {
            std::thread([state = state_, &fileSystem, root] {
                walk(
                    fileSystem, root,
                    [&] {
                        std::lock_guard lock(state->mutex);
                        return !state->stopping;
                    },
                    [&](const std::string& path, bool read, const fs::DirListing& listing) {
                        std::unique_lock lock(state->mutex);
                        state->changed.wait(
                            lock, [&] { return state->stopping || state->ready.size() < kAhead; });
                        if (state->stopping)
                            return false;
                        state->ready.push_back({ path, read, listing });
                        state->changed.notify_all();
                        return true;
                    });
                std::lock_guard lock(state->mutex);
                state->ended = true;
                state->changed.notify_all();
            }).detach();
        } catch (...) {
            std::lock_guard lock(state_->mutex);
            state_->failed = state_->ended = true;
        }
    }
    ~ReadAhead()
    {
        std::lock_guard lock(state_->mutex);
        state_->stopping = true;
        state_->changed.notify_all();
    }
    ReadAhead(const ReadAhead&) = delete;
    ReadAhead& operator=(const ReadAhead&) = delete;

    // Whether no worker could start (the caller then walks by itself).
    bool failed() const { return state_->failed; }

    enum class Next { Got, Ended, Stopped };
    // The next directory of the walk, running `meanwhile` every kSlice of
    // waiting; Stopped as soon as it answers false.
    Next next(Directory& out, const std::function<bool()>& meanwhile)
    {
        std::unique_lock lock(state_->mutex);
        const auto ready = [&] { return !state_->ready.empty() || state_->ended; };
        while (!state_->changed.wait_for(lock, kSlice, ready)) {
            lock.unlock();
            const bool goOn = meanwhile();
            lock.lock();
            if (!goOn)
                return Next::Stopped;
        }
        if (state_->ready.empty())
            return Next::Ended;
        out = std::move(state_->ready.front());
        state_->ready.pop_front();
        state_->changed.notify_all();
        return Next::Got;
    }

private:
    static constexpr std::size_t kAhead = 64;
    static constexpr std::chrono::milliseconds kSlice { 25 };
    struct State {
        std::mutex mutex;
        std::condition_variable changed;
        std::deque<Directory> ready;
        bool stopping = false;
        bool ended = false;
        bool failed = false;
    };
    const std::shared_ptr<State> state_;
};

} // namespace

CollectOutcome Collector::collect(const std::string& root,
    const std::vector<WildcardMatcher>& masks, PathList& out, Progress& progress)
{
    std::uint64_t entered = 0;
    const auto take = [&](const std::string& path, bool read, const fs::DirListing& listing) {
        if (!read) {
            if (unreadable_)
                unreadable_(path);
            return;
        }
        const std::string_view separator = fs::separatorFor(path);
        for (const WildcardMatcher& mask : masks) {
            lister_.list(listing, mask);
            for (const std::string_view name : lister_.names())
                out.append(path, separator, name);
        }
    };

    if (readAhead_) {
        ReadAhead ahead(fs_, root);
        if (!ahead.failed()) {
            ReadAhead::Directory directory;
            for (;;) {
                // The step at the start of each directory, as a walk at its
                // own pace takes it; more of them while the reading lags.
                if (!progress.step(Phase::Collecting, entered, 0))
                    return CollectOutcome::Stopped;
                switch (ahead.next(
                    directory, [&] { return progress.step(Phase::Collecting, entered, 0); })) {
                case ReadAhead::Next::Got:
                    break;
                case ReadAhead::Next::Ended:
                    return CollectOutcome::Completed;
                case ReadAhead::Next::Stopped:
                    return CollectOutcome::Stopped;
                }
                ++entered;
                take(directory.path, directory.read, directory.listing);
            }
        }
    }

    bool stopped = false;
    walk(
        fs_, root,
        [&] {
            // Stopping at a directory reads nothing of it.
            stopped = !progress.step(Phase::Collecting, entered++, 0);
            return !stopped;
        },
        [&](const std::string& path, bool read, const fs::DirListing& listing) {
            take(path, read, listing);
            return true;
        });
    return stopped ? CollectOutcome::Stopped : CollectOutcome::Completed;
}

} // namespace qevra::search
