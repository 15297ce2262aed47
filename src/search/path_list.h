#pragma once

#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::search {

// A hidden list of byte strings (the candidate, copy and root lists). All
// entries share one buffer, so a million paths cost their bytes plus one
// offset each.
class PathList {
public:
    std::size_t size() const { return ends_.size(); }
    bool empty() const { return ends_.empty(); }

    std::string_view operator[](std::size_t i) const
    {
        const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
        return std::string_view(bytes_).substr(begin, ends_[i] - begin);
    }

    void append(std::string_view entry)
    {
        bytes_.append(entry);
        ends_.push_back(bytes_.size());
    }

    // Appends dir + separator + name without building the path first.
    void append(std::string_view dir, std::string_view separator, std::string_view name)
    {
        bytes_.append(dir).append(separator).append(name);
        ends_.push_back(bytes_.size());
    }

    void removeAt(std::size_t i);

    void clear()
    {
        bytes_.clear();
        ends_.clear();
    }

    // Frees the memory a large earlier search left behind.
    void release()
    {
        std::string().swap(bytes_);
        std::vector<std::size_t>().swap(ends_);
    }

    std::vector<std::string> toVector() const;

private:
    std::string bytes_;
    std::vector<std::size_t> ends_;
};

} // namespace qevra::search
