// Pairing by name and by size, and the comparison of two files. The content
// stage that checks many pairs at once lives in content_stage.cpp.
#include "search/pairing.h"

#include <xxhash.h>

#include <algorithm>
#include <cstring>
#include <limits>
#include <memory>
#include <numeric>
#include <string_view>

namespace qevra::search {

namespace {

constexpr std::uint32_t kNoPosition = std::numeric_limits<std::uint32_t>::max();

// A candidate and the hash of the bytes it is grouped by.
struct Keyed {
    std::uint64_t hash;
    std::uint32_t index;
};

std::unique_ptr<fs::ReadStream> openOrNull(fs::FileSystem& fileSystem, const std::string& path)
{
    try {
        return fileSystem.openRead(path);
    } catch (...) {
        return nullptr;
    }
}

} // namespace

void pairByName(const PathList& candidates, std::vector<Row>& rows,
    const std::function<void(std::size_t)>& atOuter)
{
    const std::size_t count = candidates.size();
    const auto nameOf = [&](std::uint32_t i) { return fs::bareName(candidates[i]); };

    // Namesakes become neighbours when sorted by (name hash, name, index);
    // the name bytes keep two names of one hash apart.
    std::vector<Keyed> keyed(count);
    for (std::uint32_t i = 0; i < count; ++i) {
        const std::string_view name = nameOf(i);
        keyed[i] = { XXH3_64bits(name.data(), name.size()), i };
    }
    std::sort(keyed.begin(), keyed.end(), [&](const Keyed& a, const Keyed& b) {
        if (a.hash != b.hash)
            return a.hash < b.hash;
        if (const int order = nameOf(a.index).compare(nameOf(b.index)); order != 0)
            return order < 0;
        return a.index < b.index;
    });

    // Only names that two or more candidates share can pair. Those
    // candidates go to `members`, group after group, ascending within each.
    std::vector<std::uint32_t> positionOf(count, kNoPosition);
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> groupOf; // by position in `members`
    std::vector<std::uint32_t> groupStarts;
    for (std::size_t begin = 0; begin < count;) {
        std::size_t end = begin + 1;
        while (end < count && keyed[end].hash == keyed[begin].hash
            && nameOf(keyed[end].index) == nameOf(keyed[begin].index))
            ++end;
        if (end - begin > 1) {
            const auto group = static_cast<std::uint32_t>(groupStarts.size());
            groupStarts.push_back(static_cast<std::uint32_t>(members.size()));
            for (std::size_t k = begin; k < end; ++k) {
                positionOf[keyed[k].index] = static_cast<std::uint32_t>(members.size());
                members.push_back(keyed[k].index);
                groupOf.push_back(group);
            }
        }
        begin = end;
    }
    groupStarts.push_back(static_cast<std::uint32_t>(members.size()));
    std::vector<Keyed>().swap(keyed);

    // A file collected twice stands at several places of its group. Each
    // place gets the class of its path (the position of the class's first
    // place in path order), and `skip` leads from a place to the next place
    // of another class, so passing over a file's own places costs at most one
    // step per row written.
    std::vector<std::uint32_t> pathClass(members.size());
    std::vector<std::uint32_t> skip(members.size());
    std::vector<std::uint32_t> byPath;
    for (std::size_t g = 0; g + 1 < groupStarts.size(); ++g) {
        const std::uint32_t begin = groupStarts[g];
        const std::uint32_t end = groupStarts[g + 1];
        byPath.resize(end - begin);
        std::iota(byPath.begin(), byPath.end(), begin);
        std::sort(byPath.begin(), byPath.end(), [&](std::uint32_t a, std::uint32_t b) {
            const int order = candidates[members[a]].compare(candidates[members[b]]);
            return order != 0 ? order < 0 : a < b;
        });
        for (std::size_t k = 0; k < byPath.size(); ++k) {
            const bool samePath
                = k > 0 && candidates[members[byPath[k]]] == candidates[members[byPath[k - 1]]];
            pathClass[byPath[k]] = samePath ? pathClass[byPath[k - 1]] : byPath[k];
        }
        for (std::uint32_t p = end; p-- > begin;) {
            skip[p] = p + 1 == end || pathClass[p + 1] != pathClass[p] ? p + 1 : skip[p + 1];
        }
    }

    for (std::uint32_t i = 0; i < count; ++i) {
        if (atOuter)
            atOuter(i);
        const std::uint32_t at = positionOf[i];
        if (at == kNoPosition)
            continue;
        const std::uint32_t own = pathClass[at];
        const std::uint32_t end = groupStarts[groupOf[at] + 1];
        for (std::uint32_t p = groupStarts[groupOf[at]]; p < end;) {
            if (pathClass[p] == own) {
                p = skip[p];
            } else {
                rows.push_back({ members[p], i });
                ++p;
            }
        }
    }
}

void SizePairer::add(
    std::uint32_t index, std::int64_t size, const PathList& candidates, std::vector<Row>& rows)
{
    std::vector<std::uint32_t>& sameSize = bySize_[size];
    const std::string_view path = candidates[index];
    for (const std::uint32_t earlier : sameSize) {
        if (candidates[earlier] != path)
            rows.push_back({ earlier, index });
    }
    sameSize.push_back(index);
}

std::int64_t compareFiles(
    fs::FileSystem& fileSystem, const std::string& first, const std::string& second)
{
    const std::unique_ptr<fs::ReadStream> a = openOrNull(fileSystem, first);
    if (!a)
        return -1;
    const std::unique_ptr<fs::ReadStream> b = openOrNull(fileSystem, second);
    if (!b)
        return -2;
    try {
        const std::int64_t sizeA = a->size();
        const std::int64_t sizeB = b->size();
        if (sizeA < 0 || sizeB < 0)
            return -3;
        if (sizeB < sizeA)
            return sizeB + 1;

        // The block decides, when Second is longer, whether a difference in
        // First's last block counts as one (-3 otherwise).
        constexpr std::int64_t kBlock = 16384;
        const auto buffers = std::make_unique_for_overwrite<char[]>(2 * kBlock);
        char* const blockA = buffers.get();
        char* const blockB = buffers.get() + kBlock;
        std::int64_t offset = 0;
        for (;;) {
            const std::int64_t gotA = a->read(blockA, kBlock);
            const std::int64_t gotB = b->read(blockB, kBlock);
            if (gotA < 0 || gotB < 0 || gotA != gotB || gotA > kBlock)
                return -3;
            if (gotA == 0)
                return 0;
            if (std::memcmp(blockA, blockB, static_cast<std::size_t>(gotA)) != 0) {
                const char* const differs = std::mismatch(blockA, blockA + gotA, blockB).first;
                return offset + (differs - blockA) + 1;
            }
            offset += gotA;
        }
    } catch (...) {
        return -3;
    }
}

} // namespace qevra::search
