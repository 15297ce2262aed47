// The content stage: which files hold equal bytes.
//
// Only files that share their measured size with another can be equal. A group of one size small
// enough to hold open at once is read in lockstep, block by block, and split wherever the blocks
// differ: files drop out as soon as nothing else matches them, and what is left at the end is equal
// byte for byte, each file read once to its very end (a size is never trusted: a file is equal only
// to files that end where it ends). A larger group is split by hashing first (the first
// kPrefixBytes, then whole files) and each smaller part is read in lockstep as above; a part that
// is still too large is checked against its first file, the representative, whose bytes stay in
// memory when the files are small, or batch by batch in lockstep when they are large. Files that
// differ from the representative (hash collisions, or files that changed meanwhile) are checked
// again among themselves. No hash is ever trusted: every class is confirmed by bytes.
//
// The work is a queue of jobs run by worker threads; a group's jobs count
// down and the last one to finish plans what follows. The calling thread only
// waits and asks whether to go on.
#include "search/content_stage.h"

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <limits>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <string_view>
#include <sys/resource.h>
#include <thread>
#include <tuple>

namespace qevra::search {

namespace {

constexpr std::uint32_t kNone = kNoClass;
// Hashed first when many files share a size: most different files already
// differ here. Files no larger are hashed whole at once.
constexpr std::int64_t kPrefixBytes = 64 * 1024;
constexpr std::size_t kHashBlock = 256 * 1024;
// Buffer memory of one lockstep comparison, and the limits of its block.
constexpr std::size_t kLockstepBytes = 2 * 1024 * 1024;
constexpr std::size_t kMinBlock = 8 * 1024;
constexpr std::size_t kMaxBlock = 256 * 1024;
// Files per job.
constexpr std::size_t kHashBatch = 8;
constexpr std::size_t kVerifyBatch = 32;
constexpr unsigned kMaxThreads = 64;
constexpr auto kPollInterval = std::chrono::milliseconds(20);

// What a lockstep comparison says of each file: a class label (0 or more;
// equal labels, equal files) or one of these.
constexpr int kFailed = -1; // could not be opened or read
constexpr int kAlone = -2; // equal to none of the others

// Half of the descriptor limit, after raising the soft limit a little where
// the hard one allows; the rest stays for the program and the workers' own
// single files.
std::size_t descriptorBudget()
{
    static const std::size_t budget = [] {
        constexpr rlim_t kWanted = 8192;
        rlimit limit {};
        if (::getrlimit(RLIMIT_NOFILE, &limit) != 0)
            return std::size_t(128);
        if (limit.rlim_cur != RLIM_INFINITY && limit.rlim_cur < kWanted) {
            rlimit raised = limit;
            raised.rlim_cur = limit.rlim_max == RLIM_INFINITY || limit.rlim_max > kWanted
                ? kWanted
                : limit.rlim_max;
            if (::setrlimit(RLIMIT_NOFILE, &raised) == 0)
                limit = raised;
        }
        const rlim_t soft = limit.rlim_cur == RLIM_INFINITY ? kWanted : limit.rlim_cur;
        return std::clamp<std::size_t>(static_cast<std::size_t>(soft / 2), 2, 4096);
    }();
    return budget;
}

// Reads until `count` bytes or the end of the file; -1 on failure. Adds
// what it read to `counter`.
std::int64_t readFully(
    fs::ReadStream& stream, char* buffer, std::int64_t count, std::atomic<std::uint64_t>& counter)
{
    std::int64_t total = 0;
    while (total < count) {
        std::int64_t got = -1;
        try {
            got = stream.read(buffer + total, count - total);
        } catch (...) {
            return -1;
        }
        if (got < 0 || got > count - total)
            return -1;
        if (got == 0)
            break;
        total += got;
        counter.fetch_add(static_cast<std::uint64_t>(got), std::memory_order_relaxed);
    }
    return total;
}

// An uninitialised byte buffer.
class Buffer {
public:
    explicit Buffer(std::size_t size)
        : bytes_(std::make_unique_for_overwrite<char[]>(size))
        , size_(size)
    {
    }
    char* data() { return bytes_.get(); }
    const char* data() const { return bytes_.get(); }
    std::size_t size() const { return size_; }

private:
    std::unique_ptr<char[]> bytes_;
    std::size_t size_;
};

// A block for reading files of `size` bytes: whole pages, the whole file
// where it fits, at most `most`.
std::size_t blockFor(std::int64_t size, std::size_t most)
{
    constexpr std::uint64_t kPage = 4096;
    const std::uint64_t pages
        = (static_cast<std::uint64_t>(std::max<std::int64_t>(size, 1)) + kPage - 1) / kPage;
    return static_cast<std::size_t>(std::min<std::uint64_t>(pages * kPage, most));
}

struct HashStateDeleter {
    void operator()(XXH3_state_t* state) const { XXH3_freeState(state); }
};
using HashState = std::unique_ptr<XXH3_state_t, HashStateDeleter>;

// One distinct file of the rows.
struct FileState {
    std::uint32_t cls = kNone; // its class of equal files, once confirmed
    std::int64_t size = -1;
    XXH128_hash_t key {}; // hash of its prefix or of all of it
    bool failed = false; // cannot be opened or read: pairs with nothing
};

// Files handled by several jobs together: a group of one size to hash, or a
// class checked against its first file (the representative).
struct Group {
    std::vector<std::uint32_t> files;
    std::atomic<std::size_t> remaining { 0 }; // its jobs not yet finished
    bool wholeKeys = false; // hashing covers whole files, not the prefix
    std::uint32_t classId = kNone;
    std::shared_ptr<const std::string> repBytes; // a small representative's bytes
    std::atomic<bool> repFailed { false };
};

enum class JobKind : std::uint8_t { Hash, Compare, VerifyBytes, VerifyBatch };

// The files list[begin..end), where list is a group's files or a run of the
// size order; the list outlives the job.
struct Job {
    JobKind kind = JobKind::Compare;
    Group* group = nullptr;
    const std::uint32_t* list = nullptr;
    std::size_t begin = 0;
    std::size_t end = 0;
};

// How far a list of files of one size has been told apart by hashing.
enum class Hashed { Not, Prefix, Whole };

class ContentStage {
public:
    ContentStage(fs::FileSystem& fileSystem, const PathList& paths,
        const std::vector<fs::FileStamp>& stamps, const ContentStageOptions& options)
        : fs_(fileSystem)
        , paths_(paths)
        , stamps_(stamps)
        , files_(stamps.size())
        , collidingHashes_(options.collidingHashes)
    {
        const std::size_t budget = descriptorBudget();
        groupLimit_
            = std::clamp<std::size_t>(options.maxOpenFiles, 2, std::max<std::size_t>(budget, 2));
        freeSlots_ = std::max(groupLimit_, std::min(budget, 2 * groupLimit_));
        threads_ = options.threads != 0 ? options.threads : std::thread::hardware_concurrency();
        threads_ = std::clamp(threads_, 1u, kMaxThreads);
    }

