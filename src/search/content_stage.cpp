// The content stage: which files hold equal bytes.
//
// Only files that share their measured size with another can be equal. A
// group of one size small enough to hold open at once is read in lockstep
// (lockstep.h), block by block, and split wherever the blocks differ: files
// drop out as soon as nothing else matches them, and what is left at the end
// is equal byte for byte, each file read once to its very end (a size is
// never trusted: a file is equal only to files that end where it ends). A
// larger group is split by hashing first (the first kPrefixBytes, then whole
// files) and each smaller part is read in lockstep as above; a part that is
// still too large is checked against its first file, the representative,
// whose bytes stay in memory when the file is small, or batch by batch in
// lockstep when it is large. Files that differ from the representative
// (hash collisions, or files that changed meanwhile) are checked again among
// themselves. No hash is ever trusted: every class is confirmed by bytes.
//
// The work is tasks on a WorkQueue; a group's tasks count down and the last
// one to finish plans what follows. The calling thread only waits, reports
// the bytes read and asks whether to go on.
#include "search/content_stage.h"

#include "search/descriptor_slots.h"
#include "search/lockstep.h"
#include "search/work_queue.h"

#include <xxhash.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <exception>
#include <map>
#include <memory>
#include <mutex>
#include <numeric>
#include <string>
#include <string_view>
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
// Files per task.
constexpr std::size_t kHashBatch = 8;
constexpr std::size_t kVerifyBatch = 32;
constexpr unsigned kMaxThreads = 64;

// Reading is what the stage waits for most: on a cold disk many reads in
// flight finish sooner than one per core, so it runs more workers than
// there are cores.
unsigned kDefaultThreads()
{
    return std::max(8u, 2 * std::thread::hardware_concurrency());
}

// Why a file pairs with nothing.
enum class Failure : std::uint8_t {
    Unread, // a read failed, or its comparison could not be made
    Unopened, // the file system would not open it
    Changed, // its open descriptor no longer shows the stamp measured
    Threw, // its reading threw (told on its own)
};

// One distinct file.
struct FileState {
    std::uint32_t cls = kNone; // its class of equal files, once confirmed
    std::int64_t size = -1;
    Digest key; // hash of its prefix or of all of it
    bool failed = false; // cannot be opened or read: pairs with nothing
    std::uint64_t head = 0; // headOf its start, once read
    Failure why = Failure::Unread; // when failed, as far as known
};

// Files handled by several tasks together: a group of one size to hash, or
// a class checked against its first file (the representative).
struct Group {
    std::vector<std::uint32_t> files;
    std::atomic<std::size_t> remaining { 0 }; // its tasks not yet finished
    bool wholeKeys = false; // hashing covers whole files, not the prefix
    std::uint32_t classId = kNone;
    std::shared_ptr<const std::string> repBytes; // a small representative's bytes
    std::atomic<bool> repFailed { false };
};

// How far a list of files of one size has been told apart by hashing.
enum class Hashed { Not, Prefix, Whole };

class ContentStage : public std::enable_shared_from_this<ContentStage> {
public:
    ContentStage(fs::FileSystem& fileSystem, PathList paths, std::vector<fs::FileStamp> stamps,
        const ContentStageOptions& options)
        : fs_(fileSystem)
        , paths_(std::move(paths))
        , stamps_(std::move(stamps))
        , files_(stamps_.size())
        , hashes_(options.hashes)
        , warn_(options.warn)
        , groupLimit_(std::clamp<std::size_t>(
              options.maxOpenFiles, 2, std::max<std::size_t>(descriptorBudget(), 2)))
        , slots_(std::max(groupLimit_, std::min(descriptorBudget(), 2 * groupLimit_)))
    {
        threads_ = options.threads != 0 ? options.threads : kDefaultThreads();
        threads_ = std::clamp(threads_, 1u, kMaxThreads);
        queue_.onCancel([this] { slots_.wake(); });
    }

    std::optional<std::vector<std::uint32_t>> run(Progress& progress, ContentDetails* details);

private:
    // Planning.
    void plan();
    void dispatch(const std::uint32_t* list, std::size_t count, Hashed hashed);
    void startVerifying(std::vector<std::uint32_t> files);
    Group& newGroup(std::vector<std::uint32_t> files);
    // Posts tasks over [begin, end) of the group's files, `batch` files
    // each; the last of them to finish runs `after`.
    void spread(Group& group, std::size_t begin, std::size_t end, std::size_t batch,
        void (ContentStage::*task)(Group&, std::size_t, std::size_t),
        void (ContentStage::*after)(Group&));
    // Runs `body`; an exception that escapes it fails `files` and is told.
    template <typename Body>
    void guarded(const std::uint32_t* files, std::size_t count, Body&& body);

