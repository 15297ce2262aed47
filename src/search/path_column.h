#pragma once

#include "search/path_list.h"

#include <cstdint>
#include <string_view>
#include <vector>

namespace qevra::search {

// A hidden list of paths whose entries are candidates: each entry is the
// index of a candidate, so a list of millions of rows costs four bytes a
// row. It reads its paths from the candidate list it was made for.
class PathColumn {
public:
    explicit PathColumn(const PathList& candidates)
        : candidates_(candidates)
    {
    }

    std::size_t size() const { return entries_.size(); }
    bool empty() const { return entries_.empty(); }
    std::string_view operator[](std::size_t i) const { return candidates_[entries_[i]]; }
    std::uint32_t candidate(std::size_t i) const { return entries_[i]; }

    void append(std::uint32_t candidate) { entries_.push_back(candidate); }
    void clear() { entries_.clear(); }
    // Empties the list and frees its memory.
    void release() { std::vector<std::uint32_t>().swap(entries_); }
    void reserve(std::size_t n) { entries_.reserve(n); }

    std::vector<std::string> toVector() const
    {
        std::vector<std::string> out;
        out.reserve(size());
        for (std::size_t i = 0; i < size(); ++i)
            out.emplace_back((*this)[i]);
        return out;
    }

private:
    const PathList& candidates_;
    std::vector<std::uint32_t> entries_;
};

} // namespace qevra::search