    std::optional<std::vector<std::uint32_t>> run(Progress& progress);

private:
    // Starts the workers and stops and joins them however run() is left.
    class Crew {
    public:
        explicit Crew(ContentStage& stage)
            : stage_(stage)
        {
        }
        ~Crew()
        {
            stage_.stop();
            for (std::thread& thread : threads_)
                thread.join();
        }
        Crew(const Crew&) = delete;
        Crew& operator=(const Crew&) = delete;
        void start(unsigned count)
        {
            try {
                for (unsigned i = 0; i < count; ++i)
                    threads_.emplace_back([this] { stage_.work(); });
            } catch (...) {
                // Fewer workers, or none: then the calling thread works.
            }
        }
        bool empty() const { return threads_.empty(); }

    private:
        ContentStage& stage_;
        std::vector<std::thread> threads_;
    };

    void plan();

    // Scheduling.
    void post(const Job& job);
    void spread(JobKind kind, Group& group, std::size_t begin, std::size_t end, std::size_t batch);
    Group& newGroup(std::vector<std::uint32_t> files);
    void work();
    bool waitAsking(Progress& progress);
    bool workAsking(Progress& progress);
    bool ask(Progress& progress);
    void runJob(const Job& job);
    void finishJob();
    void stop();
    bool cancelled() const { return cancel_.load(std::memory_order_relaxed); }
    std::uint32_t newClass() { return nextClass_.fetch_add(1, std::memory_order_relaxed); }

