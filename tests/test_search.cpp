// The engine's one entry point on real trees, without a window: a whole
// search by each criterion and by its stages, a stop in every phase, and
// what could not be read, measured or compared.
#include "search/measuring.h"
#include "search/pairing.h"
#include "search/search.h"
#include "support/temp_tree.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <fstream>
#include <functional>
#include <set>
#include <sys/stat.h>

using namespace qevra;
using namespace qevra::search;
using qevra::testing::runUnprivileged;
using qevra::testing::TempTree;

namespace {

// Records what the engine tells, and answers as told.
class Recorder : public SearchObserver {
public:
    bool step(Phase phase, std::uint64_t done, std::uint64_t total) override
    {
        ++steps;
        return !answer || answer(phase, done, total);
    }
    void phaseStarted(Phase phase, std::uint64_t total) override
    {
        started.emplace_back(phase, total);
    }
    void warning(const Warning& warning) override { warnings.push_back(warning); }

    std::function<bool(Phase, std::uint64_t, std::uint64_t)> answer;
    std::vector<std::pair<Phase, std::uint64_t>> started;
    std::vector<Warning> warnings;
    int steps = 0;
};

SearchRequest requestFor(const std::vector<std::string>& roots, Criterion criterion)
{
    SearchRequest request;
    request.roots = roots;
    request.extensionText = QStringLiteral("txt");
    request.masks.emplace_back(QStringLiteral("*.txt"));
    request.criterion = criterion;
    request.options.measureThreads = 2;
    return request;
}

using Pairs = std::vector<std::pair<std::string, std::string>>;

Pairs pairsOf(const Results& results)
{
    Pairs pairs;
    for (std::size_t r = 0; r < results.first.size(); ++r)
        pairs.emplace_back(results.first[r], results.second[r]);
    return pairs;
}

// The tree every case searches: two copies and a namesake of other bytes
// in one root, a copy in the other.
struct Tree {
    TempTree tree;
    std::string a = tree.file("one/a/x.txt", "same bytes");
    std::string b = tree.file("one/b/x.txt", "same bytes");
    std::string c = tree.file("one/c/x.txt", "other data");
    std::string d = tree.file("two/y.txt", "same bytes");
    std::string e = tree.file("two/z.doc", "same bytes"); // not collected
};

} // namespace

TEST(Search, EachCriterionGivesTheRowsOfItsPassOverTheRootsInOrder)
{
    Tree t;
    const std::vector<std::string> roots = { t.tree.path("two"), t.tree.path("one") };
    for (const Criterion criterion : { Criterion::Name, Criterion::Size, Criterion::Content }) {
        SCOPED_TRACE(int(criterion));
        Recorder recorder;
        Results results;
        const Ended ended
            = run(requestFor(roots, criterion), fs::realFileSystem(), results, recorder);
        EXPECT_FALSE(ended.stopped);
        EXPECT_EQ(results.criterion, criterion);
        // The second root's files after the first's.
        ASSERT_EQ(results.candidates.size(), 4u);
        EXPECT_EQ(results.candidates[0], t.d);
        const std::set<std::string> inOne = { std::string(results.candidates[1]),
            std::string(results.candidates[2]), std::string(results.candidates[3]) };
        EXPECT_EQ(inOne, (std::set<std::string> { t.a, t.b, t.c }));
        EXPECT_EQ(results.stamps.size(), 4u);

        // The rows are those of the pass over these candidates.
        PairGroups pairs;
        StampList stamps;
        if (criterion == Criterion::Name) {
            pairByName(results.candidates, identifyWith(fs::realFileSystem()), pairs, stamps);
        } else {
            ProgressFunction goOn({});
            measureCandidates(fs::realFileSystem(), results.candidates, stamps, goOn, {});
            if (criterion == Criterion::Size) {
                KeyPairer pairer;
                for (std::uint32_t i = 0; i < 4; ++i)
                    pairer.add(i, std::uint64_t(stamps[i].size));
                pairs = pairer.pairs(results.candidates, stamps);
            } else {
                pairs = *pairByContent(fs::realFileSystem(), results.candidates, stamps, goOn);
            }
        }
        const std::vector<Row> expected = pairs.listed();
        std::vector<Row> rows;
        for (std::size_t r = 0; r < results.first.size(); ++r)
            rows.push_back({ results.first.candidate(r), results.second.candidate(r) });
        EXPECT_EQ(rows, expected);
        EXPECT_FALSE(rows.empty());
        // The content rows hold the three copies, never the other bytes.
        if (criterion == Criterion::Content) {
            for (const auto& [first, second] : pairsOf(results))
                EXPECT_TRUE(first != t.c && second != t.c);
            EXPECT_EQ(rows.size(), 3u);
        }

        // Each root begins a collection; the pass begins once, over the
        // candidates; by content, the comparing follows the measuring.
        std::vector<Phase> phases;
        for (const auto& [phase, total] : recorder.started)
            phases.push_back(phase);
        std::vector<Phase> expectedPhases = { Phase::Collecting, Phase::Collecting,
            criterion == Criterion::Name ? Phase::Naming : Phase::Measuring };
        if (criterion == Criterion::Content)
            expectedPhases.push_back(Phase::Comparing);
        EXPECT_EQ(phases, expectedPhases);
        EXPECT_EQ(recorder.started[2].second, 4u);
        EXPECT_TRUE(recorder.warnings.empty());

        // The stages one at a time come to the same.
        Results staged;
        Recorder quiet;
        for (const std::string& root : roots)
            EXPECT_FALSE(
                collectRoot(requestFor(roots, criterion), fs::realFileSystem(), root, staged, quiet)
                    .stopped);
        EXPECT_FALSE(
            runPass(requestFor(roots, criterion), fs::realFileSystem(), staged, quiet).stopped);
        EXPECT_EQ(pairsOf(staged), pairsOf(results));
    }
}

