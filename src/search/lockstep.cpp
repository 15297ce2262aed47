#include "search/lockstep.h"

#include <algorithm>

namespace qevra::search {

std::int64_t readFully(
    fs::ReadStream& stream, char* buffer, std::int64_t count, std::atomic<std::uint64_t>& counter)
{
    std::int64_t total = 0;
    while (total < count) {
        std::int64_t got = -1;
        try {
            got = stream.read(buffer + total, count - total);
        } catch (...) {
            // A stream that throws has failed to read, like one that says -1.
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

std::size_t blockFor(std::int64_t size, std::size_t most)
{
    constexpr std::uint64_t kPage = 4096;
    const std::uint64_t pages
        = (static_cast<std::uint64_t>(std::max<std::int64_t>(size, 1)) + kPage - 1) / kPage;
    return static_cast<std::size_t>(std::min<std::uint64_t>(pages * kPage, most));
}

namespace {

// The streams of one comparison; every file is closed exactly once, however
// the comparison ends.
class OpenFiles {
public:
    explicit OpenFiles(const Lockstep& work)
        : work_(work)
        , streams_(work.count)
        , closed_(work.count, false)
    {
    }
    ~OpenFiles()
    {
        for (std::size_t k = 0; k < streams_.size(); ++k)
            close(k);
    }
    OpenFiles(const OpenFiles&) = delete;
    OpenFiles& operator=(const OpenFiles&) = delete;

    bool open(std::size_t k)
    {
        streams_[k] = work_.open(k);
        if (!streams_[k])
            close(k);
        return streams_[k] != nullptr;
    }
    fs::ReadStream& operator[](std::size_t k) { return *streams_[k]; }
    void close(std::size_t k)
    {
        if (closed_[k])
            return;
        streams_[k].reset();
        closed_[k] = true;
        if (work_.closed)
            work_.closed(k);
    }

private:
    const Lockstep& work_;
    std::vector<std::unique_ptr<fs::ReadStream>> streams_;
    std::vector<bool> closed_;
};

// Splits the members by the block each has just read into parts of equal
// blocks.
void split(std::vector<std::uint32_t>& members, const Buffer& buffer, std::size_t block,
    const std::vector<std::int64_t>& got,
    const std::function<std::uint64_t(std::string_view)>& hashBlock,
    std::vector<std::vector<std::uint32_t>>& parts)
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
    for (const std::uint32_t k : members)
        keyed.emplace_back(hashBlock ? hashBlock(bytesOf(k)) : 0, k);
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

bool compareInLockstep(const Lockstep& work, std::vector<int>& labels)
{
    const std::size_t count = work.count;
    labels.assign(count, kAlone);
    const auto cancelled = [&] { return work.cancelled && work.cancelled->load(); };
    std::atomic<std::uint64_t> uncounted { 0 };
    std::atomic<std::uint64_t>& bytesRead = work.bytesRead ? *work.bytesRead : uncounted;

    OpenFiles files(work);
    std::vector<std::uint32_t> opened;
    for (std::size_t k = 0; k < count; ++k) {
        if (cancelled())
            return false;
        if (files.open(k))
            opened.push_back(static_cast<std::uint32_t>(k));
        else
            labels[k] = kFailed;
    }
    Buffer buffer(count * work.block);
    std::vector<std::int64_t> got(count, 0);
    // Classes of files equal so far, still to read on.
    std::vector<std::vector<std::uint32_t>> reading;
    std::vector<std::vector<std::uint32_t>> parts;
    if (opened.size() >= 2)
        reading.push_back(std::move(opened));
    else if (opened.size() == 1)
        files.close(opened[0]);

    int nextLabel = 0;
    bool firstStep = true;
    while (!reading.empty()) {
        if (cancelled())
            return false;
        std::vector<std::uint32_t> members = std::move(reading.back());
        reading.pop_back();
        std::erase_if(members, [&](std::uint32_t k) {
            if (cancelled())
                return false;
            got[k] = readFully(files[k], buffer.data() + k * work.block,
                static_cast<std::int64_t>(work.block), bytesRead);
            if (got[k] >= 0)
                return false;
            labels[k] = kFailed;
            files.close(k);
            return true;
        });
        if (cancelled())
            return false;
        if (firstStep && work.firstBlock) {
            for (const std::uint32_t k : members)
                work.firstBlock(
                    k, std::string_view(buffer.data() + k * work.block, std::size_t(got[k])));
        }
        firstStep = false;
        split(members, buffer, work.block, got, work.hashBlock, parts);
        for (std::vector<std::uint32_t>& part : parts) {
            if (part.size() == 1) {
                files.close(part[0]);
            } else if (got[part[0]] == 0) {
                // Every member ended here, after equal bytes.
                for (const std::uint32_t k : part) {
                    labels[k] = nextLabel;
                    files.close(k);
                }
                ++nextLabel;
            } else {
                reading.push_back(std::move(part));
            }
        }
    }
    return true;
}

} // namespace qevra::search