    // Jobs and what follows them.
    void hash(const Job& job);
    void compare(const Job& job);
    void verifyBytes(const Job& job);
    void verifyBatch(const Job& job);
    void afterHashing(Group& group);
    void afterVerifying(Group& group);
    void dispatch(const std::uint32_t* list, std::size_t count, Hashed hashed);
    void startVerifying(std::vector<std::uint32_t> files);

    // Reading.
    std::unique_ptr<fs::ReadStream> open(std::uint32_t file);
    bool hashFile(std::uint32_t file, bool whole, XXH3_state_t& state, Buffer& buffer);
    enum class Small { Read, TooLarge, Failed };
    Small readSmall(std::uint32_t file, std::string& bytes);
    bool lockstep(const std::uint32_t* files, std::size_t count, std::vector<int>& labels);
    void split(std::vector<std::uint32_t>& members, const Buffer& buffer, std::size_t block,
        const std::vector<std::int64_t>& got, std::vector<std::vector<std::uint32_t>>& parts) const;
    bool acquireSlots(std::size_t count);
    void releaseSlots(std::size_t count);

    fs::FileSystem& fs_;
    // The workers read the paths and stamps only; nothing changes them
    // while the stage runs.
    const PathList& paths_;
    const std::vector<fs::FileStamp>& stamps_;
    std::vector<FileState> files_;
    const bool collidingHashes_;
    std::size_t groupLimit_ = 2; // files one lockstep comparison may open
    unsigned threads_ = 1;

    std::vector<std::uint32_t> sizeOrder_; // the files sharing a size, by size
    std::uint64_t plannedBytes_ = 0; // what the stage expects to read
    std::atomic<std::uint64_t> bytesRead_ { 0 };

    std::mutex mutex_; // guards everything below
    std::condition_variable jobsCv_; // a job was posted, or the work ended
    std::condition_variable slotsCv_; // descriptor slots were given back
    std::condition_variable doneCv_; // the work ended
    std::deque<Job> queue_;
    std::size_t pending_ = 0; // jobs posted and not finished
    bool finished_ = false;
    std::size_t freeSlots_ = 0;
    std::deque<Group> groups_;

