// The rows of a search computed from its groups, and the removal of a
// column's files worked out per group.
#include "search/pair_groups.h"

#include <xxhash.h>

#include <algorithm>
#include <array>
#include <numeric>
#include <tuple>

namespace qevra::search {

namespace {

constexpr std::uint32_t kNone = UINT32_MAX;

// Union-find over the positions of one group.
class Joined {
public:
    explicit Joined(std::size_t n = 0) { reset(n); }
    // Every place on its own again, keeping the memory.
    void reset(std::size_t n)
    {
        parent_.resize(n);
        std::iota(parent_.begin(), parent_.end(), 0u);
    }
    std::uint32_t root(std::uint32_t at)
    {
        while (parent_[at] != at) {
            parent_[at] = parent_[parent_[at]];
            at = parent_[at];
        }
        return at;
    }
    void join(std::uint32_t a, std::uint32_t b)
    {
        a = root(a);
        b = root(b);
        if (a != b)
            parent_[std::max(a, b)] = std::min(a, b);
    }

private:
    std::vector<std::uint32_t> parent_;
};

// Counts of flagged places, by prefix (a Fenwick tree).
class Counts {
public:
    explicit Counts(std::size_t n)
        : tree_(n + 1, 0)
    {
        // Every place flagged: each node holds the length of its span.
        for (std::size_t i = 1; i <= n; ++i)
            tree_[i] = std::uint32_t(i & (~i + 1));
    }
    // Flagged places below `end`.
    std::uint64_t below(std::size_t end) const
    {
        std::uint64_t sum = 0;
        for (; end > 0; end &= end - 1)
            sum += tree_[end];
        return sum;
    }
    void unflag(std::size_t at)
    {
        for (++at; at < tree_.size(); at += at & (~at + 1))
            --tree_[at];
    }

private:
    std::vector<std::uint32_t> tree_;
};

} // namespace

// The working lists of classify, kept from one group to the next.
struct PairGroups::Scratch {
    Joined joined;
    std::vector<std::pair<std::uint64_t, std::uint32_t>> hashed;
    std::vector<std::uint32_t> order;
    std::vector<std::uint32_t> rootOf;
};

PairGroups PairGroups::make(PartnerOrder order, std::vector<std::uint32_t> members,
    std::vector<std::uint32_t> starts, const PathList& candidates, const StampList& stamps,
    std::uint64_t outerLimit)
{
    PairGroups made;
    made.order_ = order;
    made.members_ = std::move(members);
    made.starts_ = std::move(starts);
    if (made.starts_.empty())
        made.starts_.push_back(0);
    const std::size_t positions = made.members_.size();
    const std::size_t groups = made.groups();
    made.exclusionOf_.assign(positions, kSelf);
    made.wholeGroup_.assign(groups, true);
    // Each place's group, while the rows are counted.
    std::vector<std::uint32_t> groupOf(positions);
    {
        Scratch scratch;
        for (std::uint32_t g = 0; g < groups; ++g) {
            for (std::uint32_t at = made.starts_[g]; at < made.starts_[g + 1]; ++at) {
                groupOf[at] = g;
                if (made.members_[at] >= outerLimit)
                    made.wholeGroup_[g] = false;
            }
            made.classify(g, candidates, stamps, scratch);
        }
    }

    // The outers in candidate order: each candidate is in one group at most.
    std::vector<std::uint32_t> positionOf(candidates.size(), kNone);
    for (std::uint32_t at = 0; at < positions; ++at) {
        if (made.members_[at] < positionOf.size())
            positionOf[made.members_[at]] = at;
    }
    // Counted first, so that the lists take no more than they hold.
    const auto hasRows = [&](std::uint32_t at) {
        return at != kNone && made.members_[at] < outerLimit && made.rowsOf(at, groupOf[at]) > 0;
    };
    const auto outers = std::size_t(std::count_if(positionOf.begin(), positionOf.end(), hasRows));
    made.outers_.reserve(outers);
    made.rowsBefore_.reserve(outers + 1);
    made.rowsBefore_.push_back(0);
    for (const std::uint32_t at : positionOf) {
        if (!hasRows(at))
            continue;
        made.outers_.push_back(at);
        made.rowsBefore_.push_back(made.rowsBefore_.back() + made.rowsOf(at, groupOf[at]));
    }
    return made;
}

void PairGroups::classify(
    std::uint32_t g, const PathList& candidates, const StampList& stamps, Scratch& scratch)
{
    const std::uint32_t begin = starts_[g];
    const std::uint32_t n = starts_[g + 1] - begin;
    if (n < 2)
        return;
    const auto candidateAt = [&](std::uint32_t local) { return members_[begin + local]; };
    static const fs::FileStamp unknown;
    const auto stampAt = [&](std::uint32_t local) -> const fs::FileStamp& {
        const std::uint32_t c = candidateAt(local);
        return c < stamps.size() ? stamps[c] : unknown;
    };
    // Possibly one file: one path, or stamps that say so.
    const auto sameFile = [&](std::uint32_t a, std::uint32_t b) {
        return candidates[candidateAt(a)] == candidates[candidateAt(b)]
            || stampAt(a).possiblySame(stampAt(b));
    };

    // Two files (most groups): one class, or two of one file each.
    if (n == 2) {
        if (sameFile(0, 1))
            addClass(begin, std::array<std::uint32_t, 2> { 0, 1 });
        return;
    }

    Joined& joined = scratch.joined;
    joined.reset(n);
    std::vector<std::uint32_t>& order = scratch.order;
    // One path, found through the hash of its bytes.
    {
        auto& hashed = scratch.hashed;
        hashed.resize(n);
        for (std::uint32_t k = 0; k < n; ++k) {
            const std::string_view path = candidates[candidateAt(k)];
            hashed[k] = { XXH3_64bits(path.data(), path.size()), k };
        }
        std::sort(hashed.begin(), hashed.end());
        for (std::uint32_t run = 0; run < n;) {
            std::uint32_t end = run + 1;
            while (end < n && hashed[end].first == hashed[run].first)
                ++end;
            for (std::uint32_t k = run + 1; k < end; ++k) {
                for (std::uint32_t j = run; j < k; ++j) {
                    if (candidates[candidateAt(hashed[j].second)]
                        == candidates[candidateAt(hashed[k].second)]) {
                        joined.join(hashed[j].second, hashed[k].second);
                        break;
                    }
                }
            }
            run = end;
        }
    }
    // One identity; and where a member lies on a file system that can show
    // another's file, one inode number, size and modification time.
    order.clear();
    bool aliased = false;
    for (std::uint32_t k = 0; k < n; ++k) {
        if (stampAt(k).known()) {
            order.push_back(k);
            aliased = aliased || stampAt(k).aliased;
        }
    }
    const auto joinRuns = [&](auto key) {
        std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return key(a) < key(b); });
        for (std::size_t k = 1; k < order.size(); ++k) {
            if (key(order[k]) == key(order[k - 1]))
                joined.join(order[k], order[k - 1]);
        }
    };
    joinRuns([&](std::uint32_t k) { return std::tuple(stampAt(k).device, stampAt(k).inode); });
    if (aliased) {
        // A run holding an aliased member is one class: every member of
        // the run is possibly that member's file.
        const auto view = [&](std::uint32_t k) {
            const fs::FileStamp& s = stampAt(k);
            return std::tuple(s.inode, s.size, s.modified);
        };
        std::sort(order.begin(), order.end(),
            [&](std::uint32_t a, std::uint32_t b) { return view(a) < view(b); });
        for (std::size_t run = 0; run < order.size();) {
            std::size_t end = run + 1;
            bool any = stampAt(order[run]).aliased;
            for (; end < order.size() && view(order[end]) == view(order[run]); ++end)
                any = any || stampAt(order[end]).aliased;
            if (any) {
                for (std::size_t k = run + 1; k < end; ++k)
                    joined.join(order[k], order[run]);
            }
            run = end;
        }
    }

    // The classes, each ascending; a class of one excludes only itself.
    order.resize(n);
    std::iota(order.begin(), order.end(), 0u);
    std::vector<std::uint32_t>& rootOf = scratch.rootOf;
    rootOf.resize(n);
    for (std::uint32_t k = 0; k < n; ++k)
        rootOf[k] = joined.root(k);
    std::stable_sort(order.begin(), order.end(),
        [&](std::uint32_t a, std::uint32_t b) { return rootOf[a] < rootOf[b]; });
    for (std::uint32_t run = 0; run < n;) {
        std::uint32_t end = run + 1;
        while (end < n && rootOf[order[end]] == rootOf[order[run]])
            ++end;
        if (end - run > 1) {
            const std::span<const std::uint32_t> cls(order.data() + run, end - run);
            // Usually every two members of a class are possibly one file
            // (one identity, or one file and its views): then the class is
            // what each member never pairs with.
            bool allPairs = std::all_of(cls.begin(), cls.end(), [&](std::uint32_t k) {
                return stampAt(k).known() && stampAt(k).device == stampAt(cls[0]).device
                    && stampAt(k).inode == stampAt(cls[0]).inode;
            });
            for (std::size_t a = 0; !allPairs && a < cls.size(); ++a) {
                bool all = true;
                for (std::size_t b = 0; all && b < a; ++b)
                    all = sameFile(cls[a], cls[b]);
                if (!all)
                    break;
                allPairs = a + 1 == cls.size();
            }
            if (allPairs) {
                addClass(begin, cls);
            } else {
                // A chain of views where the ends are different files: each
                // member lists what it never pairs with.
                wholeGroup_[g] = false;
                for (const std::uint32_t k : cls) {
                    exclusionOf_[begin + k] = std::uint32_t(exclusions_.size());
                    const auto first = std::uint32_t(excludedPositions_.size());
                    for (const std::uint32_t j : cls) {
                        if (j == k || sameFile(j, k))
                            excludedPositions_.push_back(begin + j);
                    }
                    exclusions_.push_back(
                        { first, std::uint32_t(excludedPositions_.size()) - first, false });
                }
            }
        }
        run = end;
    }
}

