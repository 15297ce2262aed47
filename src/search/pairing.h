#pragma once

#include "fs/file_system.h"
#include "search/pair_groups.h"
#include "search/path_list.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::search {

// Takes the stamp of each path's file into the place of the same index, or
// leaves an unknown stamp where the file cannot be identified.
using Identify
    = std::function<void(std::span<const std::string_view> paths, std::span<fs::FileStamp> stamps)>;

// Pairs candidates of equal bare name (bytes, case-sensitive) that are
// different files: different full paths and, where known, not possibly one
// file (two spellings, links, bind mounts and hard links of one file never
// pair, nor one file seen through a stacked or network file system). The groups are the names
// that recur, with every member its partner (PartnerOrder::Both): a pair a < b thus gives (b, a)
// at outer step a and (a, b) at outer step b. Only candidates whose
// name recurs (or, rarely, only its hash) are identified, through `identify`, in candidate order
// (so that neighbours in a directory come together), before their name's turn comes: on `threads`
// workers that start once the names are hashed and run as far ahead as they
// can, which `identify` must then allow, or, with none, at that turn on the
// calling thread. Their stamps go to `stamps` (resized to the candidates).
// Time and memory grow with the candidates, never with the rows.
// `atOuter(i)` runs at the start of each outer step, and `whileWaiting` a
// few times a second while the outer steps wait for the workers; when
// either answers false, the pairing ends there (with the rows of the outer
// steps so far) and the result is false. Names are grouped through a
// 64-bit hash of their bytes; `hash` replaces it (tests make names collide
// with it).
using NameHash = std::uint64_t (*)(std::string_view name);
bool pairByName(const PathList& candidates, const Identify& identify, PairGroups& pairs,
    StampList& stamps, const std::function<bool(std::size_t)>& atOuter = {}, unsigned threads = 0,
    const std::function<bool()>& whileWaiting = {}, NameHash hash = nullptr);

// Identifies through the file system, without following a link at the end of
// a path (FileSystem::examineEach with Resolve::NoFinalLink).
Identify identifyWith(fs::FileSystem& fileSystem);

// Groups candidates of equal key as they come, and makes the rows of every
// candidate with each earlier one of its key (PartnerOrder::Earlier) whose
// path differs and whose stamp is not possibly its file. Candidates must be
// added in ascending order. A million keys cost one open table and one link
// per candidate, with no allocation per key. The table's hash is keyed
// afresh for each pairer, so that no tree can choose sizes that all land in
// one place (sparse files make any size cost nothing).
class KeyPairer {
public:
    KeyPairer();
    void add(std::uint32_t index, std::uint64_t key);
    // The rows of the candidates added so far.
    PairGroups pairs(const PathList& candidates, const StampList& stamps) const;
    // Forgets every key and gives the memory back.
    void clear();
    // Places of the table looked at so far, for tests and measures.
    std::uint64_t probes() const { return probes_; }

private:
    static constexpr std::uint32_t kNone = UINT32_MAX;
    // One key and the chain of its candidates, from `first` through `next_`
    // to `last`; a slot whose `first` is kNone is free.
    struct Slot {
        std::uint64_t key = 0;
        std::uint32_t first = kNone;
        std::uint32_t last = kNone;
    };
    Slot& slotFor(std::uint64_t key);
    void grow();

    std::size_t placeOf(std::uint64_t key) const;

    std::vector<Slot> slots_; // open addressing, linear probing; a power of two
    std::size_t used_ = 0;
    std::uint64_t seed_ = 0;
    std::uint64_t probes_ = 0;
    std::vector<std::uint32_t> next_; // by candidate: the next one of its key
};

} // namespace qevra::search