    std::atomic<bool> cancel_ { false };
    std::atomic<std::uint32_t> nextClass_ { 0 };
};

std::optional<std::vector<std::uint32_t>> ContentStage::run(Progress& progress)
{
    plan();
    bool completed = true;
    if (!sizeOrder_.empty()) {
        Crew crew(*this);
        crew.start(static_cast<unsigned>(std::min<std::size_t>(threads_, sizeOrder_.size())));
        completed = crew.empty() ? workAsking(progress) : waitAsking(progress);
    }
    if (!completed)
        return std::nullopt;
    std::vector<std::uint32_t> classes(files_.size(), kNoClass);
    for (std::size_t f = 0; f < files_.size(); ++f) {
        if (!files_[f].failed)
            classes[f] = files_[f].cls;
    }
    return classes;
}

// ---- Scheduling ----------------------------------------------------------

void ContentStage::post(const Job& job)
{
    {
        std::lock_guard lock(mutex_);
        queue_.push_back(job);
        ++pending_;
    }
    jobsCv_.notify_one();
}

// Posts jobs over [begin, end) of the group's files, `batch` files each; the
// last of them to finish runs what follows.
void ContentStage::spread(
    JobKind kind, Group& group, std::size_t begin, std::size_t end, std::size_t batch)
{
    group.remaining = (end - begin + batch - 1) / batch;
    for (std::size_t from = begin; from < end; from += batch)
        post({ kind, &group, group.files.data(), from, std::min(from + batch, end) });
}

Group& ContentStage::newGroup(std::vector<std::uint32_t> files)
{
    std::lock_guard lock(mutex_);
    Group& group = groups_.emplace_back();
    group.files = std::move(files);
    return group;
}

void ContentStage::work()
{
    for (;;) {
        Job job;
        {
            std::unique_lock lock(mutex_);
            jobsCv_.wait(lock, [&] { return !queue_.empty() || finished_ || cancelled(); });
            if (cancelled() || queue_.empty())
                return;
            job = queue_.front();
            queue_.pop_front();
        }
        runJob(job);
        finishJob();
    }
}

// The calling thread while the workers work; false when told to stop.
bool ContentStage::ask(Progress& progress)
{
    const std::uint64_t done = bytesRead_.load(std::memory_order_relaxed);
    return progress.step(Phase::Comparing, std::min(done, plannedBytes_), plannedBytes_);
}

bool ContentStage::waitAsking(Progress& progress)
{
    std::unique_lock lock(mutex_);
    while (!finished_) {
        if (doneCv_.wait_for(lock, kPollInterval, [&] { return finished_; }))
            break;
        lock.unlock();
        const bool goOn = ask(progress);
        lock.lock();
        if (!goOn) {
            cancel_ = true;
            return false;
        }
    }
    return true;
}

// The calling thread doing the work itself, when no worker could start;
// false when told to stop.
bool ContentStage::workAsking(Progress& progress)
{
    auto asked = std::chrono::steady_clock::now();
    for (;;) {
        Job job;
        {
            std::lock_guard lock(mutex_);
            if (queue_.empty())
                return true;
            job = queue_.front();
            queue_.pop_front();
        }
        runJob(job);
        finishJob();
        if (std::chrono::steady_clock::now() - asked >= kPollInterval) {
            if (!ask(progress)) {
                stop();
                return false;
            }
            asked = std::chrono::steady_clock::now();
        }
    }
}

void ContentStage::runJob(const Job& job)
{
    // A job that fails part way leaves the files it did not finish unpaired
    // (or grouped too coarsely, which the byte comparisons still catch).
    try {
        switch (job.kind) {
        case JobKind::Hash:
            hash(job);
            break;
        case JobKind::Compare:
            compare(job);
            break;
        case JobKind::VerifyBytes:
            verifyBytes(job);
            break;
        case JobKind::VerifyBatch:
            verifyBatch(job);
            break;
        }
    } catch (...) {
    }
    if (job.kind == JobKind::Compare || cancelled())
        return;
    if (job.group->remaining.fetch_sub(1, std::memory_order_acq_rel) != 1)
        return;
    try {
        switch (job.kind) {
        case JobKind::Hash:
            afterHashing(*job.group);
            break;
        case JobKind::VerifyBytes:
        case JobKind::VerifyBatch:
            afterVerifying(*job.group);
            break;
        case JobKind::Compare:
            break;
        }
    } catch (...) {
    }
}

void ContentStage::finishJob()
{
    bool done = false;
    {
        std::lock_guard lock(mutex_);
        done = --pending_ == 0;
        if (done)
            finished_ = true;
    }
    if (done) {
        jobsCv_.notify_all();
        doneCv_.notify_all();
    }
}

void ContentStage::stop()
{
    {
        std::lock_guard lock(mutex_);
        cancel_ = true;
    }
    jobsCv_.notify_all();
    slotsCv_.notify_all();
}

// ---- Jobs ----------------------------------------------------------------

// Runs of two or more files of one measured size, largest first so that
// the longest work does not start last, each sent on to be told apart.
void ContentStage::plan()
{
    for (std::uint32_t f = 0; f < files_.size(); ++f)
        files_[f].size = stamps_[f].size;
    std::vector<std::uint32_t> order(files_.size());
    std::iota(order.begin(), order.end(), 0u);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        return files_[a].size != files_[b].size ? files_[a].size > files_[b].size : a < b;
    });
    for (std::size_t begin = 0; begin < order.size();) {
        std::size_t end = begin + 1;
        while (end < order.size() && files_[order[end]].size == files_[order[begin]].size)
            ++end;
        if (end - begin > 1) {
            sizeOrder_.insert(sizeOrder_.end(), order.begin() + std::ptrdiff_t(begin),
                order.begin() + std::ptrdiff_t(end));
            const auto size
                = static_cast<std::uint64_t>(std::max<std::int64_t>(files_[order[begin]].size, 0));
            plannedBytes_ += size * (end - begin);
        }
        begin = end;
    }
    for (std::size_t begin = 0; begin < sizeOrder_.size();) {
        std::size_t end = begin + 1;
        while (end < sizeOrder_.size()
            && files_[sizeOrder_[end]].size == files_[sizeOrder_[begin]].size)
            ++end;
        dispatch(sizeOrder_.data() + begin, end - begin, Hashed::Not);
        begin = end;
    }
}