TEST(Search, AStopEndsTheSearchInEveryPhaseKeepingWhatWasDone)
{
    Tree t;
    const std::vector<std::string> roots = { t.tree.path("two"), t.tree.path("one") };
    struct Case {
        Criterion criterion;
        Phase phase;
    };
    for (const Case c : { Case { Criterion::Size, Phase::Collecting },
             Case { Criterion::Name, Phase::Naming }, Case { Criterion::Size, Phase::Measuring },
             Case { Criterion::Content, Phase::Comparing } }) {
        SCOPED_TRACE(int(c.phase));
        Recorder recorder;
        // The collection stops at the second root; the other phases at
        // their first step.
        int rootsStarted = 0;
        recorder.answer = [&](Phase phase, std::uint64_t, std::uint64_t) {
            if (phase != c.phase)
                return true;
            return phase == Phase::Collecting && rootsStarted < 2;
        };
        Results results;
        SearchRequest request = requestFor(roots, c.criterion);
        struct Counting : Recorder {
            int* roots = nullptr;
            void phaseStarted(Phase phase, std::uint64_t total) override
            {
                if (phase == Phase::Collecting)
                    ++*roots;
                Recorder::phaseStarted(phase, total);
            }
        } counting;
        counting.roots = &rootsStarted;
        counting.answer = recorder.answer;
        const Ended ended = run(request, fs::realFileSystem(), results, counting);
        EXPECT_TRUE(ended.stopped);
        EXPECT_EQ(ended.phase, c.phase);
        if (c.phase == Phase::Collecting) {
            // The first root's files stay.
            ASSERT_EQ(results.candidates.size(), 1u);
            EXPECT_EQ(results.candidates[0], t.d);
        } else {
            EXPECT_EQ(results.candidates.size(), 4u);
        }
        EXPECT_TRUE(results.first.empty());
    }
}

TEST(Search, WhatCannotBeReadIsToldAndTakesNoPart)
{
    TempTree tree;
    const std::string a = tree.file("a/x.txt", "same bytes");
    const std::string b = tree.file("b/x.txt", "same bytes");
    const std::string locked = tree.file("c/x.txt", "same bytes");
    tree.file("closed/x.txt", "same bytes");
    ASSERT_EQ(::chmod(locked.c_str(), 0), 0);
    ASSERT_EQ(::chmod(tree.path("closed").c_str(), 0), 0);
    // The user, unlike root, is stopped by the permissions.
    EXPECT_EQ(runUnprivileged([&] {
        Recorder recorder;
        Results results;
        SearchRequest request = requestFor({ tree.root() }, Criterion::Content);
        request.options.stopAtUnmeasurable = false;
        const Ended ended = run(request, fs::realFileSystem(), results, recorder);
        if (ended.stopped)
            return 1;
        std::set<std::string> told;
        for (const Warning& warning : recorder.warnings)
            told.insert(
                warning.path + ": " + warning.what + (warning.error == EACCES ? " (EACCES)" : ""));
        if (told
            != std::set<std::string> { tree.path("closed") + ": could not be read",
                locked + ": Permission denied (EACCES)" })
            return 2;
        // The unreadable file is in no row; the two copies pair.
        if (results.first.size() != 1)
            return 3;
        if (std::set<std::string> { std::string(results.first[0]), std::string(results.second[0]) }
            != std::set<std::string> { a, b })
            return 4;

        // As the window asks: the unreadable file ends the search.
        request.options.stopAtUnmeasurable = true;
        try {
            run(request, fs::realFileSystem(), results, recorder);
            return 5;
        } catch (const MeasureError& error) {
            return error.code() == EACCES && results.candidates[error.index()] == locked ? 0 : 6;
        }
    }),
        0);

    // A file rewritten between its measuring and its reading is told, and
    // pairs with nothing.
    ASSERT_EQ(::chmod(locked.c_str(), 0644), 0);
    struct Rewriting : Recorder {
        std::string path;
        void phaseStarted(Phase phase, std::uint64_t total) override
        {
            if (phase == Phase::Comparing)
                std::ofstream(path) << "new bytes!";
            Recorder::phaseStarted(phase, total);
        }
    } rewriting;
    rewriting.path = b;
    Results results;
    EXPECT_FALSE(run(
        requestFor({ tree.root() }, Criterion::Content), fs::realFileSystem(), results, rewriting)
                     .stopped);
    EXPECT_EQ(
        rewriting.warnings, (std::vector<Warning> { { b, 0, "changed since it was measured" } }));
    // The three others, root reading them all, pair; b with nothing.
    std::set<std::string> paired;
    for (const auto& [first, second] : pairsOf(results)) {
        paired.insert(first);
        paired.insert(second);
    }
    EXPECT_EQ(paired, (std::set<std::string> { a, locked, tree.path("closed/x.txt") }));
    EXPECT_EQ(results.first.size(), 3u);
}
