// The three criteria through the main window: the rows of the name and size
// passes, the content stage, the hand-off to the copies editor, and Stop.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include "search/comparison_memory.h"

#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

using Pairs = std::vector<std::pair<std::string, std::string>>;

class Passes : public FormsTest {
protected:
    // Runs one search of `dirs` for `extension` with a criterion box.
    void search(const std::vector<std::string>& dirs, const QString& extension,
        controls::TxpCheckBox* criterion)
    {
        chooseDirectories(dirs);
        typeExtension(extension);
        if (!criterion->isChecked())
            click(criterion);
        click(form1->xpButton3);
    }

    QStringList names(controls::TfsListBox* list) const
    {
        QStringList out;
        for (std::uint64_t r = 0; r < list->rowCount(); ++r)
            out << list->rowText(std::int64_t(r));
        return out;
    }

    QString kind() const { return form2->Label6->text(); }
};

} // namespace

TEST_F(Passes, NamePassGivesTwoRowsForEveryPairInOuterCandidateOrder)
{
    TempTree tree;
    const auto a = tree.file("a/same.txt", "1");
    const auto b = tree.file("b/same.txt", "22");
    const auto c = tree.file("c/same.txt", "333");
    tree.file("c/Same.txt"); // another letter case: no pair
    tree.file("d/other.txt");
    search({ tree.path("a"), tree.path("b"), tree.path("c"), tree.path("d") }, "txt",
        form1->CheckBox2);

    EXPECT_EQ(rows(), (Pairs { { b, a }, { c, a }, { a, b }, { c, b }, { a, c }, { b, c } }));
    EXPECT_EQ(names(form2->fsListBox1), QStringList(6, "same.txt"));
    EXPECT_EQ(names(form2->fsListBox2), QStringList(6, "same.txt"));
    EXPECT_EQ(form2->Label1->text(), QStringLiteral("Всего найденных дубликатов - 6"));
    EXPECT_FALSE(form1->isVisible());
    EXPECT_TRUE(form2->isVisible());
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
    EXPECT_EQ(form1->ProgressBar1->maximum(), 5);
    EXPECT_EQ(form1->StatusBar1->text(), "other.txt"); // the last candidate's name
    EXPECT_EQ(form2->Label5->text(), QStringLiteral("Просмотр 1 из 6"));
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(Passes, NamePassNeverPairsAFileWithItselfAndCountsZeroWhenAlone)
{
    TempTree tree;
    const auto x = tree.file("d/x.txt");
    const auto y = tree.file("e/x.txt");
    // The same directory chosen twice: its file is collected twice.
    search({ tree.path("d"), tree.path("d") }, "txt", form1->CheckBox2);
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(form2->Label1->text(), QStringLiteral("Всего найденных дубликатов - 0"));
    EXPECT_TRUE(form2->isVisible());
    EXPECT_FALSE(form1->isVisible());

    // With a namesake elsewhere, each of its places pairs with it.
    form2->close();
    search({ tree.path("d"), tree.path("d"), tree.path("e") }, "txt", form1->CheckBox2);
    EXPECT_EQ(rows(), (Pairs { { y, x }, { y, x }, { x, y }, { x, y } }));

    // No candidates at all: no message, an empty editor.
    form2->close();
    search({ tree.path("missing") }, "txt", form1->CheckBox2);
    EXPECT_TRUE(rows().empty());
    EXPECT_EQ(form1->ProgressBar1->maximum(), 0);
    EXPECT_EQ(form1->StatusBar1->text(), "    Идет поиск копий файлов");
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(Passes, PreviewKindFollowsTheExtensionTextAndIsNeverReset)
{
    TempTree tree;
    tree.file("p/a.jpg");
    EXPECT_EQ(kind(), "Label6");
    search({ tree.path("p") }, "jpg", form1->CheckBox2);
    EXPECT_EQ(kind(), "graf");
    form2->close();
    search({ tree.path("p") }, "txt", form1->CheckBox2); // neither set: kept
    EXPECT_EQ(kind(), "graf");
    form2->close();
    search({ tree.path("p") }, "mp3", form1->CheckBox2); // no candidates, still media
    EXPECT_EQ(kind(), "mus");
    form2->close();
    search({ tree.path("p") }, "mpeg", form1->CheckBox2); // in the list, in neither set
    EXPECT_EQ(kind(), "mus");
    form2->close();
    search({ tree.path("p") }, "JPG", form1->CheckBox2); // the sets compare exactly
    EXPECT_EQ(kind(), "mus");
    form2->close();
    search({ tree.path("p") }, "jpg", form1->CheckBox2);
    // A name search leaves the preview toggle as it was.
    EXPECT_FALSE(form2->fsbitbtn4->isHidden());
}

TEST_F(Passes, SizePassGivesOneRowPerPairEarlierFirst)
{
    TempTree tree;
    const auto a = tree.file("a.txt", "abc");
    const auto b = tree.file("b.txt", "xyz");
    const auto c = tree.file("c.txt", "123");
    tree.file("d.txt", "four");
    const auto e = tree.file("sub/e.txt");
    const auto f = tree.file("sub/f.txt");
    search({ tree.root() }, "txt", form1->CheckBox3);
    EXPECT_EQ(rows(), (Pairs { { a, b }, { a, c }, { b, c }, { e, f } }));
    EXPECT_EQ(names(form2->fsListBox1), QStringList({ "a.txt", "a.txt", "b.txt", "e.txt" }));
    EXPECT_EQ(names(form2->fsListBox2), QStringList({ "b.txt", "c.txt", "c.txt", "f.txt" }));
    EXPECT_EQ(form2->Label1->text(), QStringLiteral("Всего найденных дубликатов - 4"));
    EXPECT_EQ(form1->StatusBar1->text(), "");
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
    EXPECT_FALSE(form1->isVisible());
    EXPECT_TRUE(form2->isVisible());
    // Kind "Label6" is no kind: the preview toggle and its hint stay hidden.
    EXPECT_TRUE(form2->fsbitbtn4->isHidden());
    EXPECT_TRUE(form2->Label9->isHidden());
}

TEST_F(Passes, SizePassPairsADoubleCollectedFileOnlyWithOthers)
{
    TempTree tree;
    const auto x = tree.file("d/x.txt", "same");
    const auto y = tree.file("e/y.txt", "size");
    search({ tree.path("d"), tree.path("e"), tree.path("d") }, "txt", form1->CheckBox3);
    EXPECT_EQ(rows(), (Pairs { { x, y }, { y, x } }));
}

TEST_F(Passes, ContentStageKeepsOnlyWholeFilesThatAreEqual)
{
    TempTree tree;
    std::string big(70000, 'q');
    std::string lateDiff = big;
    lateDiff[20000] = 'r'; // differs only after the first 16384 bytes
    std::string lastDiff = big;
    lastDiff.back() = 'r';
    std::string firstDiff = big;
    firstDiff.front() = 'r';
    const auto one = tree.file("1.dat", big);
    tree.file("2.dat", lateDiff);
    tree.file("3.dat", lastDiff);
    tree.file("4.dat", firstDiff);
    const auto five = tree.file("5.dat", big);
    const auto e1 = tree.file("e1.dat");
    const auto e2 = tree.file("e2.dat");
    search({ tree.root() }, "dat", form1->checkbox1);
    EXPECT_EQ(rows(), (Pairs { { one, five }, { e1, e2 } }));
    EXPECT_EQ(form2->Label1->text(), QStringLiteral("Всего найденных дубликатов - 2"));

    // By size alone every same-sized pair stays.
    form2->close();
    click(form1->checkbox1);
    search({ tree.root() }, "dat", form1->CheckBox3);
    EXPECT_EQ(rows().size(), 11u); // ten pairs among five, one among the empty files
}

TEST_F(Passes, FileThatVanishesBeforeTheContentStageLosesItsRows)
{
    TempTree tree;
    const auto a = tree.file("a.txt", "same");
    const auto b = tree.file("b.txt", "same");
    const auto c = tree.file("c.txt", "same");
    fileSystem.onMeasure = [&](const std::string& path) {
        if (path == c)
            ::unlink(b.c_str());
    };
    search({ tree.root() }, "txt", form1->checkbox1);
    EXPECT_EQ(rows(), (Pairs { { a, c } }));
}

TEST_F(Passes, NoCandidatesOrNoPairsAreReportedAndTheEditorStillOpens)
{
    TempTree tree;
    tree.file("only/one.mp3", "x");
    search({ tree.path("missing") }, "txt", form1->CheckBox3);
    EXPECT_EQ(boxes().messages, std::vector<QString> { "Файлов нет" });
    EXPECT_EQ(form1->StatusBar1->text(), QStringLiteral("    Идет поиск копий файлов"));
    EXPECT_TRUE(form1->isVisible());
    EXPECT_TRUE(form2->isVisible());
    EXPECT_EQ(form2->Label1->text(), "Label1");
    EXPECT_EQ(kind(), "Label6"); // nothing set without candidates
    EXPECT_EQ(form2->Label5->text(), QStringLiteral("Просмотр 1 из 0"));

    form2->close();
    search({ tree.path("only") }, "mp3", form1->CheckBox3);
    EXPECT_EQ(boxes().messages.back(), "Дубликатов нету");
    EXPECT_EQ(kind(), "mus");
    EXPECT_FALSE(form2->fsbitbtn4->isHidden());
    EXPECT_TRUE(form1->isVisible());
    EXPECT_TRUE(form2->isVisible());
}

TEST_F(Passes, CandidateThatCannotBeMeasuredEndsTheSearchInTheErrorBox)
{
    TempTree tree;
    const auto a = tree.file("a.txt", "same");
    const auto b = tree.file("b.txt", "same");
    const auto c = tree.file("c.txt", "same");
    fileSystem.measureErrors[c] = EACCES;
    search({ tree.root() }, "txt", form1->CheckBox3);
    EXPECT_EQ(boxes().errors, std::vector<QString> { "I/O error 13." });
    EXPECT_EQ(rows(), (Pairs { { a, b } })); // found before the failure
    EXPECT_EQ(form1->StatusBar1->text(), QStringLiteral("   ") + QString::fromStdString(c));
    EXPECT_EQ(form1->ProgressBar1->position(), 3);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(names(form2->fsListBox1).isEmpty());
    EXPECT_FALSE(form1->searching());

    // By content, rows are made only once every candidate is measured and
    // compared: the failure leaves none.
    boxes().errors.clear();
    click(form1->CheckBox3);
    click(form1->checkbox1);
    click(form1->xpButton3);
    EXPECT_EQ(boxes().errors, std::vector<QString> { "I/O error 13." });
    EXPECT_TRUE(rows().empty());
    EXPECT_FALSE(form2->isVisible());
}

TEST_F(Passes, StopDuringTheSizePassKeepsTheRowsFoundAndShowsNothing)
{
    TempTree tree;
    const auto a = tree.file("a.txt", "same");
    const auto b = tree.file("b.txt", "same");
    const auto c = tree.file("c.txt", "same");
    fileSystem.onMeasure = [&](const std::string& path) {
        if (path == b)
            click(form1->fsBitBtn4);
    };
    search({ tree.root() }, "txt", form1->CheckBox3);
    EXPECT_EQ(rows(), (Pairs { { a, b } }));
    EXPECT_EQ(form1->StatusBar1->text(), "");
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
    EXPECT_EQ(StopFlag, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(names(form2->fsListBox1).isEmpty());
    EXPECT_TRUE(boxes().messages.empty());
    (void)c;
}

TEST_F(Passes, StopDuringTheContentStageEndsItWhileTheWindowStaysLive)
{
    TempTree tree;
    for (int i = 0; i < 6; ++i)
        tree.file(numbered("f", i, ".txt"), "identical");
    // Reading is slow; the user presses Stop as soon as the window next
    // takes events after the last file was measured, that is while the
    // content stage runs.
    fileSystem.onOpenRead
        = [](const std::string&) { std::this_thread::sleep_for(std::chrono::milliseconds(100)); };
    const std::string last = tree.path("f5.txt");
    std::atomic<bool> stopPressed = false;
    fileSystem.onMeasure = [&](const std::string& path) {
        if (path == last)
            QTimer::singleShot(0, form1, [&] {
                stopPressed = true;
                click(form1->fsBitBtn4);
            });
    };
    search({ tree.root() }, "txt", form1->checkbox1);
    EXPECT_TRUE(stopPressed);
    EXPECT_EQ(form1->StatusBar1->text(), "");
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
    EXPECT_EQ(StopFlag, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(form1->isVisible());
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(Passes, ACandidateSwappedForAPipeNeverHoldsTheWindow)
{
    // Swapped before it is measured: the search ends in the error box at
    // once, as for any file that cannot be opened.
    TempTree tree;
    const auto a = tree.file("a.txt", "same");
    const auto b = tree.file("b.txt", "same");
    fileSystem.onMeasure = [&](const std::string& path) {
        if (path == b) {
            ::unlink(b.c_str());
            ::mkfifo(b.c_str(), 0644);
        }
    };
    search({ tree.root() }, "txt", form1->CheckBox3);
    EXPECT_EQ(boxes().errors, std::vector<QString> { "I/O error 6." });
    EXPECT_FALSE(form1->searching());

    // Swapped after it was measured: the content stage passes it by, and
    // Stop still ends the search.
    boxes().errors.clear();
    ::unlink(b.c_str());
    tree.file("b.txt", "same");
    const auto c = tree.file("c.txt", "same");
    fileSystem.onMeasure = [&](const std::string& path) {
        if (path == c) {
            ::unlink(a.c_str());
            ::mkfifo(a.c_str(), 0644);
        }
    };
    click(form1->CheckBox3);
    click(form1->checkbox1);
    click(form1->xpButton3);
    EXPECT_TRUE(boxes().errors.empty());
    EXPECT_EQ(rows(), (Pairs { { b, c } }));
    EXPECT_FALSE(form1->searching());
}

TEST_F(Passes, OnlyBytesMakeContentEqualWhateverTheSizesSay)
{
    // Pseudo-files report one size whatever they hold.
    TempTree tree;
    const auto a = tree.file("a.txt", "first");
    const auto b = tree.file("b.txt", "second, longer");
    const auto c = tree.file("c.txt", "first");
    const auto d = tree.file("d.txt", "");
    for (const auto& path : { a, b, c, d })
        fileSystem.reportedSizes[path] = 4096;
    search({ tree.root() }, "txt", form1->checkbox1);
    EXPECT_EQ(rows(), (Pairs { { a, c } }));
}

TEST_F(Passes, TheContentStageShowsItsProgress)
{
    // Two sizes; the reads of one file of the smaller held back for a
    // while. The window, live meanwhile, shows the stage's status and the
    // share of bytes compared so far.
    TempTree tree;
    const std::string large(64 * 1024, 'c');
    const std::string small(32 * 1024, 'd');
    for (int i = 0; i < 4; ++i) {
        tree.file(numbered("large", i, ".txt"), large);
        tree.file(numbered("small", i, ".txt"), small);
    }
    fileSystem.hangingReads = { tree.path("small0.txt") };
    QStringList statuses;
    std::vector<int> positions;
    QTimer sampler;
    sampler.setInterval(10);
    QObject::connect(&sampler, &QTimer::timeout, [&] {
        statuses << form1->StatusBar1->text();
        positions.push_back(form1->ProgressBar1->position());
    });
    fileSystem.onMeasure = [&](const std::string&) {
        if (!sampler.isActive()) {
            sampler.start();
            QTimer::singleShot(300, form1, [&] { fileSystem.openGate(); });
        }
    };
    search({ tree.root() }, "txt", form1->checkbox1);
    sampler.stop();
    EXPECT_TRUE(statuses.contains(QStringLiteral("    Сравнение содержимого файлов")));
    EXPECT_EQ(rows().size(), 12u);
    // Part of the bytes compared, part not.
    EXPECT_TRUE(std::any_of(positions.begin(), positions.end(),
        [&](int p) { return p > 0 && p < form1->ProgressBar1->maximum(); }));
    // The end state is as ever.
    EXPECT_EQ(form1->StatusBar1->text(), "");
    EXPECT_EQ(form1->ProgressBar1->position(), 0);
}

TEST_F(Passes, ContentSearchesRememberAndForgetWhatTheEditorDeletes)
{
    TempTree tree;
    const auto a = tree.file("a.dat", "same bytes");
    tree.file("b.dat", "same bytes");
    tree.file("c.dat", "diff bytes");
    search({ tree.root() }, "dat", form1->checkbox1);
    ASSERT_EQ(rows().size(), 1u);
    const auto folder = search::ComparisonStore::folderForSearches();
    ASSERT_TRUE(folder.has_value());
    const search::ComparisonStore store(*folder);
    const fs::FileStamp seen = fs::realFileSystem().measure(a);
    ASSERT_TRUE(store.load().recall(seen).known());

    // Deleted through the editor: noted at once, left out at the next save.
    auto* list = form2->fsListBox1;
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(0).center());
    ASSERT_EQ(form2->Label3->path(), a);
    click(form2->xpButton2);
    ASSERT_NE(::access(a.c_str(), F_OK), 0);
    QCoreApplication::processEvents();
    ASSERT_TRUE(store.save(search::ComparisonMemory()));
    EXPECT_FALSE(store.load().recall(seen).known());
}
