// Rows computed from groups against the plain double loop, on random groups
// with repeated paths, hard links and views through stacked file systems;
// removals worked out per group against the loop over the rows.
#include "search/pair_groups.h"

#include <gtest/gtest.h>

#include <map>
#include <random>
#include <set>

using namespace qevra::search;
using qevra::fs::FileStamp;

namespace {

// A random answer: candidates in groups (each candidate in one group at
// most, some in none), with paths that recur, identities shared by hard
// links, unknown stamps and, on some trees, views of one file under two
// devices.
struct Tree {
    PathList candidates;
    StampList stamps;
    std::vector<std::uint32_t> members;
    std::vector<std::uint32_t> starts;
    std::vector<std::uint32_t> groupOf; // by candidate; UINT32_MAX for none
};

Tree randomTree(std::mt19937& random, std::uint32_t count, std::uint32_t groups, bool views)
{
    Tree tree;
    const auto pick = [&](std::uint32_t n) {
        return std::uniform_int_distribution<std::uint32_t>(0, n - 1)(random);
    };
    std::vector<std::vector<std::uint32_t>> byGroup(groups);
    tree.groupOf.assign(count, UINT32_MAX);
    for (std::uint32_t c = 0; c < count; ++c) {
        // A few paths recur (one folder listed twice).
        std::string path = "/t/";
        path.append(std::to_string(pick(4) == 0 ? pick(c + 1) : c));
        tree.candidates.append(path);
        FileStamp stamp;
        if (pick(8) != 0) {
            stamp.device = 1 + pick(views ? 3 : 1);
            // Few inode numbers, so hard links and colliding views are common.
            stamp.inode = 1 + pick(count / 2 + 1);
            stamp.size = pick(2);
            stamp.modified = pick(2);
            stamp.aliased = views && stamp.device == 2;
        }
        tree.stamps.push_back(stamp);
        if (pick(6) != 0) {
            tree.groupOf[c] = pick(groups);
            byGroup[tree.groupOf[c]].push_back(c);
        }
    }
    // A path's places share one stamp, as the passes give them, except on
    // some trees where a file was replaced between two looks.
    std::map<std::string, FileStamp> first;
    for (std::uint32_t c = 0; c < count; ++c) {
        const auto [at, inserted] = first.emplace(tree.candidates[c], tree.stamps[c]);
        if (!inserted && pick(5) != 0)
            tree.stamps[c] = at->second;
    }
    for (const auto& group : byGroup) {
        tree.starts.push_back(std::uint32_t(tree.members.size()));
        tree.members.insert(tree.members.end(), group.begin(), group.end());
    }
    tree.starts.push_back(std::uint32_t(tree.members.size()));
    return tree;
}

// The rows as they are defined, pair by pair.
std::vector<Row> doubleLoop(const Tree& tree, PartnerOrder order, std::uint64_t outerLimit)
{
    std::vector<Row> rows;
    const auto count = std::uint32_t(tree.candidates.size());
    for (std::uint32_t i = 0; i < count && i < outerLimit; ++i) {
        if (tree.groupOf[i] == UINT32_MAX)
            continue;
        for (std::uint32_t j = 0; j < (order == PartnerOrder::Both ? count : i); ++j) {
            if (tree.groupOf[j] != tree.groupOf[i] || tree.candidates[j] == tree.candidates[i]
                || tree.stamps[j].possiblySame(tree.stamps[i]))
                continue;
            rows.push_back({ j, i });
        }
    }
    return rows;
}

PairGroups groupsOf(const Tree& tree, PartnerOrder order, std::uint64_t outerLimit = UINT64_MAX)
{
    return PairGroups::make(
        order, tree.members, tree.starts, tree.candidates, tree.stamps, outerLimit);
}

// The groups of files a list of rows joins, as the reports list them.
std::vector<std::vector<std::uint32_t>> joinedBy(const std::vector<Row>& rows, std::size_t count)
{
    std::vector<std::uint32_t> parent(count);
    for (std::uint32_t c = 0; c < count; ++c)
        parent[c] = c;
    const auto root = [&](std::uint32_t c) {
        while (parent[c] != c)
            c = parent[c] = parent[parent[c]];
        return c;
    };
    std::vector<bool> paired(count, false);
    for (const Row& row : rows) {
        parent[std::max(root(row.first), root(row.second))]
            = std::min(root(row.first), root(row.second));
        paired[row.first] = paired[row.second] = true;
    }
    std::map<std::uint32_t, std::vector<std::uint32_t>> groups;
    for (std::uint32_t c = 0; c < count; ++c) {
        if (paired[c])
            groups[root(c)].push_back(c);
    }
    std::vector<std::vector<std::uint32_t>> out;
    for (auto& [first, group] : groups)
        out.push_back(std::move(group));
    return out;
}

} // namespace

