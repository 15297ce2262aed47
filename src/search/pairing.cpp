// Pairing by name, and the pairer of equal keys (sizes, content classes).
#include "search/pairing.h"

#include "search/comparison_memory.h"

#include "search/content_stage.h"
#include "search/work_ahead.h"

#include <xxhash.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <random>
#include <string_view>
#include <tuple>

namespace qevra::search {

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();

// A candidate and the hash of the bytes it is grouped by.
struct Keyed {
    std::uint64_t hash;
    std::uint32_t index;
};

// The places of one path among the candidates of one bare name (at their
// positions in `members`) share the stamp of its first, so that they are
// one file.
void sharePathStamps(const PathList& candidates, const std::vector<std::uint32_t>& members,
    std::uint32_t begin, std::uint32_t end, StampList& stamps)
{
    std::vector<std::uint32_t> order(end - begin);
    std::iota(order.begin(), order.end(), begin);
    std::sort(order.begin(), order.end(), [&](std::uint32_t a, std::uint32_t b) {
        const int byPath = candidates[members[a]].compare(candidates[members[b]]);
        return byPath != 0 ? byPath < 0 : a < b;
    });
    for (std::size_t k = 1; k < order.size(); ++k) {
        if (candidates[members[order[k]]] == candidates[members[order[k - 1]]])
            stamps[members[order[k]]] = stamps[members[order[k - 1]]];
    }
}

} // namespace

Identify identifyWith(fs::FileSystem& fileSystem)
{
    return [&fileSystem](std::span<const std::string_view> paths, std::span<fs::FileStamp> found) {
        fileSystem.examineEach(paths, fs::Resolve::NoFinalLink, found);
    };
}

