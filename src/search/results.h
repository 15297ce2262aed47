#pragma once

#include "base/criterion.h"
#include "search/pair_groups.h"
#include "search/pairing.h"
#include "search/path_column.h"
#include "search/path_list.h"

namespace qevra::search {

// What a search found, for the copies editor to read by index: the
// candidates, the rows as the first-copy and second-copy lists (row r of
// both is pair r), what the search saw of each candidate it identified or
// measured, and the criterion that made the rows.
struct Results {
    Results() = default;
    Results(const Results&) = delete;
    Results& operator=(const Results&) = delete;

    PathList candidates;
    // The groups of equal files the rows are computed from.
    PairGroups pairs;
    PathColumn first { candidates, pairs, PairGroups::Side::First };
    PathColumn second { candidates, pairs, PairGroups::Side::Second };
    StampList stamps;
    Criterion criterion = Criterion::Name;
};

} // namespace qevra::search