TEST(PairGroups, RowsAreThoseOfTheDoubleLoopOnRandomTrees)
{
    std::mt19937 random(20261209);
    for (int round = 0; round < 400; ++round) {
        const bool views = round % 2 == 1;
        const std::uint32_t count = 2 + random() % 60;
        const Tree tree = randomTree(random, count, 1 + std::uint32_t(random() % 4), views);
        for (const PartnerOrder order : { PartnerOrder::Both, PartnerOrder::Earlier }) {
            // A pass stopped at some outer step keeps the rows before it.
            for (const std::uint64_t limit :
                { std::uint64_t(UINT64_MAX), std::uint64_t(count / 2) }) {
                SCOPED_TRACE(testing::Message()
                    << "round " << round << " order " << int(order) << " limit " << limit);
                const PairGroups pairs = groupsOf(tree, order, limit);
                const std::vector<Row> expected = doubleLoop(tree, order, limit);
                ASSERT_EQ(pairs.rows(), expected.size());
                ASSERT_EQ(pairs.listed(), expected);
                for (std::uint64_t r = 0; r < expected.size(); ++r)
                    ASSERT_EQ(pairs.row(r), expected[r]) << r;
                EXPECT_EQ(pairs.components(), joinedBy(expected, count));
            }
        }
    }
}

TEST(PairGroups, ChainsOfViewsExcludeOnlyTheFilesThatMayBeOne)
{
    // One file seen under a stacked file system (device 9, aliased) and
    // under two local devices with the same inode number, size and time:
    // the view is possibly each of the others, while the two local ones
    // are two files, and pair. The fourth is another file.
    PathList candidates;
    for (const char* path : { "/view/f", "/one/f", "/two/f", "/other/f" })
        candidates.append(path);
    StampList stamps(4);
    stamps[0] = { 9, 5, 10, 7, 0, true };
    stamps[1] = { 1, 5, 10, 7, 0, false };
    stamps[2] = { 2, 5, 10, 7, 0, false };
    stamps[3] = { 1, 6, 10, 7, 0, false };
    const auto pairs
        = PairGroups::make(PartnerOrder::Earlier, { 0, 1, 2, 3 }, { 0, 4 }, candidates, stamps);
    EXPECT_EQ(pairs.listed(), (std::vector<Row> { { 1, 2 }, { 0, 3 }, { 1, 3 }, { 2, 3 } }));
    EXPECT_EQ(pairs.components(), (std::vector<std::vector<std::uint32_t>> { { 0, 1, 2, 3 } }));
}

namespace {

// One group of `n` different files of one size.
struct OneGroup {
    explicit OneGroup(std::uint32_t n)
        : stamps(n)
        , members(n)
    {
        for (std::uint32_t c = 0; c < n; ++c) {
            std::string path = "/d/";
            path.append(std::to_string(c));
            candidates.append(path);
            stamps[c] = { 1, 10 + std::uint64_t(c), 0, 0, 0, false };
            members[c] = c;
        }
    }
    PairGroups pairs(PartnerOrder order) const
    {
        return PairGroups::make(
            order, members, { 0, std::uint32_t(members.size()) }, candidates, stamps);
    }

    PathList candidates;
    StampList stamps;
    std::vector<std::uint32_t> members;
};

} // namespace

TEST(PairGroups, BillionsOfRowsCostTheFilesAndReachEveryRow)
{
    // 100,000 files of one size: 4,999,950,000 rows, past every 32-bit
    // count, from a few bytes per file.
    const std::uint32_t n = 100000;
    const OneGroup group(n);
    const auto earlier = group.pairs(PartnerOrder::Earlier);
    ASSERT_EQ(earlier.rows(), std::uint64_t(n) * (n - 1) / 2);
    EXPECT_EQ(earlier.row(0), (Row { 0, 1 }));
    EXPECT_EQ(earlier.row(earlier.rows() - 1), (Row { n - 2, n - 1 }));
    // The first row of outer 65,537, whose rows begin past 2^31.
    const std::uint64_t before = std::uint64_t(65537) * 65536 / 2;
    EXPECT_EQ(earlier.row(before), (Row { 0, 65537 }));
    EXPECT_EQ(earlier.row(before - 1), (Row { 65535, 65536 }));

    // By name every file pairs both ways.
    const auto both = group.pairs(PartnerOrder::Both);
    ASSERT_EQ(both.rows(), std::uint64_t(n) * (n - 1));
    EXPECT_EQ(both.row(0), (Row { 1, 0 }));
    EXPECT_EQ(both.row(n - 1), (Row { 0, 1 }));
    EXPECT_EQ(both.row(both.rows() - 1), (Row { n - 2, n - 1 }));
}

