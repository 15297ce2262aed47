// One file under several paths, through the real windows: no search pairs a
// file with itself, and no deletion takes the only copy, whatever was
// swapped in after the search.
#include "search/collector.h"
#include "search/content_stage.h"
#include "search/deletion.h"
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <algorithm>
#include <cstdio>
#include <fcntl.h>
#include <sched.h>
#include <set>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

bool exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

class Identity : public FormsTest {
protected:
    // One search of `dirs` for "txt" by the criterion box; the hidden lists
    // and every box are as the search left them.
    void search(const std::vector<std::string>& dirs, controls::TxpCheckBox* criterion)
    {
        prepareSearch(dirs, "txt", criterion);
        click(form1->xpButton3);
    }

    void selectRow(int row)
    {
        auto* list = form2->fsListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
    }
};

} // namespace

TEST_F(Identity, SpellingsOfOneDirectoryFindNoPairUnderAnyCriterion)
{
    TempTree tree;
    const std::string precious = tree.file("d/precious.txt", "only copy");
    tree.dir("d/sub");
    const std::vector<std::string> spellings
        = { tree.path("d"), tree.root() + "/./d", tree.root() + "//d", tree.path("d/sub/..") };
    for (controls::TxpCheckBox* criterion : criteria()) {
        SCOPED_TRACE(criterion->text().toStdString());
        search(spellings, criterion);
        EXPECT_EQ(form1->ListBox1.size(), 4u); // collected at each spelling
        EXPECT_TRUE(rows().empty());
        click(form2->xpButton3);
        click(form2->xpButton6);
        EXPECT_TRUE(exists(precious));
    }
}

TEST_F(Identity, ALinkedRootOrALinkAboveARootIsNeverWalked)
{
    TempTree tree;
    const std::string precious = tree.file("d/precious.txt", "only copy");
    tree.link("linked", tree.path("d"));
    tree.link("up", tree.root());
    for (controls::TxpCheckBox* criterion : criteria()) {
        SCOPED_TRACE(criterion->text().toStdString());
        search({ tree.path("d"), tree.path("linked"), tree.path("up/d") }, criterion);
        EXPECT_EQ(form1->ListBox1.size(), 1u);
        EXPECT_TRUE(rows().empty());
        EXPECT_TRUE(exists(precious));
    }
}

TEST_F(Identity, HardLinksOfOneFileAreOneFile)
{
    TempTree tree;
    const std::string a = tree.file("a/same.txt", "content");
    tree.dir("b");
    const std::string hard = tree.path("b/same.txt");
    ASSERT_EQ(::link(a.c_str(), hard.c_str()), 0);
    const std::string copy = tree.file("c/same.txt", "content");
    // Whatever order the directories list in, the two names of one file
    // never form a row, and each pairs with the copy.
    const auto pairsOf = [&] {
        std::set<std::pair<std::string, std::string>> pairs;
        for (const auto& [first, second] : rows()) {
            EXPECT_NE(std::set<std::string>({ first, second }), std::set<std::string>({ a, hard }));
            pairs.insert(std::minmax(first, second));
        }
        return pairs;
    };
    const std::set<std::pair<std::string, std::string>> expected
        = { std::minmax(a, copy), std::minmax(hard, copy) };
    for (controls::TxpCheckBox* criterion : criteria()) {
        SCOPED_TRACE(criterion->text().toStdString());
        search({ tree.root() }, criterion);
        EXPECT_EQ(pairsOf(), expected);
        EXPECT_EQ(rows().size(), criterion == form1->CheckBox2 ? 4u : 2u);
    }
    // Deleting a column leaves one of the two files, under one name at least.
    click(form2->xpButton3);
    EXPECT_TRUE(exists(copy) || exists(a) || exists(hard));
}