void PairGroups::addClass(std::uint32_t begin, std::span<const std::uint32_t> cls)
{
    const auto entry = std::uint32_t(exclusions_.size());
    exclusions_.push_back(
        { std::uint32_t(excludedPositions_.size()), std::uint32_t(cls.size()), true });
    for (const std::uint32_t k : cls) {
        excludedPositions_.push_back(begin + k);
        exclusionOf_[begin + k] = entry;
    }
}

std::uint32_t PairGroups::groupAt(std::uint32_t at) const
{
    return std::uint32_t(std::upper_bound(starts_.begin(), starts_.end(), at) - starts_.begin())
        - 1;
}

std::span<const std::uint32_t> PairGroups::excluded(std::uint32_t& self, std::uint32_t at) const
{
    const std::uint32_t entry = exclusionOf_[at];
    if (entry == kSelf) {
        self = at;
        return {};
    }
    self = kNone;
    const Exclusion& e = exclusions_[entry];
    return { excludedPositions_.data() + e.begin, e.size };
}

std::uint64_t PairGroups::rowsOf(std::uint32_t at, std::uint32_t g) const
{
    const std::uint32_t begin = starts_[g];
    const std::uint32_t limit = order_ == PartnerOrder::Both ? starts_[g + 1] : at;
    std::uint32_t self = kNone;
    const auto list = excluded(self, at);
    const std::uint64_t within = limit - begin;
    if (self != kNone)
        return within - (self < limit ? 1 : 0);
    return within - std::uint64_t(std::lower_bound(list.begin(), list.end(), limit) - list.begin());
}