bool pairByName(const PathList& candidates, const Identify& identify, PairGroups& pairs,
    StampList& stamps, const std::function<bool(std::size_t)>& atOuter, unsigned threads,
    const std::function<bool()>& whileWaiting, NameHash hash)
{
    const std::size_t count = candidates.size();
    stamps.assign(count, fs::FileStamp());
    const auto nameOf = [&](std::uint32_t i) { return fs::bareName(candidates[i]); };

    // Namesakes become neighbours when sorted by (name hash, name, index);
    // the name bytes keep two names of one hash apart.
    std::vector<Keyed> keyed(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string_view name = nameOf(i);
        keyed[i] = { hash ? hash(name) : XXH3_64bits(name.data(), name.size()), i };
    }
    // Sorted by hash and index alone (no name is read while sorting); the
    // names of one hash are compared once below, and split apart by name in
    // the rare run where two names share a hash.
    std::sort(keyed.begin(), keyed.end(), [](const Keyed& a, const Keyed& b) {
        return a.hash != b.hash ? a.hash < b.hash : a.index < b.index;
    });

    // The end of the run of one hash that starts at `begin`.
    const auto hashRunEnd = [&](std::size_t begin) {
        std::size_t end = begin + 1;
        while (end < count && keyed[end].hash == keyed[begin].hash)
            ++end;
        return end;
    };

    // Candidates whose name's hash recurs (every candidate whose name
    // recurs, and the rare one that only shares a hash) are identified in
    // candidate order, so that a directory's files come together, on worker
    // threads that start now, while the names are grouped, and run ahead of
    // the outer steps as far as they can (the name pass has no Stop).
    std::vector<std::uint32_t> toIdentify;
    if (identify) {
        std::vector<bool> recurs(count, false);
        for (std::size_t begin = 0; begin < count;) {
            const std::size_t end = hashRunEnd(begin);
            if (end - begin > 1) {
                for (std::size_t k = begin; k < end; ++k)
                    recurs[keyed[k].index] = true;
            }
            begin = end;
        }
        for (std::uint32_t i = 0; i < count; ++i) {
            if (recurs[i])
                toIdentify.push_back(i);
        }
    }
    // Workers that outlast the pass (ahead on names that turn out not to
    // recur) keep their own copy of `identify`.
    const auto identifying = std::make_shared<const Identify>(identify);
    WorkAhead ahead(
        toIdentify.size(), threads,
        [&](std::size_t begin, std::size_t end) -> WorkAhead::Slow {
            // The slow part works on copies of the paths, so that nothing
            // waits for a file system that does not answer.
            auto paths = std::make_shared<std::vector<std::string>>();
            paths->reserve(end - begin);
            for (std::size_t k = begin; k < end; ++k)
                paths->emplace_back(candidates[toIdentify[k]]);
            return [identifying, &stamps, &toIdentify, paths, begin]() -> WorkAhead::Commit {
                const std::vector<std::string_view> views(paths->begin(), paths->end());
                auto found = std::make_shared<std::vector<fs::FileStamp>>(views.size());
                (*identifying)(views, *found);
                return [&stamps, &toIdentify, found, begin] {
                    for (std::size_t k = 0; k < found->size(); ++k)
                        stamps[toIdentify[begin + k]] = (*found)[k];
                };
            };
        },
        WorkAhead::kAsFarAsItCan);

    // Only names that two or more candidates share can pair. Those
    // candidates go to `members`, group after group, ascending within each.
    std::vector<std::uint32_t> positionOf(count, kNoPosition);
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> groupOf; // by position in `members`
    std::vector<std::uint32_t> groupStarts;
    const auto addGroup = [&](std::size_t begin, std::size_t end) {
        if (end - begin < 2)
            return;
        const auto group = static_cast<std::uint32_t>(groupStarts.size());
        groupStarts.push_back(static_cast<std::uint32_t>(members.size()));
        for (std::size_t k = begin; k < end; ++k) {
            positionOf[keyed[k].index] = static_cast<std::uint32_t>(members.size());
            members.push_back(keyed[k].index);
            groupOf.push_back(group);
        }
    };
    for (std::size_t begin = 0; begin < count;) {
        const std::size_t end = hashRunEnd(begin);
        const std::string_view first = nameOf(keyed[begin].index);
        bool oneName = true;
        for (std::size_t k = begin + 1; k < end && oneName; ++k)
            oneName = nameOf(keyed[k].index) == first;
        if (oneName) {
            addGroup(begin, end);
        } else {
            std::stable_sort(keyed.begin() + std::ptrdiff_t(begin),
                keyed.begin() + std::ptrdiff_t(end),
                [&](const Keyed& a, const Keyed& b) { return nameOf(a.index) < nameOf(b.index); });
            for (std::size_t from = begin; from < end;) {
                std::size_t to = from + 1;
                while (to < end && nameOf(keyed[to].index) == nameOf(keyed[from].index))
                    ++to;
                addGroup(from, to);
                from = to;
            }
        }
        begin = end;
    }
    groupStarts.push_back(static_cast<std::uint32_t>(members.size()));
    std::vector<Keyed>().swap(keyed);

    // A group is split into files when its first candidate's turn comes,
    // once its last member (the highest candidate) is identified.
    const std::size_t groups = groupStarts.size() - 1;
    std::vector<std::size_t> identifiedBy(groups, 0);
    if (identify) {
        for (std::size_t g = 0; g < groups; ++g) {
            const std::uint32_t last = members[groupStarts[g + 1] - 1];
            identifiedBy[g]
                = std::size_t(std::lower_bound(toIdentify.begin(), toIdentify.end(), last)
                    - toIdentify.begin() + 1);
        }
    }
    std::size_t identified = 0; // the identifications waited for
    std::vector<bool> classified(groups, false);
    // The rows are those of the outer steps taken. A group is split into
    // files only once its stamps are in: when the pass stops, the groups
    // whose turn has not come (no outer step reached them, so they have no
    // rows yet) are left out, as the workers may still be writing theirs.
    const auto made = [&](std::uint64_t outerLimit) {
        std::vector<std::uint32_t>().swap(positionOf);
        std::vector<std::uint32_t>().swap(groupOf);
        if (outerLimit < count) {
            std::vector<std::uint32_t> taken;
            std::vector<std::uint32_t> starts;
            for (std::size_t g = 0; g < groups; ++g) {
                if (!classified[g])
                    continue;
                starts.push_back(std::uint32_t(taken.size()));
                taken.insert(taken.end(), members.begin() + groupStarts[g],
                    members.begin() + groupStarts[g + 1]);
            }
            starts.push_back(std::uint32_t(taken.size()));
            members.swap(taken);
            groupStarts.swap(starts);
        }
        pairs = PairGroups::make(PartnerOrder::Both, std::move(members), std::move(groupStarts),
            candidates, stamps, outerLimit);
    };
    for (std::uint32_t i = 0; i < count; ++i) {
        if (atOuter && !atOuter(i)) {
            made(i);
            return false;
        }
        const std::uint32_t at = positionOf[i];
        if (at == kNoPosition)
            continue;
        const std::uint32_t group = groupOf[at];
        if (classified[group])
            continue;
        if (identifiedBy[group] > identified) {
            identified = identifiedBy[group];
            if (!ahead.waitFor(identified - 1, [&] { return !whileWaiting || whileWaiting(); })) {
                made(i);
                return false;
            }
        }
        sharePathStamps(candidates, members, groupStarts[group], groupStarts[group + 1], stamps);
        classified[group] = true;
    }
    made(UINT64_MAX);
    return true;
}