TEST_F(Identity, RowsOfOneFileAreNeverDeleted)
{
    // Rows that name one file twice, as a search that knew no identity
    // made them: the editor refuses them by itself.
    TempTree tree;
    const std::string precious = tree.file("d/precious.txt", "only copy");
    for (const Criterion criterion : { Criterion::Name, Criterion::Size, Criterion::Content }) {
        form1->ListBox1.clear();
        form1->ListBox2.clear();
        form1->ListBox3.clear();
        form2->clearNameLists();
        form1->ListBox1.append(precious);
        form1->ListBox1.append(tree.root() + "/./d/precious.txt");
        form1->ListBox2.append(0);
        form1->ListBox3.append(1);
        form1->ListBox2.append(1);
        form1->ListBox3.append(0);
        form1->rowsCriterion = criterion;
        form1->candidateStamps = { fileSystem.measure(precious), fileSystem.measure(precious) };
        form2->appendRowNames();
        form2->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form2));
        selectRow(0);
        click(form2->xpButton2);
        click(form2->xpButton5);
        EXPECT_EQ(
            boxes().messages, (std::vector<QString> { kNotDeletedSameFile, kNotDeletedSameFile }));
        boxes().messages.clear();
        click(form2->xpButton3);
        click(form2->xpButton6);
        EXPECT_TRUE(exists(precious));
        EXPECT_EQ(form2->Label3->path(), precious);
        form2->close();
    }
}

TEST_F(Identity, APartnerReplacedByALinkToTheFileIsTheFileItself)
{
    TempTree tree;
    const std::string a = tree.file("a/x.txt", "same");
    const std::string b = tree.file("b/x.txt", "same");
    for (controls::TxpCheckBox* criterion : criteria()) {
        SCOPED_TRACE(criterion->text().toStdString());
        search({ tree.root() }, criterion);
        ASSERT_FALSE(rows().empty());
        const auto [file, partner] = rows()[0];
        ASSERT_EQ(::unlink(partner.c_str()), 0);
        ASSERT_EQ(::symlink(file.c_str(), partner.c_str()), 0);
        selectRow(0);
        click(form2->xpButton2);
        EXPECT_EQ(boxes().messages, std::vector<QString> { kNotDeletedSameFile });
        boxes().messages.clear();
        click(form2->xpButton3);
        EXPECT_TRUE(exists(file));
        EXPECT_EQ(form2->Label3->path(), file);
        ::unlink(partner.c_str());
        tree.file(partner == a ? "a/x.txt" : "b/x.txt", "same");
    }
}

TEST_F(Identity, ADirectorySwappedForALinkLeavesWhatLiesBehindItAlone)
{
    // After the search a directory on the rows' paths becomes a link to a
    // directory outside every chosen one: nothing there is deleted, and no
    // mode changes there.
    TempTree tree;
    const std::string outside = tree.file("outside/x.txt", "same");
    ASSERT_EQ(::chmod(outside.c_str(), 0444), 0);
    const std::string searched = tree.dir("searched");
    tree.file("searched/d1/x.txt", "same");
    tree.file("searched/d2/x.txt", "same");
    for (controls::TxpCheckBox* criterion : criteria()) {
        SCOPED_TRACE(criterion->text().toStdString());
        search({ searched }, criterion);
        ASSERT_FALSE(rows().empty());
        ASSERT_EQ(::rename(tree.path("searched/d1").c_str(), tree.path("d1.kept").c_str()), 0);
        tree.link("searched/d1", tree.path("outside"));
        selectRow(0);
        click(form2->xpButton2);
        click(form2->xpButton5);
        click(form2->xpButton3);
        click(form2->xpButton6);
        EXPECT_TRUE(exists(outside));
        struct stat st;
        ASSERT_EQ(::stat(outside.c_str(), &st), 0);
        EXPECT_EQ(st.st_mode & 07777, 0444u);
        ASSERT_EQ(::unlink(tree.path("searched/d1").c_str()), 0);
        ASSERT_EQ(::rename(tree.path("d1.kept").c_str(), tree.path("searched/d1").c_str()), 0);
        // At least one copy of the pair is still there.
        EXPECT_TRUE(
            exists(tree.path("searched/d1/x.txt")) || exists(tree.path("searched/d2/x.txt")));
        tree.file("searched/d1/x.txt", "same");
        tree.file("searched/d2/x.txt", "same");
    }
}