// Sends files of one size (two or more) on: to a lockstep comparison when
// few enough, else to the next hashing or to the representative's check.
void ContentStage::dispatch(const std::uint32_t* list, std::size_t count, Hashed hashed)
{
    if (count <= groupLimit_) {
        post({ JobKind::Compare, nullptr, list, 0, count });
        return;
    }
    std::vector<std::uint32_t> files(list, list + count);
    if (hashed == Hashed::Whole) {
        startVerifying(std::move(files));
        return;
    }
    Group& group = newGroup(std::move(files));
    group.wholeKeys = hashed == Hashed::Prefix || files_[group.files[0]].size <= kPrefixBytes;
    spread(JobKind::Hash, group, 0, group.files.size(), kHashBatch);
}

void ContentStage::hash(const Job& job)
{
    Group& group = *job.group;
    const HashState state(XXH3_createState());
    const std::int64_t size = files_[group.files[0]].size;
    Buffer buffer(blockFor(group.wholeKeys ? size : kPrefixBytes, kHashBlock));
    for (std::size_t k = job.begin; k < job.end && !cancelled(); ++k) {
        const std::uint32_t f = group.files[k];
        if (!state || !hashFile(f, group.wholeKeys, *state, buffer))
            files_[f].failed = true;
    }
}

bool ContentStage::hashFile(std::uint32_t file, bool whole, XXH3_state_t& state, Buffer& buffer)
{
    const auto stream = open(file);
    if (!stream || XXH3_128bits_reset(&state) != XXH_OK)
        return false;
    std::int64_t done = 0;
    for (;;) {
        if (cancelled())
            return false;
        std::int64_t want = static_cast<std::int64_t>(buffer.size());
        if (!whole)
            want = std::min(want, kPrefixBytes - done);
        if (want == 0)
            break;
        const std::int64_t got = readFully(*stream, buffer.data(), want, bytesRead_);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        XXH3_128bits_update(&state, buffer.data(), static_cast<std::size_t>(got));
        done += got;
    }
    files_[file].key = collidingHashes_ ? XXH128_hash_t {} : XXH3_128bits_digest(&state);
    return true;
}

void ContentStage::afterHashing(Group& group)
{
    // Files of one key become neighbours; the group's list, kept, is what
    // the jobs that follow read.
    std::vector<std::uint32_t>& files = group.files;
    std::erase_if(files, [&](std::uint32_t f) { return files_[f].failed; });
    std::sort(files.begin(), files.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int order = XXH128_cmp(&files_[a].key, &files_[b].key);
        return order != 0 ? order < 0 : a < b;
    });
    const Hashed hashed = group.wholeKeys ? Hashed::Whole : Hashed::Prefix;
    for (std::size_t begin = 0; begin < files.size();) {
        std::size_t end = begin + 1;
        while (
            end < files.size() && XXH128_isEqual(files_[files[end]].key, files_[files[begin]].key))
            ++end;
        if (end - begin > 1)
            dispatch(files.data() + begin, end - begin, hashed);
        begin = end;
    }
}

void ContentStage::compare(const Job& job)
{
    std::vector<int> labels;
    if (!lockstep(job.list + job.begin, job.end - job.begin, labels))
        return;
    std::vector<std::uint32_t> classes;
    for (std::size_t k = 0; k < labels.size(); ++k) {
        FileState& file = files_[job.list[job.begin + k]];
        if (labels[k] == kFailed) {
            file.failed = true;
        } else if (labels[k] >= 0) {
            const auto label = static_cast<std::size_t>(labels[k]);
            if (label >= classes.size())
                classes.resize(label + 1, kNone);
            if (classes[label] == kNone)
                classes[label] = newClass();
            file.cls = classes[label];
        }
    }
}