void KeyPairer::add(std::uint32_t index, std::uint64_t key)
{
    if (index >= next_.size())
        next_.resize(std::max<std::size_t>(index + 1, next_.size() * 2), kNone);
    next_[index] = kNone;
    Slot& slot = slotFor(key);
    if (slot.first == kNone) {
        slot.first = slot.last = index;
        return;
    }
    next_[slot.last] = index;
    slot.last = index;
}

PairGroups KeyPairer::pairs(const PathList& candidates, const StampList& stamps) const
{
    // Each key's chain, in the table's order: the rows are ordered by
    // candidate, whatever the groups' order.
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> starts;
    for (const Slot& slot : slots_) {
        if (slot.first == kNone || slot.first == slot.last)
            continue;
        starts.push_back(std::uint32_t(members.size()));
        for (std::uint32_t c = slot.first; c != kNone; c = next_[c])
            members.push_back(c);
    }
    starts.push_back(std::uint32_t(members.size()));
    return PairGroups::make(
        PartnerOrder::Earlier, std::move(members), std::move(starts), candidates, stamps);
}

void KeyPairer::clear()
{
    std::vector<Slot>().swap(slots_);
    std::vector<std::uint32_t>().swap(next_);
    used_ = 0;
}

KeyPairer::KeyPairer()
{
    try {
        std::random_device random;
        seed_ = (std::uint64_t(random()) << 32) ^ random();
    } catch (...) {
        // No source of randomness: the time and the place of this object.
        seed_ = std::uint64_t(std::chrono::steady_clock::now().time_since_epoch().count())
            ^ std::uint64_t(reinterpret_cast<std::uintptr_t>(this));
    }
}

std::size_t KeyPairer::placeOf(std::uint64_t key) const
{
    return std::size_t(XXH3_64bits_withSeed(&key, sizeof key, seed_)) & (slots_.size() - 1);
}

KeyPairer::Slot& KeyPairer::slotFor(std::uint64_t key)
{
    // Kept at most 70% full, so probes stay short.
    if ((used_ + 1) * 10 > slots_.size() * 7)
        grow();
    const std::size_t mask = slots_.size() - 1;
    for (std::size_t at = placeOf(key);; at = (at + 1) & mask) {
        ++probes_;
        Slot& slot = slots_[at];
        if (slot.first == kNone) {
            slot.key = key;
            ++used_;
            return slot;
        }
        if (slot.key == key)
            return slot;
    }
}

void KeyPairer::grow()
{
    std::vector<Slot> old(std::max<std::size_t>(1024, slots_.size() * 2));
    old.swap(slots_);
    const std::size_t mask = slots_.size() - 1;
    for (const Slot& slot : old) {
        if (slot.first == kNone)
            continue;
        std::size_t at = placeOf(slot.key);
        while (slots_[at].first != kNone)
            at = (at + 1) & mask;
        slots_[at] = slot;
    }
}

