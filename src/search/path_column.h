#pragma once

#include "search/pair_groups.h"
#include "search/path_list.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::search {

// One column of a search's rows: the first copies or the second copies.
// Row r of both columns is pair r. The column reads its rows from the
// search's groups, computed when asked, so billions of rows cost nothing;
// rows can also be written one by one (append), and from the first
// written on the column holds its own until it is released.
class PathColumn {
public:
    PathColumn(const PathList& candidates, const PairGroups& pairs, PairGroups::Side side)
        : candidates_(candidates)
        , pairs_(pairs)
        , side_(side)
    {
    }

    std::uint64_t size() const { return listed_ ? entries_.size() : pairs_.rows(); }
    bool empty() const { return size() == 0; }
    std::string_view operator[](std::uint64_t i) const { return candidates_[candidate(i)]; }
    std::uint32_t candidate(std::uint64_t i) const
    {
        if (listed_)
            return entries_[i];
        const Row row = pairs_.row(i);
        return side_ == PairGroups::Side::First ? row.first : row.second;
    }
    // Whether the column holds rows written one by one.
    bool listed() const { return listed_; }

    void append(std::uint32_t candidate)
    {
        listed_ = true;
        entries_.push_back(candidate);
    }
    // Empties the column: no rows until some are written.
    void clear()
    {
        listed_ = true;
        entries_.clear();
    }
    // Frees the rows written, and reads the groups' rows again.
    void release()
    {
        listed_ = false;
        std::vector<std::uint32_t>().swap(entries_);
    }

    std::vector<std::string> toVector() const
    {
        std::vector<std::string> out;
        out.reserve(size());
        for (std::uint64_t i = 0; i < size(); ++i)
            out.emplace_back((*this)[i]);
        return out;
    }

private:
    const PathList& candidates_;
    const PairGroups& pairs_;
    PairGroups::Side side_;
    bool listed_ = false;
    std::vector<std::uint32_t> entries_;
};

} // namespace qevra::search