// Checks a class of files that all hashed alike, too many to hold open at
// once, against its first file.
void ContentStage::startVerifying(std::vector<std::uint32_t> files)
{
    std::size_t first = 0;
    while (files.size() - first >= 2 && !cancelled()) {
        if (files.size() - first <= groupLimit_) {
            Group& group = newGroup(std::vector<std::uint32_t>(files.begin() + first, files.end()));
            post({ JobKind::Compare, nullptr, group.files.data(), 0, group.files.size() });
            return;
        }
        const std::uint32_t rep = files[first];
        std::string bytes;
        bool small = files_[rep].size <= kPrefixBytes;
        if (small) {
            const Small read = readSmall(rep, bytes);
            if (read == Small::Failed) {
                files_[rep].failed = true;
                ++first;
                continue;
            }
            small = read == Small::Read;
        }
        Group& group = newGroup(std::vector<std::uint32_t>(files.begin() + first, files.end()));
        group.classId = newClass();
        files_[rep].cls = group.classId;
        if (small) {
            group.repBytes = std::make_shared<const std::string>(std::move(bytes));
            spread(JobKind::VerifyBytes, group, 1, group.files.size(), kVerifyBatch);
        } else {
            spread(JobKind::VerifyBatch, group, 1, group.files.size(), groupLimit_ - 1);
        }
        return;
    }
}

// A file whole when it holds no more than kPrefixBytes, whatever its size
// said; TooLarge when it holds more.
ContentStage::Small ContentStage::readSmall(std::uint32_t file, std::string& bytes)
{
    const auto stream = open(file);
    if (!stream)
        return Small::Failed;
    bytes.resize(static_cast<std::size_t>(kPrefixBytes) + 1);
    const std::int64_t got = readFully(*stream, bytes.data(), kPrefixBytes + 1, bytesRead_);
    if (got < 0)
        return Small::Failed;
    if (got > kPrefixBytes)
        return Small::TooLarge;
    bytes.resize(static_cast<std::size_t>(got));
    return Small::Read;
}

void ContentStage::verifyBytes(const Job& job)
{
    Group& group = *job.group;
    const std::string& rep = *group.repBytes;
    std::string bytes(rep.size() + 1, '\0');
    for (std::size_t k = job.begin; k < job.end && !cancelled(); ++k) {
        FileState& file = files_[group.files[k]];
        const auto stream = open(group.files[k]);
        const std::int64_t got = stream
            ? readFully(*stream, bytes.data(), static_cast<std::int64_t>(bytes.size()), bytesRead_)
            : -1;
        if (got < 0)
            file.failed = true;
        else if (std::string_view(bytes.data(), static_cast<std::size_t>(got)) == rep)
            file.cls = group.classId;
    }
}

void ContentStage::verifyBatch(const Job& job)
{
    Group& group = *job.group;
    std::vector<std::uint32_t> batch;
    batch.reserve(job.end - job.begin + 1);
    batch.push_back(group.files[0]);
    batch.insert(batch.end(), group.files.begin() + job.begin, group.files.begin() + job.end);
    std::vector<int> labels;
    if (!lockstep(batch.data(), batch.size(), labels))
        return;
    // The representative is shared by every batch: only the group records
    // its failure.
    if (labels[0] == kFailed)
        group.repFailed = true;
    for (std::size_t k = 1; k < batch.size(); ++k) {
        FileState& file = files_[batch[k]];
        if (labels[k] == kFailed)
            file.failed = true;
        else if (labels[0] >= 0 && labels[k] == labels[0])
            file.cls = group.classId;
    }
}

void ContentStage::afterVerifying(Group& group)
{
    const std::uint32_t rep = group.files[0];
    if (group.repFailed) {
        files_[rep].failed = true;
        files_[rep].cls = kNone;
    }
    // The files that differ from the representative may still match each
    // other.
    std::vector<std::uint32_t> rest;
    for (std::size_t k = 1; k < group.files.size(); ++k) {
        const FileState& file = files_[group.files[k]];
        if (file.cls == kNone && !file.failed)
            rest.push_back(group.files[k]);
    }
    if (rest.size() < 2)
        return;
    Group& restGroup = newGroup(std::move(rest));
    dispatch(restGroup.files.data(), restGroup.files.size(), Hashed::Whole);
}

// ---- Reading -------------------------------------------------------------