std::uint32_t PairGroups::partner(std::uint32_t at, std::uint64_t rank) const
{
    const std::uint32_t begin = starts_[groupAt(at)];
    std::uint32_t self = kNone;
    const auto list = excluded(self, at);
    if (self != kNone)
        return std::uint32_t(begin + rank + (begin + rank >= self ? 1 : 0));
    // The excluded places before the answer: those whose place, less the
    // excluded ones before them, is within the rank.
    std::size_t low = 0;
    std::size_t high = list.size();
    while (low < high) {
        const std::size_t mid = (low + high) / 2;
        if (list[mid] - begin - mid <= rank)
            low = mid + 1;
        else
            high = mid;
    }
    return std::uint32_t(begin + rank + low);
}

Row PairGroups::row(std::uint64_t r) const
{
    const auto after = std::upper_bound(rowsBefore_.begin(), rowsBefore_.end(), r);
    const auto k = std::size_t(after - rowsBefore_.begin()) - 1;
    const std::uint32_t at = outers_[k];
    return { members_[partner(at, r - rowsBefore_[k])], members_[at] };
}

std::vector<Row> PairGroups::listed() const
{
    std::vector<Row> out;
    out.reserve(rows());
    for (std::size_t k = 0; k < outers_.size(); ++k) {
        const std::uint32_t at = outers_[k];
        for (std::uint64_t rank = 0; rank < rowsBefore_[k + 1] - rowsBefore_[k]; ++rank)
            out.push_back({ members_[partner(at, rank)], members_[at] });
    }
    return out;
}

