// The comparisons remembered between searches: what is read from memory
// instead of from the files, and the file that keeps it.
#include "search/comparison_memory.h"

#include "fs/descriptor.h"
#include "search/aside.h"
#include "search/lockstep.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <numeric>
#include <pwd.h>
#include <random>
#include <sys/file.h>
#include <sys/stat.h>
#include <tuple>
#include <type_traits>
#include <unistd.h>
#include <utility>

namespace qevra::search {

namespace {

using Entry = ComparisonMemory::Entry;
static_assert(std::is_trivially_copyable_v<Entry> && sizeof(Entry) == 64);

bool identityLess(const Entry& a, const Entry& b)
{
    return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
}

bool sameStamp(const Entry& entry, const fs::FileStamp& stamp)
{
    return entry.device == stamp.device && entry.inode == stamp.inode && entry.size == stamp.size
        && entry.modified == stamp.modified && entry.changed == stamp.changed;
}

// Stamps that can be trusted to name one file and its state.
bool rememberable(const fs::FileStamp& stamp)
{
    return stamp.known() && !stamp.aliased;
}

} // namespace

ComparisonMemory::ComparisonMemory(std::vector<Entry> entries)
    : entries_(std::move(entries))
{
}

Proof ComparisonMemory::recall(const fs::FileStamp& stamp) const
{
    if (!rememberable(stamp))
        return {};
    Entry key;
    key.device = stamp.device;
    key.inode = stamp.inode;
    const auto found = std::lower_bound(entries_.begin(), entries_.end(), key, identityLess);
    if (found == entries_.end() || !sameStamp(*found, stamp))
        return {};
    return { found->comparison, found->cls, found->day, found->head };
}

std::uint64_t ComparisonMemory::newComparison()
{
    std::random_device device;
    std::uint64_t number = 0;
    while (number == 0)
        number = (std::uint64_t(device()) << 32) ^ device();
    return number;
}

void ComparisonMemory::learn(const fs::FileStamp& stamp, Proof proof)
{
    if (!rememberable(stamp) || !proof.known())
        return;
    learned_.push_back({ stamp.device, stamp.inode, stamp.size, stamp.modified, stamp.changed,
        proof.comparison, proof.cls, 0, proof.head });
}

// ---- Classes from memory and from the files --------------------------------

namespace {

enum class Reading : std::uint8_t {
    None, // every file of the size known from one comparison
    Representatives, // the unknown files and one of each class remembered
    All, // every file, as without memory
};

struct SizeRun {
    std::size_t begin = 0; // in the order by size
    std::size_t end = 0;
    Reading reading = Reading::None;
};

// What decides a file's class in the end.
struct ClassKey {
    std::uint8_t kind = 0; // 0 remembered class, 1 class read, 2 a file alone
    std::uint64_t value = 0;
    friend auto operator<=>(const ClassKey&, const ClassKey&) = default;
};

// The heads of the files, each read only while it is still the file
// measured; 0 for a file that cannot be read so.
std::vector<std::uint64_t> readHeads(fs::FileSystem& fileSystem,
    const std::vector<std::string>& paths, const std::vector<fs::FileStamp>& stamps)
{
    std::vector<std::uint64_t> heads(paths.size(), 0);
    Buffer buffer(kHeadBytes);
    std::atomic<std::uint64_t> read { 0 };
    for (std::size_t k = 0; k < paths.size(); ++k) {
        try {
            const std::unique_ptr<fs::ReadStream> stream = fileSystem.openRead(paths[k]);
            const std::optional<fs::FileStamp> now = stream ? stream->stamp() : std::nullopt;
            if (!now || *now != stamps[k])
                continue;
            const std::int64_t got
                = readFully(*stream, buffer.data(), std::int64_t(buffer.size()), read);
            if (got >= 0)
                heads[k] = headOf(std::string_view(buffer.data(), std::size_t(got)));
        } catch (const std::exception&) {
            // Its head stays unknown.
        }
    }
    return heads;
}

} // namespace

std::optional<std::vector<std::uint32_t>> classifyRemembering(fs::FileSystem& fileSystem,
    const PathList& candidates, const std::vector<std::uint32_t>& candidateOf,
    const std::vector<fs::FileStamp>& stamps, Progress& progress,
    const ContentStageOptions& options, ComparisonMemory& memory)
{
    const std::size_t n = std::min(candidateOf.size(), stamps.size());
    std::vector<Proof> proofs(n);
    for (std::size_t f = 0; f < n; ++f)
        proofs[f] = memory.recall(stamps[f]);
    memory.releaseLoaded();
    std::vector<std::uint32_t> order(n);
    std::iota(order.begin(), order.end(), 0u);
    std::stable_sort(order.begin(), order.end(),
        [&](std::uint32_t a, std::uint32_t b) { return stamps[a].size < stamps[b].size; });

    // The file each file follows: itself when it is read, the file read for
    // its class remembered, kKept when its class remembered is not read, or
    // none (its size is not read).
    constexpr std::uint32_t kNone = kNoClass;
    constexpr std::uint32_t kKept = kNoClass - 1;
    std::vector<std::uint32_t> follows(n, kNone);
    std::vector<SizeRun> runs;
    // The unknown files of sizes whose classes remembered all come from one
    // comparison: their heads may spare those classes.
    std::vector<std::uint32_t> toHead;
    for (std::size_t begin = 0; begin < n;) {
        std::size_t end = begin + 1;
        while (end < n && stamps[order[end]].size == stamps[order[begin]].size)
            ++end;
        SizeRun run { begin, end, Reading::None };
        std::uint64_t comparison = 0;
        bool oneComparison = true;
        bool unknown = false;
        for (std::size_t k = begin; k < end; ++k) {
            const Proof& proof = proofs[order[k]];
            if (!proof.known()) {
                unknown = true;
                continue;
            }
            if (comparison != 0 && proof.comparison != comparison)
                oneComparison = false;
            comparison = proof.comparison;
        }
        if (unknown || !oneComparison)
            run.reading = Reading::Representatives;
        if (end - begin < 2)
            run.reading = Reading::All;
        if (run.reading == Reading::Representatives) {
            std::vector<std::pair<Proof, std::uint32_t>> known;
            for (std::size_t k = begin; k < end; ++k) {
                const std::uint32_t f = order[k];
                if (proofs[f].known())
                    known.emplace_back(proofs[f], f);
                else
                    follows[f] = f;
            }
            std::sort(known.begin(), known.end(), [](const auto& a, const auto& b) {
                return std::tie(a.first.comparison, a.first.cls, a.second)
                    < std::tie(b.first.comparison, b.first.cls, b.second);
            });
            for (std::size_t k = 0; k < known.size(); ++k) {
                const bool first = k == 0 || !known[k].first.sameClass(known[k - 1].first);
                follows[known[k].second] = first ? known[k].second : follows[known[k - 1].second];
            }
            if (unknown && oneComparison && comparison != 0) {
                for (std::size_t k = begin; k < end; ++k) {
                    if (!proofs[order[k]].known())
                        toHead.push_back(order[k]);
                }
            }
        }
        runs.push_back(run);
        begin = end;
    }

    // A class remembered is not read when its head differs from the head of
    // every unknown file of its size: they differ from it, and it differs
    // from the other classes of its comparison.
    std::vector<std::uint64_t> heads(n, 0);
    for (std::size_t f = 0; f < n; ++f)
        heads[f] = proofs[f].head;
    if (!toHead.empty()) {
        std::vector<std::string> paths;
        std::vector<fs::FileStamp> seen;
        for (const std::uint32_t f : toHead) {
            paths.emplace_back(candidates[candidateOf[f]]);
            seen.push_back(stamps[f]);
        }
        bool stopped = false;
        const auto found = aside<std::vector<std::uint64_t>>(
            progress,
            [&fileSystem, paths = std::move(paths), seen = std::move(seen)] {
                return readHeads(fileSystem, paths, seen);
            },
            stopped);
        if (stopped)
            return std::nullopt;
        if (found) {
            for (std::size_t k = 0; k < toHead.size(); ++k)
                heads[toHead[k]] = (*found)[k];
        }
        for (const SizeRun& run : runs) {
            if (run.reading != Reading::Representatives)
                continue;
            std::vector<std::uint64_t> unknownHeads;
            std::vector<std::pair<std::uint32_t, std::uint64_t>> classHeads; // rep, head
            bool everyHead = true;
            for (std::size_t k = run.begin; k < run.end; ++k) {
                const std::uint32_t f = order[k];
                if (!proofs[f].known()) {
                    everyHead = everyHead && heads[f] != 0;
                    unknownHeads.push_back(heads[f]);
                } else if (heads[f] != 0) {
                    classHeads.emplace_back(follows[f], heads[f]);
                }
            }
            if (!everyHead || unknownHeads.empty())
                continue;
            std::sort(unknownHeads.begin(), unknownHeads.end());
            std::sort(classHeads.begin(), classHeads.end());
            std::vector<std::uint32_t> spared;
            for (std::size_t k = 0; k < classHeads.size(); ++k) {
                if ((k == 0 || classHeads[k].first != classHeads[k - 1].first)
                    && !std::binary_search(
                        unknownHeads.begin(), unknownHeads.end(), classHeads[k].second))
                    spared.push_back(classHeads[k].first);
            }
            for (std::size_t k = run.begin; k < run.end; ++k) {
                const std::uint32_t f = order[k];
                if (proofs[f].known()
                    && std::binary_search(spared.begin(), spared.end(), follows[f]))
                    follows[f] = kKept;
            }
        }
    }

    // Reads the files that follow themselves in the runs that read.
    std::vector<std::uint32_t> classes(n, kNone);
    std::vector<bool> unread(n, false);
    const auto read = [&](Reading which) {
        PathList chosenPaths;
        std::vector<fs::FileStamp> chosenStamps;
        std::vector<std::uint32_t> chosen;
        for (const SizeRun& run : runs) {
            if (run.reading != which)
                continue;
            for (std::size_t k = run.begin; k < run.end; ++k) {
                const std::uint32_t f = order[k];
                if (which == Reading::All || follows[f] == f) {
                    chosen.push_back(f);
                    chosenPaths.append(candidates[candidateOf[f]]);
                    chosenStamps.push_back(stamps[f]);
                }
            }
        }
        if (chosen.empty())
            return true;
        ContentDetails details;
        const auto found = classifyByContent(fileSystem, std::move(chosenPaths),
            std::move(chosenStamps), progress, options, &details);
        if (!found)
            return false;
        for (std::size_t k = 0; k < chosen.size(); ++k) {
            classes[chosen[k]] = (*found)[k];
            unread[chosen[k]] = details.unread[k];
            if (details.heads[k] != 0)
                heads[chosen[k]] = details.heads[k];
        }
        return true;
    };
    if (!progress.step(Phase::Comparing, 0, 0) || !read(Reading::Representatives))
        return std::nullopt;
    // A file read for its class that could not be read leaves the others of
    // the class unknown: its size is read whole.
    bool again = false;
    for (SizeRun& run : runs) {
        if (run.reading != Reading::Representatives)
            continue;
        for (std::size_t k = run.begin; k < run.end; ++k) {
            const std::uint32_t f = order[k];
            if (follows[f] != f && follows[f] != kKept && unread[follows[f]]) {
                run.reading = Reading::All;
                again = true;
                break;
            }
        }
    }
    if (again && !read(Reading::All))
        return std::nullopt;

    // The classes of this comparison, numbered anew, and what it proved.
    // The sizes it did not read keep what memory holds of them, confirmed
    // now and then.
    const std::uint64_t comparison = ComparisonMemory::newComparison();
    const auto today = static_cast<std::uint32_t>(std::time(nullptr) / 86400);
    std::vector<std::uint32_t> result(n, kNone);
    std::uint32_t nextClass = 0;
    std::vector<std::pair<ClassKey, std::uint32_t>> keyed;
    for (const SizeRun& run : runs) {
        keyed.clear();
        for (std::size_t k = run.begin; k < run.end; ++k) {
            const std::uint32_t f = order[k];
            if (run.reading == Reading::None) {
                keyed.push_back({ { 0, proofs[f].cls }, f });
                if (proofs[f].day + ComparisonMemory::kConfirmedDays < today)
                    memory.learn(stamps[f], proofs[f]);
                continue;
            }
            if (run.reading == Reading::Representatives && follows[f] == kKept) {
                keyed.push_back({ { 0, proofs[f].cls }, f });
                continue;
            }
            const std::uint32_t source = run.reading == Reading::All ? f : follows[f];
            if (unread[source])
                continue;
            // The files of one class share their head.
            if (heads[f] == 0)
                heads[f] = heads[source];
            keyed.push_back({ classes[source] != kNone ? ClassKey { 1, classes[source] }
                                                       : ClassKey { 2, source },
                f });
        }
        std::sort(keyed.begin(), keyed.end());
        for (std::size_t k = 0; k < keyed.size();) {
            std::size_t end = k + 1;
            while (end < keyed.size() && keyed[end].first == keyed[k].first)
                ++end;
            const std::uint32_t cls = nextClass++;
            for (std::size_t m = k; m < end; ++m) {
                if (end - k > 1)
                    result[keyed[m].second] = cls;
                if (run.reading != Reading::None)
                    memory.learn(
                        stamps[keyed[m].second], { comparison, cls, 0, heads[keyed[m].second] });
            }
            k = end;
        }
    }
    return result;
}

// ---- The file ----------------------------------------------------------------

namespace {

constexpr char kMagic[8] = { 'Q', 'E', 'V', 'R', 'A', 'M', 'E', 'M' };
constexpr std::uint32_t kVersion = 2;

struct Header {
    char magic[8];
    std::uint32_t version;
    std::uint32_t entrySize;
    std::uint64_t count;
    std::uint64_t checksum;
};
static_assert(std::is_trivially_copyable_v<Header> && sizeof(Header) == 32);

// A journal record: a file the program deleted or moved away, as it was.
struct Gone {
    std::uint64_t device;
    std::uint64_t inode;
    std::int64_t size;
    std::int64_t modified;
    std::int64_t changed;
};
static_assert(std::is_trivially_copyable_v<Gone> && sizeof(Gone) == 40);
constexpr off_t kMostJournalBytes = 4 * 1024 * 1024;

using fs::Descriptor;

std::uint32_t today()
{
    return static_cast<std::uint32_t>(std::time(nullptr) / 86400);
}

// The folder, made (for the user alone) when `make`.
Descriptor openFolder(const std::string& folder, bool make)
{
    if (folder.empty() || folder[0] != '/')
        return Descriptor();
    if (make) {
        for (std::size_t slash = folder.find('/', 1);; slash = folder.find('/', slash + 1)) {
            const std::string part = folder.substr(0, slash);
            if (::mkdir(part.c_str(), 0700) != 0 && errno != EEXIST)
                return Descriptor();
            if (slash == std::string::npos)
                break;
        }
    }
    Descriptor dir(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    struct stat st { };
    if (!dir || ::fstat(dir.get(), &st) != 0 || st.st_uid != ::geteuid())
        return Descriptor();
    return dir;
}

// A regular file of the user's own in the folder, opened without following
// links or waiting; its size in `bytes`.
Descriptor openOwn(int dir, const char* name, int flags, off_t& bytes)
{
    Descriptor file(::openat(dir, name, flags | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK, 0600));
    struct stat st { };
    if (!file || ::fstat(file.get(), &st) != 0 || !S_ISREG(st.st_mode) || st.st_uid != ::geteuid())
        return Descriptor();
    bytes = st.st_size;
    return file;
}

bool readAll(int fd, void* into, std::size_t count, off_t at)
{
    char* bytes = static_cast<char*>(into);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t got = ::pread(fd, bytes + done, count - done, at + off_t(done));
        if (got < 0 && errno == EINTR)
            continue;
        if (got <= 0)
            return false;
        done += std::size_t(got);
    }
    return true;
}

bool writeAll(int fd, const void* from, std::size_t count, off_t at)
{
    const char* bytes = static_cast<const char*>(from);
    std::size_t done = 0;
    while (done < count) {
        const ssize_t put = ::pwrite(fd, bytes + done, count - done, at + off_t(done));
        if (put < 0 && errno == EINTR)
            continue;
        if (put <= 0)
            return false;
        done += std::size_t(put);
    }
    return true;
}

// The entries of the store file, or none when it is missing, damaged,
// truncated or not ours.
std::vector<Entry> readStore(int dir)
{
    off_t bytes = 0;
    const Descriptor file = openOwn(dir, ComparisonStore::kFileName, O_RDONLY, bytes);
    const auto most = off_t(sizeof(Header) + ComparisonStore::kMostEntries * sizeof(Entry));
    if (!file || bytes < off_t(sizeof(Header)) || bytes > most)
        return {};
    Header header {};
    if (!readAll(file.get(), &header, sizeof header, 0)
        || std::memcmp(header.magic, kMagic, sizeof kMagic) != 0 || header.version != kVersion
        || header.entrySize != sizeof(Entry) || header.count > ComparisonStore::kMostEntries
        || off_t(sizeof(Header) + header.count * sizeof(Entry)) != bytes)
        return {};
    std::vector<Entry> entries(header.count);
    if (!readAll(file.get(), entries.data(), entries.size() * sizeof(Entry), off_t(sizeof header))
        || XXH3_64bits(entries.data(), entries.size() * sizeof(Entry)) != header.checksum)
        return {};
    for (std::size_t k = 0; k < entries.size(); ++k) {
        if (entries[k].comparison == 0 || (k > 0 && !identityLess(entries[k - 1], entries[k])))
            return {};
    }
    return entries;
}

std::vector<Gone> readJournal(int fd, off_t bytes)
{
    if (bytes <= 0 || bytes > kMostJournalBytes)
        return {};
    std::vector<Gone> gone(std::size_t(bytes) / sizeof(Gone));
    if (!readAll(fd, gone.data(), gone.size() * sizeof(Gone), 0))
        return {};
    std::sort(gone.begin(), gone.end(), [](const Gone& a, const Gone& b) {
        return std::tie(a.device, a.inode) < std::tie(b.device, b.inode);
    });
    return gone;
}

bool isGone(const std::vector<Gone>& gone, const Entry& entry)
{
    const auto found
        = std::lower_bound(gone.begin(), gone.end(), entry, [](const Gone& g, const Entry& e) {
              return std::tie(g.device, g.inode) < std::tie(e.device, e.inode);
          });
    for (auto it = found;
         it != gone.end() && it->device == entry.device && it->inode == entry.inode; ++it) {
        if (it->size == entry.size && it->modified == entry.modified
            && it->changed == entry.changed)
            return true;
    }
    return false;
}

// Leftovers of a save that never ended (the lock is held: none is in use).
void removeLeftovers(int dir)
{
    const int copy = ::dup(dir);
    if (copy < 0)
        return;
    DIR* listing = ::fdopendir(copy);
    if (!listing) {
        ::close(copy);
        return;
    }
    std::vector<std::string> names;
    while (const dirent* entry = ::readdir(listing)) {
        if (std::strncmp(entry->d_name, "comparisons.new-", 16) == 0)
            names.emplace_back(entry->d_name);
    }
    ::closedir(listing);
    for (const std::string& name : names)
        ::unlinkat(dir, name.c_str(), 0);
}

} // namespace

ComparisonStore::ComparisonStore(std::string folder)
    : folder_(std::move(folder))
{
}

std::optional<std::string> ComparisonStore::folderForSearches()
{
    if (const char* off = std::getenv("QEVRA_NO_CACHE"); off && *off)
        return std::nullopt;
    return defaultFolder();
}

std::optional<std::string> ComparisonStore::defaultFolder()
{
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache && cache[0] == '/')
        return std::string(cache) + "/qevra";
    std::string home;
    if (const char* fromEnvironment = std::getenv("HOME");
        fromEnvironment && fromEnvironment[0] == '/')
        home = fromEnvironment;
    else if (const passwd* user = ::getpwuid(::geteuid());
             user && user->pw_dir && user->pw_dir[0] == '/')
        home = user->pw_dir;
    if (home.empty())
        return std::nullopt;
    return home + "/.cache/qevra";
}