// Opens a file only while it is still the file measured: same identity,
// size and modification time on the open descriptor.
std::unique_ptr<fs::ReadStream> ContentStage::open(std::uint32_t file)
{
    const std::string path(paths_[file]);
    try {
        std::unique_ptr<fs::ReadStream> stream = fs_.openRead(path);
        if (!stream)
            return nullptr;
        const std::optional<fs::FileStamp> now = stream->stamp();
        if (!now || *now != stamps_[file])
            return nullptr;
        return stream;
    } catch (...) {
        return nullptr;
    }
}

bool ContentStage::acquireSlots(std::size_t count)
{
    std::unique_lock lock(mutex_);
    slotsCv_.wait(lock, [&] { return freeSlots_ >= count || cancelled(); });
    if (cancelled())
        return false;
    freeSlots_ -= count;
    return true;
}

void ContentStage::releaseSlots(std::size_t count)
{
    if (count == 0)
        return;
    {
        std::lock_guard lock(mutex_);
        freeSlots_ += count;
    }
    slotsCv_.notify_all();
}

// Reads the files (all of one size, at most groupLimit_) together, block by
// block, and labels them: equal labels for files equal from start to end.
// A file leaves as soon as no other file matches it. False when stopped.
bool ContentStage::lockstep(const std::uint32_t* files, std::size_t count, std::vector<int>& labels)
{
    labels.assign(count, kAlone);
    if (!acquireSlots(count))
        return false;
    // Slots of the files still open go back however this is left; declared
    // before the streams, so that they are closed first.
    struct SlotsBack {
        ContentStage& stage;
        std::size_t held;
        ~SlotsBack() { stage.releaseSlots(held); }
    } slots { *this, count };
    std::vector<std::unique_ptr<fs::ReadStream>> streams(count);
    const auto close = [&](std::size_t k) {
        streams[k].reset();
        --slots.held;
        releaseSlots(1);
    };

    std::vector<std::uint32_t> opened;
    for (std::size_t k = 0; k < count; ++k) {
        streams[k] = open(files[k]);
        if (streams[k]) {
            opened.push_back(static_cast<std::uint32_t>(k));
        } else {
            labels[k] = kFailed;
            close(k);
        }
    }
    // The files share their size (as measured).
    const std::size_t block = blockFor(files_[files[0]].size,
        std::clamp(kLockstepBytes / count, kMinBlock, kMaxBlock) / 4096 * 4096);
    Buffer buffer(count * block);
    std::vector<std::int64_t> got(count, 0);
    // Classes of files equal so far, still to read on.
    std::vector<std::vector<std::uint32_t>> reading;
    std::vector<std::vector<std::uint32_t>> parts;
    if (opened.size() >= 2)
        reading.push_back(std::move(opened));
    else if (opened.size() == 1)
        close(opened[0]);

    int nextLabel = 0;
    while (!reading.empty()) {
        if (cancelled())
            return false;
        std::vector<std::uint32_t> members = std::move(reading.back());
        reading.pop_back();
        std::erase_if(members, [&](std::uint32_t k) {
            if (cancelled())
                return false;
            got[k] = readFully(*streams[k], buffer.data() + k * block,
                static_cast<std::int64_t>(block), bytesRead_);
            if (got[k] >= 0)
                return false;
            labels[k] = kFailed;
            close(k);
            return true;
        });
        if (cancelled())
            return false;
        split(members, buffer, block, got, parts);
        for (std::vector<std::uint32_t>& part : parts) {
            if (part.size() == 1) {
                close(part[0]);
            } else if (got[part[0]] == 0) {
                for (const std::uint32_t k : part) {
                    labels[k] = nextLabel;
                    close(k);
                }
                ++nextLabel;
            } else {
                reading.push_back(std::move(part));
            }
        }
    }
    return true;
}