    // Tasks and what follows them.
    void hash(Group& group, std::size_t begin, std::size_t end);
    void afterHashing(Group& group);
    void compare(const std::uint32_t* files, std::size_t count);
    void verifyBytes(Group& group, std::size_t begin, std::size_t end);
    void verifyBatch(Group& group, std::size_t begin, std::size_t end);
    void afterVerifying(Group& group);

    // Reading.
    std::unique_ptr<fs::ReadStream> open(std::uint32_t file);
    bool hashFile(std::uint32_t file, bool whole, ContentHasher& hasher, Buffer& buffer);
    enum class Small { Read, TooLarge, Failed };
    Small readSmall(std::uint32_t file, std::string& bytes);
    bool lockstep(const std::uint32_t* files, std::size_t count, std::vector<int>& labels,
        bool sharedFirst = false);
    bool cancelled() const { return queue_.cancelled(); }
    std::uint32_t newClass() { return nextClass_.fetch_add(1, std::memory_order_relaxed); }

    fs::FileSystem& fs_;
    // The workers read the paths and stamps only; nothing changes them
    // while the stage runs. They are the stage's own, as workers left
    // behind by a Stop may still read them.
    const PathList paths_;
    const std::vector<fs::FileStamp> stamps_;
    std::vector<FileState> files_;
    const HashFunctions hashes_;
    const std::function<void(const Warning&)> warn_;
    const std::size_t groupLimit_; // files one lockstep comparison may open
    DescriptorSlots slots_;
    unsigned threads_ = 1;

    std::vector<std::uint32_t> sizeOrder_; // the files sharing a size, by size
    std::uint64_t plannedBytes_ = 0; // what the stage expects to read
    std::atomic<std::uint64_t> bytesRead_ { 0 };

    WorkQueue queue_;
    std::mutex groupsMutex_;
    std::deque<Group> groups_;
    std::atomic<std::uint32_t> nextClass_ { 0 };

    // The messages of what reading threw, by file: rare, so kept apart
    // from every file's state.
    void noteThrown(std::uint32_t file, const std::exception& error)
    {
        std::lock_guard lock(thrownMutex_);
        thrown_[file] = error.what();
    }
    std::string thrownBy(std::uint32_t file)
    {
        std::lock_guard lock(thrownMutex_);
        return thrown_[file];
    }
    std::mutex thrownMutex_;
    std::map<std::uint32_t, std::string> thrown_;
};

std::optional<std::vector<std::uint32_t>> ContentStage::run(
    Progress& progress, ContentDetails* details)
{
    plan();
    // A step at the start, as every phase takes one, so that a stop is
    // answered even when the work would end before the first poll.
    if (!progress.step(Phase::Comparing, 0, plannedBytes_))
        return std::nullopt;
    // Each worker holds the stage, so a Stop can leave one that waits on a
    // read that never returns.
    const bool completed = queue_.run(
        static_cast<unsigned>(std::min<std::size_t>(threads_, sizeOrder_.size())),
        [&] {
            const std::uint64_t done = bytesRead_.load(std::memory_order_relaxed);
            return progress.step(Phase::Comparing, std::min(done, plannedBytes_), plannedBytes_);
        },
        shared_from_this());
    if (!completed)
        return std::nullopt;
    std::vector<std::uint32_t> classes(files_.size(), kNoClass);
    if (details) {
        details->unread.assign(files_.size(), false);
        details->heads.assign(files_.size(), 0);
    }
    for (std::size_t f = 0; f < files_.size(); ++f) {
        if (!files_[f].failed) {
            classes[f] = files_[f].cls;
            if (details)
                details->heads[f] = files_[f].head;
            continue;
        }
        if (details)
            details->unread[f] = true;
        if (!warn_)
            continue;
        Warning warning { std::string(paths_[f]), 0, {} };
        switch (files_[f].why) {
        case Failure::Unread:
            warning.what = "could not be read to its end";
            break;
        case Failure::Unopened:
            warning.what = "could not be opened";
            break;
        case Failure::Changed:
            warning.what = "changed since it was measured";
            break;
        case Failure::Threw:
            warning.what = thrownBy(std::uint32_t(f));
            break;
        }
        warn_(warning);
    }
    return classes;
}

// ---- Planning --------------------------------------------------------------