ComparisonMemory ComparisonStore::load() const
{
    const Descriptor dir = openFolder(folder_, false);
    if (!dir)
        return {};
    return ComparisonMemory(readStore(dir.get()));
}

bool ComparisonStore::save(ComparisonMemory memory, std::uint32_t day) const
{
    if (day == 0)
        day = today();
    std::vector<Entry> learned = memory.takeLearned();
    for (Entry& entry : learned)
        entry.day = day;
    // The last word on a file is the one that counts.
    std::stable_sort(learned.begin(), learned.end(), identityLess);
    std::size_t kept = 0;
    for (std::size_t k = 0; k < learned.size(); ++k) {
        if (k + 1 < learned.size() && !identityLess(learned[k], learned[k + 1]))
            continue;
        learned[kept++] = learned[k];
    }
    learned.resize(kept);

    const Descriptor dir = openFolder(folder_, true);
    if (!dir)
        return false;
    off_t ignored = 0;
    const Descriptor lock = openOwn(dir.get(), kLockName, O_RDWR | O_CREAT, ignored);
    if (!lock || ::flock(lock.get(), LOCK_EX) != 0)
        return false;
    removeLeftovers(dir.get());

    // What the file holds now (another program may have saved since this
    // one loaded), what was learned, less what went and what was proved
    // too long ago, merged in the order of identities.
    const std::vector<Entry> now = readStore(dir.get());
    off_t journalBytes = 0;
    const Descriptor journal = openOwn(dir.get(), kJournalName, O_RDWR | O_CREAT, journalBytes);
    const std::vector<Gone> gone
        = journal ? readJournal(journal.get(), journalBytes) : std::vector<Gone>();
    const auto ageOf = [&](const Entry& entry) { return entry.day >= day ? 0u : day - entry.day; };
    const auto merge = [&](std::uint32_t oldestAge, auto&& sink) {
        const auto keep = [&](const Entry& entry) {
            if (ageOf(entry) <= oldestAge && !isGone(gone, entry))
                sink(entry);
        };
        std::size_t a = 0;
        std::size_t b = 0;
        while (a < now.size() || b < learned.size()) {
            if (b == learned.size() || (a < now.size() && identityLess(now[a], learned[b]))) {
                keep(now[a++]);
                continue;
            }
            if (a < now.size() && !identityLess(learned[b], now[a]))
                ++a; // proved anew
            keep(learned[b++]);
        }
    };
    // Beyond its size, the entries proved longest ago go first.
    std::vector<std::uint64_t> byAge(kKeptDays + 1, 0);
    merge(kKeptDays, [&](const Entry& entry) { ++byAge[ageOf(entry)]; });
    std::uint32_t oldestAge = 0;
    std::uint64_t count = 0;
    for (; oldestAge <= kKeptDays && count + byAge[oldestAge] <= kMostEntries; ++oldestAge)
        count += byAge[oldestAge];
    if (oldestAge == 0)
        return false;
    --oldestAge;

    const std::string name = std::string("comparisons.new-").append(std::to_string(::getpid()));
    bool written = false;
    {
        const Descriptor file(::openat(
            dir.get(), name.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file) {
            XXH3_state_t* state = XXH3_createState();
            written = state != nullptr && XXH3_64bits_reset(state) == XXH_OK;
            std::vector<Entry> buffer;
            buffer.reserve(4096);
            off_t at = sizeof(Header);
            const auto flush = [&] {
                written = written
                    && XXH3_64bits_update(state, buffer.data(), buffer.size() * sizeof(Entry))
                        == XXH_OK
                    && writeAll(file.get(), buffer.data(), buffer.size() * sizeof(Entry), at);
                at += off_t(buffer.size() * sizeof(Entry));
                buffer.clear();
            };
            merge(oldestAge, [&](const Entry& entry) {
                buffer.push_back(entry);
                if (buffer.size() == buffer.capacity())
                    flush();
            });
            flush();
            Header header {};
            std::memcpy(header.magic, kMagic, sizeof kMagic);
            header.version = kVersion;
            header.entrySize = sizeof(Entry);
            header.count = count;
            if (written)
                header.checksum = XXH3_64bits_digest(state);
            XXH3_freeState(state);
            written = written && writeAll(file.get(), &header, sizeof header, 0);
        }
    }
    if (!written || ::renameat(dir.get(), name.c_str(), dir.get(), kFileName) != 0) {
        ::unlinkat(dir.get(), name.c_str(), 0);
        return false;
    }
    return !journal || journalBytes == 0 || ::ftruncate(journal.get(), 0) == 0;
}

bool ComparisonStore::forget(const std::vector<fs::FileStamp>& goneFiles) const
{
    std::vector<Gone> records;
    for (const fs::FileStamp& stamp : goneFiles) {
        if (rememberable(stamp))
            records.push_back(
                { stamp.device, stamp.inode, stamp.size, stamp.modified, stamp.changed });
    }
    if (records.empty())
        return true;
    const Descriptor dir = openFolder(folder_, false);
    if (!dir)
        return true; // nothing is remembered
    off_t bytes = 0;
    const Descriptor journal
        = openOwn(dir.get(), kJournalName, O_WRONLY | O_APPEND | O_CREAT, bytes);
    if (!journal)
        return false;
    // Past its bound the journal takes no more: what it leaves out is
    // unknown anyway once the file changes, and only costs room.
    if (bytes + off_t(records.size() * sizeof(Gone)) > kMostJournalBytes)
        return false;
    const ssize_t put = ::write(journal.get(), records.data(), records.size() * sizeof(Gone));
    return put == ssize_t(records.size() * sizeof(Gone));
}

bool ComparisonStore::clear() const
{
    const Descriptor dir = openFolder(folder_, false);
    if (!dir)
        return true;
    off_t ignored = 0;
    const Descriptor lock = openOwn(dir.get(), kLockName, O_RDWR | O_CREAT, ignored);
    if (!lock || ::flock(lock.get(), LOCK_EX) != 0)
        return false;
    removeLeftovers(dir.get());
    bool cleared = true;
    for (const char* name : { kFileName, kJournalName }) {
        if (::unlinkat(dir.get(), name, 0) != 0 && errno != ENOENT)
            cleared = false;
    }
    return cleared;
}

} // namespace qevra::search
