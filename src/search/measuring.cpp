#include "search/measuring.h"

#include <algorithm>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace qevra::search {

namespace {

// Candidates per piece of work, and how many pieces the workers may be
// ahead of the candidate the caller has come to: far enough to keep the
// disk busy, near enough that a Stop or a failure wastes little.
constexpr std::size_t kChunk = 256;
constexpr std::size_t kChunksAhead = 16;

// Workers that measure the candidates chunk by chunk, ahead of the caller,
// who takes the results in candidate order.
class MeasuringCrew {
public:
    MeasuringCrew(
        fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps, unsigned threads)
        : fs_(fileSystem)
        , candidates_(candidates)
        , stamps_(stamps)
        , errors_(candidates.size(), 0)
        , chunks_((candidates.size() + kChunk - 1) / kChunk)
        , done_(chunks_, false)
    {
        try {
            for (unsigned t = 0; t < threads && t < chunks_; ++t)
                workers_.emplace_back([this] { work(); });
        } catch (...) {
            // Fewer workers: the caller measures what none took.
        }
    }
    ~MeasuringCrew()
    {
        {
            std::lock_guard lock(mutex_);
            stopping_ = true;
        }
        changed_.notify_all();
        for (std::thread& worker : workers_)
            worker.join();
    }
    MeasuringCrew(const MeasuringCrew&) = delete;
    MeasuringCrew& operator=(const MeasuringCrew&) = delete;

    // Waits until candidate i is measured (measuring it here when no worker
    // runs); the errno value of its failure, or 0.
    int result(std::size_t i)
    {
        const std::size_t chunk = i / kChunk;
        if (workers_.empty()) {
            measure(i);
            return errors_[i];
        }
        std::unique_lock lock(mutex_);
        if (chunk > current_) {
            current_ = chunk;
            changed_.notify_all();
        }
        changed_.wait(lock, [&] { return bool(done_[chunk]); });
        return errors_[i];
    }

private:
    void work()
    {
        for (;;) {
            std::size_t chunk = 0;
            {
                std::unique_lock lock(mutex_);
                changed_.wait(lock, [&] {
                    return stopping_ || next_ >= chunks_ || next_ < current_ + kChunksAhead;
                });
                if (stopping_ || next_ >= chunks_)
                    return;
                chunk = next_++;
            }
            const std::size_t end = std::min((chunk + 1) * kChunk, candidates_.size());
            for (std::size_t i = chunk * kChunk; i < end; ++i)
                measure(i);
            {
                std::lock_guard lock(mutex_);
                done_[chunk] = true;
            }
            changed_.notify_all();
        }
    }

    void measure(std::size_t i)
    {
        try {
            stamps_[i] = fs_.measure(std::string(candidates_[i]));
        } catch (const EInOutError& error) {
            errors_[i] = error.code() != 0 ? error.code() : EIO;
        } catch (const std::exception&) {
            errors_[i] = EIO;
        }
    }

    fs::FileSystem& fs_;
    const PathList& candidates_;
    StampList& stamps_;
    std::vector<int> errors_;
    const std::size_t chunks_;
    std::mutex mutex_; // guards the fields below and the done flags
    std::condition_variable changed_;
    std::vector<bool> done_;
    std::size_t next_ = 0; // the next chunk to take
    std::size_t current_ = 0; // the chunk the caller has come to
    bool stopping_ = false;
    std::vector<std::thread> workers_;
};

} // namespace

bool measureCandidates(fs::FileSystem& fileSystem, const PathList& candidates, StampList& stamps,
    Progress& progress, const std::function<void(std::uint32_t)>& measured, unsigned threads)
{
    const std::size_t count = candidates.size();
    stamps.assign(count, fs::FileStamp());
    MeasuringCrew crew(fileSystem, candidates, stamps, threads);
    for (std::size_t i = 0; i < count; ++i) {
        if (!progress.step(Phase::Measuring, i, count))
            return false;
        if (const int error = crew.result(i))
            throw MeasureError(error, i);
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