// Runs of two or more files of one measured size, largest first so that the
// longest work does not start last, each sent on to be told apart.
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
        queue_.post([this, list, count] { compare(list, count); });
        return;
    }
    std::vector<std::uint32_t> files(list, list + count);
    if (hashed == Hashed::Whole) {
        startVerifying(std::move(files));
        return;
    }
    Group& group = newGroup(std::move(files));
    group.wholeKeys = hashed == Hashed::Prefix || files_[group.files[0]].size <= kPrefixBytes;
    spread(
        group, 0, group.files.size(), kHashBatch, &ContentStage::hash, &ContentStage::afterHashing);
}

Group& ContentStage::newGroup(std::vector<std::uint32_t> files)
{
    std::lock_guard lock(groupsMutex_);
    Group& group = groups_.emplace_back();
    group.files = std::move(files);
    return group;
}

void ContentStage::spread(Group& group, std::size_t begin, std::size_t end, std::size_t batch,
    void (ContentStage::*task)(Group&, std::size_t, std::size_t),
    void (ContentStage::*after)(Group&))
{
    group.remaining = (end - begin + batch - 1) / batch;
    for (std::size_t from = begin; from < end; from += batch) {
        const std::size_t to = std::min(from + batch, end);
        queue_.post([this, &group, from, to, task, after] {
            guarded(group.files.data() + from, to - from, [&] { (this->*task)(group, from, to); });
            if (cancelled() || group.remaining.fetch_sub(1, std::memory_order_acq_rel) != 1)
                return;
            guarded(group.files.data(), group.files.size(), [&] { (this->*after)(group); });
        });
    }
}

template <typename Body>
void ContentStage::guarded(const std::uint32_t* files, std::size_t count, Body&& body)
{
    try {
        body();
    } catch (const std::exception& error) {
        for (std::size_t k = 0; k < count; ++k) {
            FileState& file = files_[files[k]];
            file.failed = true;
            file.why = Failure::Threw;
            noteThrown(files[k], error);
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
            dispatch(group.files.data(), group.files.size(), Hashed::Whole);
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
            spread(group, 1, group.files.size(), kVerifyBatch, &ContentStage::verifyBytes,
                &ContentStage::afterVerifying);
        } else {
            spread(group, 1, group.files.size(), groupLimit_ - 1, &ContentStage::verifyBatch,
                &ContentStage::afterVerifying);
        }
        return;
    }
}

// ---- Tasks ---------------------------------------------------------------

void ContentStage::hash(Group& group, std::size_t begin, std::size_t end)
{
    const std::unique_ptr<ContentHasher> hasher = hashes_.makeHasher();
    const std::int64_t size = files_[group.files[0]].size;
    Buffer buffer(blockFor(group.wholeKeys ? size : kPrefixBytes, kHashBlock));
    for (std::size_t k = begin; k < end && !cancelled(); ++k) {
        const std::uint32_t f = group.files[k];
        if (!hashFile(f, group.wholeKeys, *hasher, buffer))
            files_[f].failed = true;
    }
}

void ContentStage::afterHashing(Group& group)
{
    // Files of one key become neighbours; the group's list, kept, is what
    // the tasks that follow read.
    std::vector<std::uint32_t>& files = group.files;
    std::erase_if(files, [&](std::uint32_t f) { return files_[f].failed; });
    std::sort(files.begin(), files.end(), [&](std::uint32_t a, std::uint32_t b) {
        return std::tie(files_[a].key, a) < std::tie(files_[b].key, b);
    });
    const Hashed hashed = group.wholeKeys ? Hashed::Whole : Hashed::Prefix;
    for (std::size_t begin = 0; begin < files.size();) {
        std::size_t end = begin + 1;
        while (end < files.size() && files_[files[end]].key == files_[files[begin]].key)
            ++end;
        if (end - begin > 1)
            dispatch(files.data() + begin, end - begin, hashed);
        begin = end;
    }
}