std::optional<PairGroups> pairByContent(fs::FileSystem& fileSystem, const PathList& candidates,
    const StampList& stamps, Progress& progress, const ContentStageOptions& options)
{
    // One file per identity, at the path of its first candidate; only
    // files that share their size with another file are compared.
    // Candidates left unmeasured take no part. The keys are taken once,
    // side by side, so that sorting them reads no stamp.
    const std::size_t count = std::min(candidates.size(), stamps.size());
    struct Keyed {
        std::int64_t size;
        std::uint64_t device;
        std::uint64_t inode;
        std::uint32_t candidate;
        bool sameFile(const Keyed& other) const
        {
            return size == other.size && device == other.device && inode == other.inode;
        }
    };
    std::vector<Keyed> order;
    for (std::uint32_t c = 0; c < count; ++c) {
        const fs::FileStamp& stamp = stamps[c];
        if (stamp.known())
            order.push_back({ stamp.size, stamp.device, stamp.inode, c });
    }
    std::sort(order.begin(), order.end(), [](const Keyed& a, const Keyed& b) {
        return std::tie(a.size, a.device, a.inode, a.candidate)
            < std::tie(b.size, b.device, b.inode, b.candidate);
    });
    // The runs of one size that hold two files or more, and the bytes the
    // stage will compare; the events get a look before and after the paths
    // are copied.
    const std::size_t measured = order.size();
    const auto runEnd = [&](std::size_t begin, std::size_t& files) {
        std::size_t end = begin + 1;
        files = 1;
        for (; end < measured && order[end].size == order[begin].size; ++end)
            files += order[end].sameFile(order[end - 1]) ? 0 : 1;
        return end;
    };
    std::uint64_t planned = 0;
    for (std::size_t begin = 0, files = 0; begin < measured;) {
        const std::size_t end = runEnd(begin, files);
        if (files > 1)
            planned += std::uint64_t(std::max<std::int64_t>(order[begin].size, 0)) * files;
        begin = end;
    }
    if (!progress.step(Phase::Comparing, 0, planned))
        return std::nullopt;
    std::vector<std::uint32_t> fileOf(count, kNoClass);
    // The stage takes its own copy of the paths; with memory, most files
    // are never read, and only the ones read are copied.
    PathList paths;
    std::vector<std::uint32_t> candidateOf;
    std::vector<fs::FileStamp> fileStamps;
    for (std::size_t begin = 0, files = 0; begin < measured;) {
        const std::size_t end = runEnd(begin, files);
        if (files > 1) {
            for (std::size_t k = begin; k < end; ++k) {
                if (k == begin || !order[k].sameFile(order[k - 1])) {
                    if (options.memory)
                        candidateOf.push_back(order[k].candidate);
                    else
                        paths.append(candidates[order[k].candidate]);
                    fileStamps.push_back(stamps[order[k].candidate]);
                }
                fileOf[order[k].candidate] = static_cast<std::uint32_t>(fileStamps.size() - 1);
            }
        }
        begin = end;
    }
    std::vector<Keyed>().swap(order);
    if (!progress.step(Phase::Comparing, 0, planned))
        return std::nullopt;

    const auto classes = options.memory
        ? classifyRemembering(
            fileSystem, candidates, candidateOf, fileStamps, progress, options, *options.memory)
        : classifyByContent(fileSystem, std::move(paths), std::move(fileStamps), progress, options);
    if (!classes)
        return std::nullopt;
    KeyPairer pairer;
    for (std::uint32_t c = 0; c < count; ++c) {
        if (fileOf[c] == kNoClass || (*classes)[fileOf[c]] == kNoClass)
            continue;
        pairer.add(c, (*classes)[fileOf[c]]);
    }
    return pairer.pairs(candidates, stamps);
}

} // namespace qevra::search
