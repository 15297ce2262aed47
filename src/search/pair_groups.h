#pragma once

#include "fs/file_system.h"
#include "search/path_list.h"

#include <cstdint>
#include <functional>
#include <span>
#include <vector>

namespace qevra::search {

// One pair of candidates, by their indexes in the candidate list: the
// first copy and the second copy.
struct Row {
    std::uint32_t first;
    std::uint32_t second;
    friend bool operator==(const Row&, const Row&) = default;
};

// The stamps of the candidates, by candidate index; a stamp that was not
// taken is unknown (FileStamp::known() is false).
using StampList = std::vector<fs::FileStamp>;

// Which partners a candidate's rows take from its group.
enum class PartnerOrder : std::uint8_t {
    Both, // every other member: a pair a < b gives (b, a) at a's rows and (a, b) at b's
    Earlier, // the members before it: a pair a < b gives (a, b) at b's rows
};

// A search's answer as groups of equal files: its rows are computed from
// the groups when asked for, so memory and time follow the candidates,
// never the rows, which run to the square of a group.
//
// The rows are those of the plain double loop: for every candidate i in
// ascending order ("the outer"), the row (j, i) for every partner j of i in
// ascending order, where the partners are the members of i's group (all of
// them, or those before i) that are not possibly i's file. Two members are
// possibly one file when they share their path or their stamps say they may
// (FileStamp::possiblySame): a file's spellings, links, hard links and
// views through stacked or network file systems never pair.
class PairGroups {
public:
    // Makes the rows of `groups`: the candidates of each group ascending,
    // group after group, with `starts` holding where each begins and, last,
    // where the last ends. Only outers below `outerLimit` have rows (a
    // pass that stopped there).
    static PairGroups make(PartnerOrder order, std::vector<std::uint32_t> members,
        std::vector<std::uint32_t> starts, const PathList& candidates, const StampList& stamps,
        std::uint64_t outerLimit = UINT64_MAX);

    std::uint64_t rows() const { return rowsBefore_.empty() ? 0 : rowsBefore_.back(); }
    bool empty() const { return rows() == 0; }
    // Row `r` (below rows()), in O(log n).
    Row row(std::uint64_t r) const;
    // Every row in order: for small answers (tests and reports of pairs
    // use row() one by one).
    std::vector<Row> listed() const;

    std::size_t groups() const { return starts_.empty() ? 0 : starts_.size() - 1; }
    // The members of group `g`, ascending.
    std::span<const std::uint32_t> group(std::size_t g) const
    {
        return { members_.data() + starts_[g], members_.data() + starts_[g + 1] };
    }
    // The groups of files the rows join (two files are in one when a chain
    // of rows leads from one to the other), each ascending, ordered by
    // their first file.
    std::vector<std::vector<std::uint32_t>> components() const;

    // Which column's files a removal takes.
    enum class Side : std::uint8_t { First, Second };
    // What a removal of every row's file in one column does, row by row:
    // for each row in order, `check(file, partner)` tells whether the
    // partner still stands as a copy; when it does, `remove(file)` runs.
    // Worked out per group, in time that follows the files: a file is
    // removed at most once (at the first row where it would be), a partner
    // found gone or changed (any answer but Distinct or SameFile) is not
    // asked again, and the removals come in the rows' order.
    enum class Stands : std::uint8_t {
        Yes, // the partner stands: remove the file
        NotForThisFile, // the partner is possibly this very file
        No, // the partner is gone or changed, for every file
    };
    void removeEach(Side side, const std::function<Stands(std::uint32_t, std::uint32_t)>& check,
        const std::function<void(std::uint32_t)>& remove) const;

    void clear() { *this = PairGroups(); }

private:
    struct Exclusion {
        std::uint32_t begin;
        std::uint32_t size;
        bool shared; // the list of a class, which each of its members excludes
    };
    static constexpr std::uint32_t kSelf = UINT32_MAX;

    // The positions a member never pairs with (itself included), sorted.
    std::span<const std::uint32_t> excluded(std::uint32_t& self, std::uint32_t at) const;
    std::uint64_t rowsOf(std::uint32_t at, std::uint32_t g) const;
    std::uint32_t groupAt(std::uint32_t at) const;
    std::uint32_t partner(std::uint32_t at, std::uint64_t rank) const;
    struct Scratch;
    void classify(
        std::uint32_t g, const PathList& candidates, const StampList& stamps, Scratch& scratch);
    // Makes the members at `cls` (places within the group that begins at
    // `begin`) a class that each of them excludes.
    void addClass(std::uint32_t begin, std::span<const std::uint32_t> cls);

    PartnerOrder order_ = PartnerOrder::Both;
    std::vector<std::uint32_t> members_; // by position: the candidate
    std::vector<std::uint32_t> starts_; // by group: its first position; then the end
    std::vector<std::uint32_t> exclusionOf_; // by position: an entry of exclusions_, or kSelf
    std::vector<Exclusion> exclusions_;
    std::vector<std::uint32_t> excludedPositions_;
    std::vector<bool> wholeGroup_; // by group: every two members of different classes pair
    std::vector<std::uint32_t> outers_; // positions with rows, ascending by candidate
    std::vector<std::uint64_t> rowsBefore_; // by outer; then the total
};

} // namespace qevra::search
