// "Удалить все" and "Переместить все в корзину" on a real search's groups
// leave exactly the files a loop over the rows leaves: two copies of one
// random tree, one acted on through the groups, the other through the same
// rows written one by one.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QClipboard>
#include <QGuiApplication>
#include <filesystem>
#include <random>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

// The files of a random tree, by relative path, each with its content, and
// the hard links to make (link, target).
struct Layout {
    std::vector<std::pair<std::string, std::string>> files;
    std::vector<std::pair<std::string, std::string>> links;
};

Layout randomLayout(std::mt19937& random)
{
    Layout layout;
    const auto pick = [&](int n) { return int(random() % unsigned(n)); };
    // Groups of 2 to 6 files sharing a name, a size or the whole content.
    const int groups = 2 + pick(3);
    for (int g = 0; g < groups; ++g) {
        const int members = 2 + pick(5);
        for (int m = 0; m < members; ++m) {
            std::string path = "d";
            path.append(std::to_string(pick(4))).append("/g").append(std::to_string(g));
            path.append("_").append(std::to_string(m)).append(pick(3) == 0 ? "" : "_x");
            path.append(".txt");
            // Some share the name of another group's file.
            if (pick(4) == 0) {
                path.assign(1, 'e');
                path.append(std::to_string(m)).append("/same.txt");
            }
            std::string content = "group ";
            content.append(std::to_string(g));
            // Same size, other bytes, now and then.
            if (pick(4) == 0)
                content.back() = char('a' + pick(20));
            layout.files.emplace_back(path, content);
        }
    }
    // A few hard links to files of the tree.
    for (int k = 0; k < 2; ++k) {
        const auto& target = layout.files[std::size_t(pick(int(layout.files.size())))].first;
        std::string link = "h/link";
        link.append(std::to_string(k)).append(".txt");
        layout.links.emplace_back(link, target);
    }
    return layout;
}

class RemoveAll : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        dataHome_.point(tree_.path("data"));
    }

    // Makes the layout under `root` (a folder of the test tree).
    std::string make(const Layout& layout, const std::string& root)
    {
        for (const auto& [path, content] : layout.files) {
            std::string relative = root;
            relative.append("/").append(path);
            if (::access(tree_.path(relative).c_str(), F_OK) != 0)
                tree_.file(relative, content);
        }
        for (const auto& [link, target] : layout.links) {
            std::string to = root;
            to.append("/").append(link);
            std::string from = root;
            from.append("/").append(target);
            std::filesystem::create_directories(
                std::filesystem::path(tree_.path(to)).parent_path());
            std::filesystem::create_hard_link(tree_.path(from), tree_.path(to));
        }
        return tree_.path(root);
    }

    // Searches `root`; the rows, each path relative to the root.
    std::vector<std::pair<std::string, std::string>> search(
        const std::string& root, controls::TxpCheckBox* criterion)
    {
        boxes().messages.clear();
        prepareSearch({ root }, "txt", criterion);
        click(form1->xpButton3);
        std::vector<std::pair<std::string, std::string>> out;
        for (const auto& [first, second] : rows())
            out.emplace_back(first.substr(root.size()), second.substr(root.size()));
        return out;
    }

    // The files left under `root`, relative to it.
    std::set<std::string> filesUnder(const std::string& root) const
    {
        std::set<std::string> out;
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root)) {
            if (entry.is_regular_file())
                out.insert(entry.path().string().substr(root.size()));
        }
        return out;
    }

    TempTree tree_;
    DataHome dataHome_;
};

} // namespace

TEST_F(RemoveAll, ByGroupsLeavesWhatTheLoopOverTheRowsLeaves)
{
    std::mt19937 random(11);
    int round = 0;
    int removing = 0; // rounds where some file went
    for (controls::TxpCheckBox* criterion : criteria()) {
        for (int column = 1; column <= 2; ++column) {
            for (const bool trash : { false, true }) {
                for (int tries = 0; tries < 3; ++tries, ++round) {
                    SCOPED_TRACE(::testing::Message()
                        << "round " << round << " column " << column << " trash " << trash);
                    const Layout layout = randomLayout(random);
                    std::string name = "r";
                    name.append(std::to_string(round));
                    const std::string byGroups = make(layout, name + "a");
                    const std::string byRows = make(layout, name + "b");
                    const std::size_t made = filesUnder(byGroups).size();

                    const auto act = [&] {
                        if (trash)
                            form2->trashAll(column);
                        else
                            click(column == 1 ? form2->xpButton3 : form2->xpButton6);
                    };
                    const auto groupRows = search(byGroups, criterion);
                    if (groupRows.empty())
                        continue;
                    ASSERT_FALSE(form1->ListBox2.listed());
                    act();

                    // The same rows, written one by one, make the editor loop
                    // over them.
                    const auto loopRows = search(byRows, criterion);
                    ASSERT_EQ(loopRows, groupRows);
                    std::vector<std::pair<std::uint32_t, std::uint32_t>> indexes;
                    for (std::uint64_t r = 0; r < form1->ListBox2.size(); ++r)
                        indexes.emplace_back(
                            form1->ListBox2.candidate(r), form1->ListBox3.candidate(r));
                    form1->ListBox2.clear();
                    form1->ListBox3.clear();
                    for (const auto& [first, second] : indexes) {
                        form1->ListBox2.append(first);
                        form1->ListBox3.append(second);
                    }
                    act();
                    EXPECT_EQ(filesUnder(byGroups), filesUnder(byRows));
                    removing += filesUnder(byGroups).size() < made ? 1 : 0;
                }
            }
        }
    }
    EXPECT_GT(removing, round / 2);
}

TEST_F(RemoveAll, CopyingAllPairsCopiesAMillionAtMost)
{
    // 1,500 files of one size: 1,124,250 rows, computed from one group.
    const auto showGroup = [&](std::uint32_t files) {
        form2->clearNameLists();
        form1->ListBox1.clear();
        for (std::uint32_t c = 0; c < files; ++c) {
            std::string path = "/nowhere/f";
            path.append(std::to_string(c));
            form1->ListBox1.append(path);
        }
        search::StampList stamps(files);
        std::vector<std::uint32_t> members(files);
        for (std::uint32_t c = 0; c < files; ++c) {
            stamps[c] = { 1, 100 + std::uint64_t(c), 0, 0, 0, false };
            members[c] = c;
        }
        form1->results.pairs = search::PairGroups::make(
            search::PartnerOrder::Earlier, members, { 0, files }, form1->ListBox1, stamps);
        form1->ListBox2.release();
        form1->ListBox3.release();
        showEditor(Criterion::Size);
    };
    QGuiApplication::clipboard()->setText(QStringLiteral("before"));
    showGroup(1500);
    ASSERT_EQ(form1->ListBox2.size(), 1'124'250u);
    form2->copyAllPairs();
    EXPECT_EQ(boxes().messages,
        std::vector<QString> { QStringLiteral("Слишком много пар для копирования: 1124250") });
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("before"));

    boxes().messages.clear();
    showGroup(40);
    form2->copyAllPairs();
    EXPECT_TRUE(boxes().messages.empty());
    const QStringList lines = QGuiApplication::clipboard()->text().split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(lines.size(), 780);
    EXPECT_EQ(lines.front(), QStringLiteral("/nowhere/f0\t/nowhere/f1"));
    EXPECT_EQ(lines.back(), QStringLiteral("/nowhere/f38\t/nowhere/f39"));
}
