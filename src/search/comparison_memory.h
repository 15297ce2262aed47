#pragma once

#include "fs/file_system.h"
#include "search/content_stage.h"
#include "search/path_list.h"
#include "search/progress.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qevra::search {

// What one content comparison proved of a file: the comparison (a random
// number of its own) and the file's class in it. A comparison reads every
// file of a size against every other, so two files it proved something of,
// still as it saw them, are equal when they share a class of it and
// different when they do not.
struct Proof {
    std::uint64_t comparison = 0; // 0: nothing known
    std::uint32_t cls = 0;
    std::uint32_t day = 0; // when it was proved or last confirmed, in days since the epoch
    std::uint64_t head = 0; // headOf the file's start, 0 when not known
    bool known() const { return comparison != 0; }
    bool sameClass(const Proof& other) const
    {
        return comparison == other.comparison && cls == other.cls;
    }
};

// The comparisons remembered between searches, by file. Each entry holds
// the file's identity and whole stamp as the comparison saw it: a file
// changed since in any way (its size or either time; no program can set the
// change time back) is unknown again.
class ComparisonMemory {
public:
    struct Entry {
        std::uint64_t device = 0;
        std::uint64_t inode = 0;
        std::int64_t size = 0;
        std::int64_t modified = 0;
        std::int64_t changed = 0;
        std::uint64_t comparison = 0;
        std::uint32_t cls = 0;
        std::uint32_t day = 0; // the day (since the epoch) it was last proved
        std::uint64_t head = 0; // headOf its start, 0 when not known
    };

    ComparisonMemory() = default;
    // `entries` sorted by identity, each identity once.
    explicit ComparisonMemory(std::vector<Entry> entries);

    // What is known of the file with this stamp; nothing for a stamp never
    // taken or on a file system whose identities can alias.
    Proof recall(const fs::FileStamp& stamp) const;
    // A number for a new comparison, taken by no other.
    static std::uint64_t newComparison();
    // What a comparison just proved; remembered once saved (the day is
    // then the day of the saving).
    void learn(const fs::FileStamp& stamp, Proof proof);
    // Days after which a file known and not read is learned again, so that
    // it stays remembered while searches keep seeing it.
    static constexpr std::uint32_t kConfirmedDays = 30;

    const std::vector<Entry>& entries() const { return entries_; }
    const std::vector<Entry>& learned() const { return learned_; }
    // Frees what was loaded, once recalled: the saving reads the file anew.
    void releaseLoaded() { std::vector<Entry>().swap(entries_); }
    // What was learned, leaving the memory empty.
    std::vector<Entry> takeLearned()
    {
        releaseLoaded();
        return std::move(learned_);
    }

private:
    std::vector<Entry> entries_;
    std::vector<Entry> learned_;
};

// Sorts files into classes of equal bytes as classifyByContent does, with
// the same answer, but reads only what `memory` cannot tell: among files of
// one size, a file known from memory is not read when every other file of
// that size is known from the same comparison; otherwise one file of each
// class remembered is read with the files unknown, and the others of its
// class follow it. When the classes come from one comparison, a class whose
// remembered head differs from the heads of all the unknown files is not
// read at all. What this comparison proved is learned into `memory`.
// File f lies at candidates[candidateOf[f]] and has stamps[f].
std::optional<std::vector<std::uint32_t>> classifyRemembering(fs::FileSystem& fileSystem,
    const PathList& candidates, const std::vector<std::uint32_t>& candidateOf,
    const std::vector<fs::FileStamp>& stamps, Progress& progress,
    const ContentStageOptions& options, ComparisonMemory& memory);

// The memory's file in a folder of the user's cache. It is written whole
// under a new name and renamed over the old one, under a lock that two
// programs take in turn; what it holds is checked when read, and a damaged
// or foreign file is ignored (and replaced at the next save). Files deleted
// or moved away by the program are noted in a journal beside it and left
// out at the next save.
class ComparisonStore {
public:
    explicit ComparisonStore(std::string folder);

    // Where the program keeps it: $XDG_CACHE_HOME/qevra, else
    // ~/.cache/qevra; nothing when no home is known.
    static std::optional<std::string> defaultFolder();
    // The folder searches use: the default one, unless QEVRA_NO_CACHE is
    // set to anything but an empty value.
    static std::optional<std::string> folderForSearches();

    ComparisonMemory load() const;
    // Adds what `memory` learned to what the file holds now, leaves out the
    // files noted as gone, entries not proved for kKeptDays, and the oldest
    // beyond kMostEntries. `today`: days since the epoch (0 for the clock's).
    bool save(ComparisonMemory memory, std::uint32_t today = 0) const;
    // Notes files the program deleted or moved away.
    bool forget(const std::vector<fs::FileStamp>& gone) const;
    // Empties it.
    bool clear() const;

    const std::string& folder() const { return folder_; }

    static constexpr std::size_t kMostEntries = 2'000'000;
    static constexpr std::uint32_t kKeptDays = 180;
    static constexpr const char* kFileName = "comparisons";
    static constexpr const char* kJournalName = "comparisons.gone";
    static constexpr const char* kLockName = "comparisons.lock";

private:
    std::string folder_;
};

} // namespace qevra::search
