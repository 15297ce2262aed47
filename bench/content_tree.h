#pragma once

// Trees for the search benchmarks, built on the seeded generator.
//
// The content tree is a realistic mix for the content search: tiny, KiB-sized
// and a few MiB-sized files, exact copies in other directories, files of one
// size that differ only late or only in their first byte, empty files, and
// bare names that recur in several directories.
//
// The scale tree holds very many files that take next to no disk space, for
// the name and size passes: names and sizes each recur a few times (at most
// ten), so that both searches give a bounded number of rows.
//
// Every file of both trees has an extension and none is hidden, so the
// extension text "*" selects them all.

#include "tree_generator.h"

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace qevra::bench {

// What a planned tree holds, and what each search over it with the
// extension text "*" must report.
struct TreeFacts {
    std::uint64_t files = 0; // plain files that are not hidden
    std::uint64_t bytes = 0; // the sum of their sizes
    std::uint64_t dataBytes = 0; // the part not in holes
    std::uint64_t emptyFiles = 0;
    std::uint64_t tinyFiles = 0; // 1 byte to 1 KiB
    std::uint64_t kibFiles = 0; // above 1 KiB, up to 64 KiB
    std::uint64_t largeFiles = 0; // above 64 KiB
    std::uint64_t holeFiles = 0; // sizes without data blocks
    std::uint64_t distinctNames = 0;
    std::uint64_t mostNameRepeats = 0;
    std::uint64_t distinctSizes = 0;
    std::uint64_t mostSizeRepeats = 0;
    // Rows of the searches: the name search pairs every two files of one
    // bare name both ways; the size search pairs every two files of one size
    // once; the content search keeps the size rows of equal contents.
    std::uint64_t nameRows = 0;
    std::uint64_t sizeRows = 0;
    std::uint64_t contentRows = 0;
    // Files that have an equal twin somewhere, and how many distinct
    // contents they make.
    std::uint64_t duplicatedFiles = 0;
    std::uint64_t duplicateSets = 0;

    // "key value" lines.
    std::string text() const;
};

// Works the facts out from a plan (hidden files left out, as the search
// leaves them out).
TreeFacts factsOf(const TreePlan& plan);

// A planned tree: its identifying parameters, its plan, its facts.
struct PlannedTree {
    TreeSpec spec;
    TreePlan plan;
    TreeFacts facts;
};

// The content tree: `files` files of about `totalBytes` bytes altogether.
// The MiB-sized files make up what the smaller ones leave of the total; when
// the smaller ones alone exceed it, there are none.
PlannedTree planContentTree(std::uint64_t files, std::uint64_t seed, std::uint64_t totalBytes);

// The scale tree: `files` files, empty, tiny, or holes of a few hundred KiB
// at most (sizes above 1 KiB take no data blocks).
PlannedTree planScaleTree(std::uint64_t files, std::uint64_t seed);

// The file in a generated tree's root that keeps its facts. Hidden, so the
// search never counts it.
inline constexpr std::string_view kFactsName = ".qevra-bench-facts";

// Writes the facts next to the marker; throws std::runtime_error on failure.
void writeFacts(const std::string& root, const TreeFacts& facts);

// The facts a generated tree keeps, by key; nothing when there is no facts
// file.
std::optional<std::map<std::string, std::uint64_t>> readFacts(const std::string& root);

} // namespace qevra::bench