TEST_F(Identity, AContentPartnerEditedAfterTheSearchKeepsTheFile)
{
    TempTree tree;
    const std::string a = tree.file("a.txt", "identical bytes");
    const std::string b = tree.file("b.txt", "identical bytes");
    search({ tree.root() }, form1->checkbox1);
    ASSERT_EQ(rows(), (Pairs { { a, b } }));
    tree.file("b.txt", "other bytes now");
    selectRow(0);
    click(form2->xpButton2);
    EXPECT_EQ(boxes().messages, std::vector<QString> { kNotDeletedCopyChanged });
    EXPECT_TRUE(exists(a));
    click(form2->xpButton3);
    EXPECT_TRUE(exists(a));

    // A partner gone while its label still shows its path: the same answer.
    boxes().messages.clear();
    ASSERT_EQ(::unlink(b.c_str()), 0);
    click(form2->xpButton2);
    EXPECT_EQ(boxes().messages, std::vector<QString> { kNotDeletedCopyChanged });
    EXPECT_TRUE(exists(a));

    // Once the label shows the copy is gone, the user knows: it is deleted.
    boxes().messages.clear();
    selectRow(0);
    EXPECT_EQ(form2->Label4->text(), kDeletedMarker);
    click(form2->xpButton2);
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_FALSE(exists(a));
    EXPECT_EQ(form2->Label3->text(), kDeletedMarker);
}

