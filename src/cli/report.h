#pragma once

#include "base/criterion.h"
#include "search/progress.h"
#include "search/results.h"

#include <cstdint>
#include <cstdio>
#include <string>
#include <string_view>
#include <vector>

namespace qevra::cli {

// The groups of copies of a search: the candidates its rows join, each
// group ascending, the groups in the order of their first candidate.
using Groups = std::vector<std::vector<std::uint32_t>>;
Groups groupsOf(const search::Results& results);

// What deleting all but one copy of each group would come to.
struct Summary {
    std::uint64_t candidates = 0;
    std::uint64_t rows = 0;
    std::uint64_t groups = 0;
    std::uint64_t files = 0; // in the groups
    // The bytes freed keeping the first file of each group: every other
    // file of it counted once however many names it has.
    std::uint64_t bytesFreed = 0;
};
Summary summarize(const search::Results& results, const Groups& groups);

// A path as a JSON string (with its quotes): UTF-8 kept, the characters
// JSON asks for escaped, and each byte that is not part of valid UTF-8
// written as \udc80 to \udcff (Python's "surrogateescape").
std::string jsonString(std::string_view bytes);

// The writers of the output formats; false when writing failed.
bool writeRows(std::FILE* out, const search::Results& results, bool nul);
bool writeGroups(std::FILE* out, const search::Results& results, const Groups& groups, bool nul);
bool writeSummary(std::FILE* out, const Summary& summary);
bool writeJson(std::FILE* out, Criterion criterion, const std::vector<std::string>& roots,
    const search::Results& results, const Groups& groups, const Summary& summary,
    const std::vector<search::Warning>& warnings);

} // namespace qevra::cli