// Splits the members by the block each has just read into parts of equal
// blocks.
void ContentStage::split(std::vector<std::uint32_t>& members, const Buffer& buffer,
    std::size_t block, const std::vector<std::int64_t>& got,
    std::vector<std::vector<std::uint32_t>>& parts) const
{
    parts.clear();
    if (members.empty())
        return;
    const auto bytesOf = [&](std::uint32_t k) {
        return std::string_view(buffer.data() + k * block, static_cast<std::size_t>(got[k]));
    };
    // Usually every block is equal to the first.
    const std::string_view lead = bytesOf(members[0]);
    if (std::all_of(members.begin() + 1, members.end(),
            [&](std::uint32_t k) { return bytesOf(k) == lead; })) {
        parts.push_back(std::move(members));
        return;
    }
    // Blocks of one hash become neighbours; each run of one hash is then
    // split by the bytes themselves.
    std::vector<std::pair<std::uint64_t, std::uint32_t>> keyed;
    keyed.reserve(members.size());
    for (const std::uint32_t k : members) {
        const std::string_view bytes = bytesOf(k);
        keyed.emplace_back(collidingHashes_ ? 0 : XXH3_64bits(bytes.data(), bytes.size()), k);
    }
    std::sort(keyed.begin(), keyed.end());
    std::vector<std::uint32_t> rest;
    std::vector<std::uint32_t> others;
    for (std::size_t begin = 0; begin < keyed.size();) {
        std::size_t end = begin + 1;
        while (end < keyed.size() && keyed[end].first == keyed[begin].first)
            ++end;
        rest.clear();
        for (std::size_t i = begin; i < end; ++i)
            rest.push_back(keyed[i].second);
        while (!rest.empty()) {
            const std::string_view leader = bytesOf(rest[0]);
            std::vector<std::uint32_t>& part = parts.emplace_back(1, rest[0]);
            others.clear();
            for (std::size_t i = 1; i < rest.size(); ++i)
                (bytesOf(rest[i]) == leader ? part : others).push_back(rest[i]);
            rest.swap(others);
        }
        begin = end;
    }
}

} // namespace

std::optional<std::vector<std::uint32_t>> classifyByContent(fs::FileSystem& fileSystem,
    const PathList& paths, const std::vector<fs::FileStamp>& stamps, Progress& progress,
    const ContentStageOptions& options)
{
    ContentStage stage(fileSystem, paths, stamps, options);
    return stage.run(progress);
}

std::optional<std::vector<Row>> pairByContent(fs::FileSystem& fileSystem,
    const PathList& candidates, const StampList& stamps, Progress& progress,
    const ContentStageOptions& options)
{
    // One file per identity, at the path of its first candidate; only
    // files that share their size with another file are compared.
    const std::size_t count = std::min(candidates.size(), stamps.size());
    std::vector<std::uint32_t> order(count);
    std::iota(order.begin(), order.end(), 0u);
    const auto identity = [&](std::uint32_t c) {
        const fs::FileStamp& stamp = stamps[c];
        return stamp.known() ? std::tuple(stamp.size, stamp.device, stamp.inode, 0u)
                             : std::tuple(stamp.size, std::uint64_t(0), std::uint64_t(0), c + 1);
    };
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const auto ka = identity(a);
        const auto kb = identity(b);
        return ka != kb ? ka < kb : a < b;
    });
    std::vector<std::uint32_t> fileOf(count, kNoClass);
    PathList paths;
    std::vector<fs::FileStamp> fileStamps;
    for (std::size_t begin = 0; begin < count;) {
        std::size_t end = begin + 1;
        while (end < count && stamps[order[end]].size == stamps[order[begin]].size)
            ++end;
        std::size_t files = 0;
        for (std::size_t k = begin; k < end; ++k)
            files += k == begin || identity(order[k]) != identity(order[k - 1]) ? 1 : 0;
        if (files > 1) {
            for (std::size_t k = begin; k < end; ++k) {
                if (k == begin || identity(order[k]) != identity(order[k - 1])) {
                    paths.append(candidates[order[k]]);
                    fileStamps.push_back(stamps[order[k]]);
                }
                fileOf[order[k]] = static_cast<std::uint32_t>(fileStamps.size() - 1);
            }
        }
        begin = end;
    }
    std::vector<std::uint32_t>().swap(order);

    const auto classes = classifyByContent(fileSystem, paths, fileStamps, progress, options);
    if (!classes)
        return std::nullopt;
    std::vector<Row> rows;
    KeyPairer pairer;
    for (std::uint32_t c = 0; c < count; ++c) {
        if (fileOf[c] == kNoClass || (*classes)[fileOf[c]] == kNoClass)
            continue;
        pairer.add(c, (*classes)[fileOf[c]], candidates, stamps, rows);
    }
    return rows;
}

} // namespace qevra::search