std::vector<std::vector<std::uint32_t>> PairGroups::components() const
{
    std::vector<std::vector<std::uint32_t>> out;
    std::vector<bool> hasRows(members_.size(), false);
    for (const std::uint32_t at : outers_)
        hasRows[at] = true;
    for (std::size_t g = 0; g < groups(); ++g) {
        const std::uint32_t begin = starts_[g];
        const std::uint32_t end = starts_[g + 1];
        const bool any = std::any_of(
            hasRows.begin() + begin, hasRows.begin() + end, [](bool rows) { return rows; });
        if (!any)
            continue;
        if (wholeGroup_[g]) {
            // Every two members of different classes pair: one group.
            out.emplace_back(members_.begin() + begin, members_.begin() + end);
            continue;
        }
        // Otherwise the group's rows are read one by one.
        Joined joined(end - begin);
        std::vector<bool> paired(end - begin, false);
        for (std::uint32_t at = begin; at < end; ++at) {
            if (!hasRows[at])
                continue;
            for (std::uint64_t rank = 0; rank < rowsOf(at, std::uint32_t(g)); ++rank) {
                const std::uint32_t p = partner(at, rank);
                joined.join(at - begin, p - begin);
                paired[at - begin] = paired[p - begin] = true;
            }
        }
        std::vector<std::vector<std::uint32_t>> parts(end - begin);
        for (std::uint32_t k = 0; k < end - begin; ++k) {
            if (paired[k])
                parts[joined.root(k)].push_back(members_[begin + k]);
        }
        for (auto& part : parts) {
            if (!part.empty())
                out.push_back(std::move(part));
        }
    }
    std::sort(
        out.begin(), out.end(), [](const auto& a, const auto& b) { return a.front() < b.front(); });
    return out;
}

void PairGroups::removeEach(Side side,
    const std::function<Stands(std::uint32_t, std::uint32_t)>& check,
    const std::function<void(std::uint32_t)>& remove) const
{
    // A flag for each place: by the second column, whether its file may
    // still stand as a partner; by the first, whether it has not been
    // removed yet. Counts of the flags, over all places and over the places
    // of each class, find the next flagged partner of an outer in O(log²).
    std::vector<bool> flagged(members_.size(), true);
    Counts places(members_.size());
    Counts classPlaces(excludedPositions_.size());
    // Where a place stands in its class's list, for classes that are what
    // every member excludes.
    std::vector<std::uint32_t> slotOf(members_.size(), kNone);
    for (const Exclusion& e : exclusions_) {
        if (e.shared) {
            for (std::uint32_t k = 0; k < e.size; ++k)
                slotOf[excludedPositions_[e.begin + k]] = e.begin + k;
        }
    }
    const auto unflag = [&](std::uint32_t at) {
        if (!flagged[at])
            return;
        flagged[at] = false;
        places.unflag(at);
        if (slotOf[at] != kNone)
            classPlaces.unflag(slotOf[at]);
    };
    // Flagged partners of `at` below `end`, from the start of its group.
    const auto partnersBelow = [&](std::uint32_t at, std::uint32_t begin, std::uint32_t end) {
        std::uint64_t count = places.below(end) - places.below(begin);
        std::uint32_t self = kNone;
        const auto list = excluded(self, at);
        if (self != kNone)
            return count - (self < end && flagged[self] ? 1 : 0);
        if (slotOf[at] != kNone) {
            const Exclusion& e = exclusions_[exclusionOf_[at]];
            const auto below
                = std::uint32_t(std::lower_bound(list.begin(), list.end(), end) - list.begin());
            return count - (classPlaces.below(e.begin + below) - classPlaces.below(e.begin));
        }
        for (const std::uint32_t p : list) {
            if (p < end && flagged[p])
                --count;
        }
        return count;
    };
    // The first flagged partner of `at` in [from, limit), or kNone.
    const auto next
        = [&](std::uint32_t at, std::uint32_t begin, std::uint32_t from, std::uint32_t limit) {
              const std::uint64_t before = partnersBelow(at, begin, from);
              if (partnersBelow(at, begin, limit) == before)
                  return kNone;
              std::uint32_t low = from + 1;
              std::uint32_t high = limit;
              while (low < high) {
                  const std::uint32_t mid = low + (high - low) / 2;
                  if (partnersBelow(at, begin, mid) > before)
                      high = mid;
                  else
                      low = mid + 1;
              }
              return low - 1;
          };
    for (const std::uint32_t at : outers_) {
        const std::uint32_t g = groupAt(at);
        const std::uint32_t begin = starts_[g];
        const std::uint32_t limit = order_ == PartnerOrder::Both ? starts_[g + 1] : at;
        for (std::uint32_t from = begin; from < limit;) {
            const std::uint32_t p = next(at, begin, from, limit);
            if (p == kNone)
                break;
            from = p + 1;
            if (side == Side::Second) {
                // The outer's file goes at its first row whose partner stands.
                const Stands stands = check(members_[at], members_[p]);
                if (stands == Stands::Yes) {
                    remove(members_[at]);
                    break;
                }
                if (stands == Stands::No)
                    unflag(p);
            } else {
                // Each partner's file goes while the outer's file stands.
                const Stands stands = check(members_[p], members_[at]);
                if (stands == Stands::No)
                    break;
                if (stands == Stands::Yes) {
                    remove(members_[p]);
                    unflag(p);
                }
            }
        }
    }
}

} // namespace qevra::search
