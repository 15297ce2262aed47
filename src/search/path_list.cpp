#include "search/path_list.h"

namespace qevra::search {

void PathList::removeAt(std::size_t i)
{
    const std::size_t begin = i == 0 ? 0 : ends_[i - 1];
    const std::size_t length = ends_[i] - begin;
    bytes_.erase(begin, length);
    ends_.erase(ends_.begin() + static_cast<std::ptrdiff_t>(i));
    for (std::size_t k = i; k < ends_.size(); ++k)
        ends_[k] -= length;
}

std::vector<std::string> PathList::toVector() const
{
    std::vector<std::string> out;
    out.reserve(size());
    for (std::size_t i = 0; i < size(); ++i)
        out.emplace_back((*this)[i]);
    return out;
}

} // namespace qevra::search