namespace {

// A model of the files for removals: each file stands, is gone or has
// changed; some pairs are one file now (a file replaced by a link to its
// partner), and removing a file changes its hard links.
struct World {
    std::vector<int> state; // 0 stands, 1 gone, 2 changed
    std::set<std::pair<std::uint32_t, std::uint32_t>> oneFileNow;
    std::multimap<std::uint32_t, std::uint32_t> links;
    std::vector<std::uint32_t> removed; // in order, each file at its first removal

    PairGroups::Stands check(std::uint32_t file, std::uint32_t partner) const
    {
        if (oneFileNow.count({ file, partner }))
            return PairGroups::Stands::NotForThisFile;
        return state[partner] == 0 ? PairGroups::Stands::Yes : PairGroups::Stands::No;
    }
    void remove(std::uint32_t file)
    {
        if (state[file] != 0)
            return;
        state[file] = 1;
        removed.push_back(file);
        const auto [from, to] = links.equal_range(file);
        for (auto it = from; it != to; ++it) {
            if (state[it->second] == 0)
                state[it->second] = 2;
        }
    }
};

World randomWorld(std::mt19937& random, std::uint32_t count)
{
    World world;
    world.state.resize(count);
    for (std::uint32_t c = 0; c < count; ++c)
        world.state[c] = random() % 5 == 0 ? int(1 + random() % 2) : 0;
    for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = random() % count;
        const std::uint32_t b = random() % count;
        if (random() % 2)
            world.oneFileNow.insert({ a, b });
        else
            world.links.insert({ a, b });
    }
    return world;
}

} // namespace

TEST(PairGroups, RemovalPerGroupLeavesWhatTheLoopOverTheRowsLeaves)
{
    std::mt19937 random(7);
    for (int round = 0; round < 3000; ++round) {
        // Groups of 2 to 6 files, and some larger ones.
        const std::uint32_t count = round < 2000 ? 2 + random() % 5 : 7 + random() % 40;
        const Tree tree
            = randomTree(random, count, 1 + std::uint32_t(random() % 2), round % 3 == 0);
        const World start = randomWorld(random, count);
        for (const PartnerOrder order : { PartnerOrder::Both, PartnerOrder::Earlier }) {
            const PairGroups pairs = groupsOf(tree, order);
            for (const auto side : { PairGroups::Side::First, PairGroups::Side::Second }) {
                SCOPED_TRACE(testing::Message()
                    << "round " << round << " order " << int(order) << " side " << int(side));
                World byRows = start;
                for (const Row& row : pairs.listed()) {
                    const std::uint32_t file
                        = side == PairGroups::Side::First ? row.first : row.second;
                    const std::uint32_t partner
                        = side == PairGroups::Side::First ? row.second : row.first;
                    if (byRows.check(file, partner) == PairGroups::Stands::Yes)
                        byRows.remove(file);
                }
                World byGroups = start;
                std::vector<std::uint32_t> asked;
                pairs.removeEach(
                    side,
                    [&](std::uint32_t file, std::uint32_t partner) {
                        return byGroups.check(file, partner);
                    },
                    [&](std::uint32_t file) {
                        asked.push_back(file);
                        byGroups.remove(file);
                    });
                ASSERT_EQ(byGroups.removed, byRows.removed);
                ASSERT_EQ(byGroups.state, byRows.state);
                // Each file is asked to go once at most.
                ASSERT_EQ(std::set<std::uint32_t>(asked.begin(), asked.end()).size(), asked.size());
            }
        }
    }
}

TEST(PairGroups, RemovalOfAHugeGroupAsksEachFileOnce)
{
    // 30,000 files of one size: 449,985,000 rows, removed per group.
    const std::uint32_t n = 30000;
    const auto pairs = OneGroup(n).pairs(PartnerOrder::Earlier);
    for (const auto side : { PairGroups::Side::First, PairGroups::Side::Second }) {
        std::vector<bool> gone(n, false);
        std::uint64_t checks = 0;
        std::vector<std::uint32_t> removed;
        pairs.removeEach(
            side,
            [&](std::uint32_t, std::uint32_t partner) {
                ++checks;
                return gone[partner] ? PairGroups::Stands::No : PairGroups::Stands::Yes;
            },
            [&](std::uint32_t file) {
                gone[file] = true;
                removed.push_back(file);
            });
        // By the first column every file but the last goes, in order; by
        // the second, every file but the first.
        ASSERT_EQ(removed.size(), n - 1);
        EXPECT_EQ(removed.front(), side == PairGroups::Side::First ? 0u : 1u);
        EXPECT_EQ(removed.back(), side == PairGroups::Side::First ? n - 2 : n - 1);
        EXPECT_LT(checks, std::uint64_t(4) * n);
    }
}