TEST_F(Identity, AFileChangedSinceTheSearchIsNotDeleted)
{
    TempTree tree;
    const std::string a = tree.file("a.txt", "same");
    const std::string b = tree.file("b.txt", "same");
    search({ tree.root() }, form1->CheckBox3);
    ASSERT_EQ(rows(), (Pairs { { a, b } }));
    tree.file("a.txt", "longer now");
    selectRow(0);
    click(form2->xpButton2);
    click(form2->xpButton3);
    EXPECT_TRUE(exists(a));
    EXPECT_EQ(form2->Label3->path(), a);
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(Identity, GroupsDeletedColumnByColumnKeepOneCopy)
{
    for (const int count : { 3, 4 }) {
        for (controls::TxpCheckBox* criterion : criteria()) {
            for (const bool firstColumnFirst : { true, false }) {
                SCOPED_TRACE(::testing::Message()
                    << count << " files, " << criterion->text().toStdString()
                    << (firstColumnFirst ? ", column 1 first" : ""));
                TempTree tree;
                std::vector<std::string> files;
                for (int k = 0; k < count; ++k)
                    files.push_back(tree.file(numbered("d", k, "/copy.txt"), "same"));
                search({ tree.root() }, criterion);
                ASSERT_FALSE(rows().empty());
                click(firstColumnFirst ? form2->xpButton3 : form2->xpButton6);
                click(firstColumnFirst ? form2->xpButton6 : form2->xpButton3);
                int left = 0;
                for (const std::string& file : files)
                    left += exists(file) ? 1 : 0;
                EXPECT_EQ(left, 1);
            }
        }
    }
}

namespace {

// Runs `work` in a child process of its own mount namespace, with `bound` a
// bind mount of `dir`.
int inBindMount(const std::string& dir, const std::string& bound, const std::function<int()>& work)
{
    return inMountNamespace([&] {
        if (::mount(dir.c_str(), bound.c_str(), nullptr, MS_BIND, nullptr) != 0)
            return kChildSkipped;
        return work();
    });
}

} // namespace

TEST(BindMount, TheSameDirectoryTwiceHoldsOneFile)
{
    // A bind mount shows a directory as an ordinary one elsewhere. The walk,
    // the three ways of pairing and the deletion check must all see one file.
    TempTree tree;
    const std::string precious = tree.file("d/precious.txt", "only copy");
    const std::string bound = tree.dir("bound");
    const int status = inBindMount(tree.path("d"), bound, [&] {
        fs::FileSystem& files = fs::realFileSystem();
        search::PathList candidates;
        search::FileLister lister;
        search::Collector collector(files, lister);
        const std::vector<search::WildcardMatcher> masks = { search::WildcardMatcher("*.txt") };
        search::ProgressFunction goOn({});
        for (const std::string& root : { tree.path("d"), bound })
            collector.collect(root, masks, candidates, goOn);
        if (candidates.size() != 2)
            return 2;
        search::StampList stamps;
        for (std::size_t i = 0; i < candidates.size(); ++i)
            stamps.push_back(files.measure(std::string(candidates[i])));
        search::KeyPairer pairer;
        for (std::uint32_t i = 0; i < 2; ++i)
            pairer.add(i, std::uint64_t(stamps[i].size));
        const search::PairGroups bySize = pairer.pairs(candidates, stamps);
        search::PairGroups byName;
        search::StampList named;
        search::pairByName(candidates, search::identifyWith(files), byName, named);
        const auto byContent = search::pairByContent(files, candidates, stamps, goOn);
        if (!bySize.listed().empty() || !byName.listed().empty() || !byContent
            || !byContent->listed().empty())
            return 3;
        const auto partner = search::checkPartner(files, Criterion::Size,
            std::string(candidates[0]), stamps[0], std::string(candidates[1]), stamps[1]);
        return partner == search::Partner::SameFile ? 0 : 4;
    });
    if (status == kChildSkipped)
        GTEST_SKIP() << "the kernel refuses a private mount namespace with a bind mount here";
    EXPECT_EQ(status, 0);
    EXPECT_TRUE(exists(precious));
}

TEST_F(Identity, AFileAndItsOverlayViewAreOneFileInTheWindows)
{
    // An overlay shows its lower folder's files under its own device
    // number. Chosen as two roots, the two never pair, and rows that name
    // them both (as a search that knew no better would make) delete neither
    // and move neither to the trash.
    TempTree tree;
    const std::string base = tree.dir("base");
    const std::string lower = base + "/lower";
    const std::string merged = base + "/merged";
    const int status = inMountNamespace([&] {
        if (::mount("qevra-test", base.c_str(), "tmpfs", 0, "mode=0755") != 0)
            return kChildSkipped;
        for (const std::string& dir : { lower, base + "/upper", base + "/work", merged })
            ::mkdir(dir.c_str(), 0755);
        const std::string file = tree.file("base/lower/x.txt", "only copy");
        const std::string options
            = "lowerdir=" + lower + ",upperdir=" + base + "/upper,workdir=" + base + "/work";
        if (::mount("overlay", merged.c_str(), "overlay", 0, options.c_str()) != 0)
            return kChildSkipped;
        const std::string view = merged + "/x.txt";
        for (controls::TxpCheckBox* criterion : criteria()) {
            search({ lower, merged }, criterion);
            CHECK_IN_CHILD(form1->ListBox1.size() == 2);
            CHECK_IN_CHILD(rows().empty());
        }
        for (const Criterion criterion : { Criterion::Name, Criterion::Size, Criterion::Content }) {
            if (form2->isVisible())
                form2->close();
            boxes().messages.clear();
            showPairs({ { file, view }, { view, file } }, criterion);
            selectRow(0);
            click(form2->xpButton2);
            click(form2->xpButton5);
            form2->trashFile(1);
            CHECK_IN_CHILD(boxes().messages
                == (std::vector<QString> {
                    kNotDeletedSameFile, kNotDeletedSameFile, kNotTrashedSameFile }));
            click(form2->xpButton3);
            click(form2->xpButton6);
            form2->trashAll(2);
            CHECK_IN_CHILD(qevra::testing::readFile(file) == "only copy");
            CHECK_IN_CHILD(qevra::testing::readFile(view) == "only copy");
        }
        return 0;
    });
    if (status == kChildSkipped)
        GTEST_SKIP() << "the kernel refuses a private tmpfs and overlay mount here";
    EXPECT_EQ(status, 0);
}