void ContentStage::compare(const std::uint32_t* files, std::size_t count)
{
    guarded(files, count, [&] {
        std::vector<int> labels;
        if (!lockstep(files, count, labels))
            return;
        std::vector<std::uint32_t> classes;
        for (std::size_t k = 0; k < labels.size(); ++k) {
            FileState& file = files_[files[k]];
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
    });
}

void ContentStage::verifyBytes(Group& group, std::size_t begin, std::size_t end)
{
    const std::string& rep = *group.repBytes;
    std::string bytes(rep.size() + 1, '\0');
    for (std::size_t k = begin; k < end && !cancelled(); ++k) {
        FileState& file = files_[group.files[k]];
        const auto stream = open(group.files[k]);
        const std::int64_t got = stream
            ? readFully(*stream, bytes.data(), static_cast<std::int64_t>(bytes.size()), bytesRead_)
            : -1;
        if (got < 0) {
            file.failed = true;
            continue;
        }
        file.head = headOf(std::string_view(bytes.data(), std::size_t(got)));
        if (std::string_view(bytes.data(), static_cast<std::size_t>(got)) == rep)
            file.cls = group.classId;
    }
}

void ContentStage::verifyBatch(Group& group, std::size_t begin, std::size_t end)
{
    std::vector<std::uint32_t> batch;
    batch.reserve(end - begin + 1);
    batch.push_back(group.files[0]);
    batch.insert(batch.end(), group.files.begin() + std::ptrdiff_t(begin),
        group.files.begin() + std::ptrdiff_t(end));
    std::vector<int> labels;
    if (!lockstep(batch.data(), batch.size(), labels, true))
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
// size, modification and change time on the open descriptor. A file that cannot be
// opened pairs with nothing; one whose opening throws is also told.
std::unique_ptr<fs::ReadStream> ContentStage::open(std::uint32_t file)
{
    // A stage given up touches the file system no more.
    if (cancelled())
        return nullptr;
    const std::string path(paths_[file]);
    try {
        std::unique_ptr<fs::ReadStream> stream = fs_.openRead(path);
        if (!stream) {
            files_[file].why = Failure::Unopened;
            return nullptr;
        }
        const std::optional<fs::FileStamp> now = stream->stamp();
        if (!now || *now != stamps_[file]) {
            files_[file].why = Failure::Changed;
            return nullptr;
        }
        return stream;
    } catch (const std::exception& error) {
        files_[file].why = Failure::Threw;
        noteThrown(file, error);
        return nullptr;
    }
}

bool ContentStage::hashFile(std::uint32_t file, bool whole, ContentHasher& hasher, Buffer& buffer)
{
    const auto stream = open(file);
    if (!stream)
        return false;
    hasher.reset();
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
        hasher.update(buffer.data(), static_cast<std::size_t>(got));
        if (done == 0)
            files_[file].head = headOf(std::string_view(buffer.data(), std::size_t(got)));
        done += got;
    }
    files_[file].key = hasher.digest();
    return true;
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
    files_[file].head = headOf(std::string_view(bytes.data(), std::size_t(got)));
    if (got > kPrefixBytes)
        return Small::TooLarge;
    bytes.resize(static_cast<std::size_t>(got));
    return Small::Read;
}

// Reads the files (all of one measured size, at most groupLimit_) together,
// holding a descriptor slot for each until it is closed. False when stopped.
bool ContentStage::lockstep(
    const std::uint32_t* files, std::size_t count, std::vector<int>& labels, bool sharedFirst)
{
    labels.assign(count, kAlone);
    if (!slots_.acquire(count, queue_.cancelFlag()))
        return false;
    Lockstep work;
    work.count = count;
    work.block = blockFor(files_[files[0]].size,
        std::clamp(kLockstepBytes / count, kMinBlock, kMaxBlock) / 4096 * 4096);
    work.open = [&](std::size_t k) { return open(files[k]); };
    work.closed = [&](std::size_t) { slots_.release(1); };
    work.hashBlock = hashes_.hashBlock;
    // A representative read by every batch of its class took its head
    // before the batches began.
    work.firstBlock = [&](std::size_t k, std::string_view start) {
        if (k > 0 || !sharedFirst)
            files_[files[k]].head = headOf(start);
    };
    work.bytesRead = &bytesRead_;
    work.cancelled = &queue_.cancelFlag();
    return compareInLockstep(work, labels);
}

} // namespace

std::optional<std::vector<std::uint32_t>> classifyByContent(fs::FileSystem& fileSystem,
    PathList paths, std::vector<fs::FileStamp> stamps, Progress& progress,
    const ContentStageOptions& options, ContentDetails* details)
{
    const auto stage
        = std::make_shared<ContentStage>(fileSystem, std::move(paths), std::move(stamps), options);
    return stage->run(progress, details);
}

std::uint64_t headOf(std::string_view start)
{
    const std::uint64_t hash = XXH3_64bits(start.data(), std::min(start.size(), kHeadBytes));
    return hash != 0 ? hash : 1;
}

} // namespace qevra::search
