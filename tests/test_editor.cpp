// The copies editor: its layout, showing, stepping through the pairs with
// the mouse and the keyboard, the deleted marker and closing.
#include "support/form_fixture.h"
#include "support/media_files.h"
#include "support/temp_tree.h"

#include <QAccessible>
#include <QApplication>
#include <QFile>
#include <QScrollBar>
#include <QTimer>
#include <cstdlib>
#include <sys/stat.h>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

class Editor : public FormsTest {
protected:
    // Puts candidates and rows of candidate indexes into the hidden lists
    // and shows the editor.
    void showRows(const std::vector<std::string>& candidates,
        const std::vector<std::pair<std::uint32_t, std::uint32_t>>& rows,
        Criterion criterion = Criterion::Name)
    {
        form2->clearNameLists();
        form1->ListBox1.clear();
        form1->ListBox2.clear();
        form1->ListBox3.clear();
        for (const std::string& path : candidates)
            form1->ListBox1.append(path);
        for (const auto& [first, second] : rows) {
            form1->ListBox2.append(first);
            form1->ListBox3.append(second);
        }
        showEditor(criterion);
    }

    void clickRow(int row)
    {
        auto* list = form2->fsListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
    }

    QString label3() const { return form2->Label3->text(); }
    QString label4() const { return form2->Label4->text(); }
    QString position() const { return form2->Label5->text(); }
};

} // namespace

TEST_F(Editor, HasItsDesignedLayout)
{
    TForm2& e = *form2;
    EXPECT_EQ(e.windowTitle(), QStringLiteral("Редактор копий"));
    EXPECT_EQ(e.size(), QSize(654, 356));
    EXPECT_EQ(e.palette().color(QPalette::Window), QColor(240, 251, 255));
    EXPECT_FALSE(e.windowFlags() & Qt::WindowMaximizeButtonHint);
    // Trimmed to its 3-pixel border and 14 whole rows of 13 pixels.
    EXPECT_EQ(e.fsListBox1->geometry(), QRect(16, 104, 297, 188));
    EXPECT_EQ(e.fsListBox2->geometry(), QRect(336, 104, 310, 199));
    EXPECT_FALSE(e.fsListBox2->isEnabled());
    EXPECT_EQ(e.xpButton3->geometry(), QRect(184, 304, 89, 25));
    EXPECT_EQ(e.xpButton6->geometry(), QRect(520, 304, 83, 25));
    EXPECT_EQ(e.fsbitbtn4->geometry(), QRect(608, 328, 43, 25));
    EXPECT_EQ(e.fsbitbtn4->text(), ">>>");
    EXPECT_EQ(e.Image2->geometry(), QRect(658, 208, 159, 145));
    EXPECT_EQ(e.Button5->geometry(), QRect(656, 80, 75, 25));
    EXPECT_EQ(e.Label3->pos(), QPoint(32, 22));
    EXPECT_EQ(e.Label3->text(), QStringLiteral("Пусто"));
    EXPECT_EQ(e.Label4->text(), QStringLiteral("Пусто"));
    EXPECT_EQ(e.Label7->text(), QStringLiteral("1-ый файл из пары копий"));
    EXPECT_EQ(
        e.Label9->text(), QStringLiteral("Нажмите эту кнопку, чтобы открыть просмотр файлов"));
    EXPECT_TRUE(e.Label6->isHidden());
    EXPECT_EQ(e.Label6->text(), "Label6");
    EXPECT_TRUE(e.Label2->isHidden());
    EXPECT_EQ(e.Label2->text(), "0");
    EXPECT_EQ(e.fsListBox1->cursor().shape(), Qt::PointingHandCursor);
    // Every member of the preview panel lies beyond the client area.
    for (QWidget* member :
        std::initializer_list<QWidget*> { e.Label10, e.Label11, e.Image1, e.Image2,
            e.RxGIFAnimator1, e.RxGIFAnimator2, e.Button1, e.Button3, e.Button5, e.Button6 })
        EXPECT_GE(member->x(), 656);
}

TEST_F(Editor, ShowingSetsThePositionLineAndHidesTheHint)
{
    form2->Label9->show();
    showPairs({ { "/a/x", "/b/x" }, { "/b/x", "/a/x" }, { "/c/y", "/d/y" } });
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 3"));
    EXPECT_TRUE(form2->Label9->isHidden());
    EXPECT_EQ(label3(), QStringLiteral("Пусто"));
    EXPECT_EQ(form2->fsListBox1->selectedRow(), -1);
}

TEST_F(Editor, SelectingAPairShowsItsPathsAndMarksMissingFiles)
{
    TempTree tree;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 5; ++i)
        pairs.emplace_back(
            tree.file("one/f" + std::to_string(i)), tree.file("two/f" + std::to_string(i)));
    ::unlink(pairs[3].first.c_str());
    ::unlink(pairs[4].first.c_str());
    ::unlink(pairs[4].second.c_str());
    showPairs(pairs);

    clickRow(0);
    EXPECT_EQ(label3().toStdString(), pairs[0].first);
    EXPECT_EQ(label4().toStdString(), pairs[0].second);
    EXPECT_EQ(form2->Label3->path(), pairs[0].first);
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 5"));
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 0);

    clickRow(3);
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));
    EXPECT_FALSE(form2->Label3->path());
    EXPECT_EQ(label4().toStdString(), pairs[3].second);
    EXPECT_EQ(position(), QStringLiteral("Просмотр 4 из 5"));
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 3);

    clickRow(4);
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));
    EXPECT_EQ(label4(), QStringLiteral("Файл удален"));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 5 из 5"));

    // A file deleted while its pair is shown is marked when chosen again.
    clickRow(0);
    ::unlink(pairs[0].second.c_str());
    clickRow(0);
    EXPECT_EQ(label4(), QStringLiteral("Файл удален"));
}

TEST_F(Editor, ArrowKeysAndTypeAheadStepThroughThePairs)
{
    TempTree tree;
    for (const char* name : { "alpha", "beta", "gamma" }) {
        tree.file(std::string("d1/") + name);
        tree.file(std::string("d2/") + name);
    }
    showPairs({ { tree.path("d1/alpha"), tree.path("d2/alpha") },
        { tree.path("d1/beta"), tree.path("d2/beta") },
        { tree.path("d1/gamma"), tree.path("d2/gamma") } });
    form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    clickRow(0);
    QTest::keyClick(form2->fsListBox1, Qt::Key_Down);
    EXPECT_EQ(form2->Label3->path(), tree.path("d1/beta"));
    EXPECT_EQ(form2->Label4->path(), tree.path("d2/beta"));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 2 из 3"));
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 1);
    QTest::keyClick(form2->fsListBox1, Qt::Key_Up);
    EXPECT_EQ(form2->Label3->path(), tree.path("d1/alpha"));
    typeText(form2->fsListBox1, "g");
    EXPECT_EQ(form2->Label3->path(), tree.path("d1/gamma"));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 3 из 3"));
}

TEST_F(Editor, OnceChosenARowStaysSelected)
{
    TempTree tree;
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 3; ++i)
        pairs.emplace_back(
            tree.file("one/f" + std::to_string(i)), tree.file("two/f" + std::to_string(i)));
    showPairs(pairs);
    auto* list = form2->fsListBox1;
    const auto rowCentre = [list](int row) { return list->visualRect(row).center(); };
    const auto expectPair = [&](int row) {
        EXPECT_EQ(list->selectedRow(), row);
        EXPECT_EQ(form2->fsListBox2->selectedRow(), row);
        EXPECT_EQ(form2->Label3->path(), pairs[std::size_t(row)].first);
        EXPECT_EQ(form2->Label4->path(), pairs[std::size_t(row)].second);
        EXPECT_EQ(position(), QStringLiteral("Просмотр %1 из 3").arg(row + 1));
    };
    clickRow(1);
    expectPair(1);

    // Below the last row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rowCentre(2) + QPoint(0, 40));
    expectPair(1);
    // Ctrl with a click, or with Space, on the selected row.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(1));
    expectPair(1);
    QTest::keyClick(list, Qt::Key_Space, Qt::ControlModifier);
    expectPair(1);
    // Ctrl with a click on another row chooses that one.
    QTest::mouseClick(list->viewport(), Qt::LeftButton, Qt::ControlModifier, rowCentre(2));
    expectPair(2);
}

TEST_F(Editor, FirstNameListKeepsAWholeNumberOfRows)
{
    std::vector<std::pair<std::string, std::string>> pairs;
    for (int i = 0; i < 40; ++i)
        pairs.emplace_back("/a/f" + std::to_string(i), "/b/f" + std::to_string(i));
    showPairs(pairs);
    auto* list = form2->fsListBox1;
    const auto lastShownRowEndsTheList = [list] {
        const int viewHeight = list->viewport()->height();
        EXPECT_EQ(viewHeight % 13, 0) << viewHeight;
        const std::int64_t last = list->rowAt(QPoint(5, viewHeight - 1));
        ASSERT_GE(last, 0);
        EXPECT_EQ(list->visualRect(last).bottom(), viewHeight - 1) << "the last row is cut";
    };
    lastShownRowEndsTheList();
    list->resize(list->width(), 150);
    EXPECT_EQ(list->height(), 6 + 11 * 13);
    lastShownRowEndsTheList();
    // Scrolled to the end, the last row shows whole as well.
    list->verticalScrollBar()->setValue(list->verticalScrollBar()->maximum());
    const std::int64_t bottom = list->rowAt(QPoint(5, list->viewport()->height() - 1));
    EXPECT_EQ(bottom, 39);
    EXPECT_EQ(list->visualRect(bottom).bottom(), list->viewport()->height() - 1);
    // The second list is not trimmed.
    EXPECT_EQ(form2->fsListBox2->height(), 199);
}

TEST_F(Editor, EmptyEditorHasNothingToSelect)
{
    showPairs({});
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 0"));
    QTest::mouseClick(form2->fsListBox1->viewport(), Qt::LeftButton, {}, QPoint(20, 5));
    form2->fsListBox1Click(); // without a row the display stays
    EXPECT_EQ(label3(), QStringLiteral("Пусто"));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 0"));
}

TEST_F(Editor, ClosingEmptiesTheFirstListAndBringsBackTheMainWindow)
{
    showPairs({ { "/a/x", "/b/x" } });
    clickRow(0);
    form2->Image1->show();
    form2->close();
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(form1->isVisible());
    EXPECT_EQ(label3(), QStringLiteral("Пусто"));
    EXPECT_EQ(label4(), QStringLiteral("Пусто"));
    EXPECT_TRUE(form2->Image1->isHidden());
    EXPECT_TRUE(form2->Image2->isHidden());
    EXPECT_TRUE(form2->RxGIFAnimator1->isHidden());
    EXPECT_EQ(form2->fsListBox1->rowCount(), 0u);
    EXPECT_EQ(form2->fsListBox2->rowCount(), 1u); // kept until the next search

    // Selecting a pair shows the picture boxes again.
    showPairs({ { "/c/y", "/d/y" } });
    EXPECT_EQ(label3(), QStringLiteral("Пусто"));
    clickRow(0);
    EXPECT_FALSE(form2->Image1->isHidden());
    EXPECT_FALSE(form2->Image2->isHidden());
}

TEST_F(Editor, TwoMillionRowsShowAtOnce)
{
    // Two candidates listed a million times each way: the lists hold
    // indexes and the name lists are views, so this stays small.
    TempTree tree;
    const std::string one = tree.file("one/name.txt");
    const std::string two = tree.file("two/name.txt");
    form1->ListBox1.clear();
    form1->ListBox1.append(one);
    form1->ListBox1.append(two);
    form1->ListBox2.clear();
    form1->ListBox3.clear();
    const std::uint32_t rowsWanted = 2'000'000;
    for (std::uint32_t r = 0; r < rowsWanted; ++r) {
        form1->ListBox2.append(r % 2);
        form1->ListBox3.append(1 - r % 2);
    }
    form2->appendRowNames();
    form1->hide();
    form2->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form2));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 2000000"));
    form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    clickRow(0);
    QTest::keyClick(form2->fsListBox1, Qt::Key_End);
    EXPECT_EQ(position(), QStringLiteral("Просмотр 2000000 из 2000000"));
    EXPECT_EQ(form2->Label3->path(), two);
    EXPECT_EQ(form2->Label4->path(), one);
    EXPECT_EQ(form2->fsListBox2->selectedRow(), std::int64_t(rowsWanted - 1));
}

using FileActions = Editor;

namespace {

// An xdg-open of the test's own, alone on PATH while the object lives: it
// writes the one argument it is given into a file, then ends with the
// status it is told.
class FakeOpener {
public:
    explicit FakeOpener(const TempTree& tree)
        : tree_(tree)
        , argumentFile_(tree.path("opener-argument"))
    {
        tree.dir("bin");
        if (const char* old = std::getenv("PATH"))
            oldPath_ = old;
        ::setenv("PATH", tree.path("bin").c_str(), 1);
        exitWith(0);
    }
    ~FakeOpener()
    {
        if (oldPath_)
            ::setenv("PATH", oldPath_->c_str(), 1);
        else
            ::unsetenv("PATH");
    }
    FakeOpener(const FakeOpener&) = delete;
    FakeOpener& operator=(const FakeOpener&) = delete;

    // The next runs end with `status`, after a second when `slowly`.
    void exitWith(int status, bool slowly = false)
    {
        std::string script = "#!/bin/sh\nPATH=/usr/bin:/bin\n";
        script += "printf '%s' \"$1\" > '" + argumentFile_ + ".new'\n";
        script += "mv '" + argumentFile_ + ".new' '" + argumentFile_ + "'\n";
        if (slowly)
            script += "sleep 1\n";
        script += "exit ";
        script += std::to_string(status);
        script += "\n";
        // Put in place by a rename: a run still going keeps its own file.
        const std::string made = tree_.file("opener.new", script);
        ::chmod(made.c_str(), 0755);
        ::rename(made.c_str(), tree_.path("bin/xdg-open").c_str());
        ::unlink(argumentFile_.c_str());
    }
    // No opener at all.
    void remove() { ::unlink(tree_.path("bin/xdg-open").c_str()); }
    // What the last run was given, once it has written it.
    std::string argument() const
    {
        return ::access(argumentFile_.c_str(), F_OK) == 0 ? readFile(argumentFile_) : std::string();
    }

private:
    const TempTree& tree_;
    std::string argumentFile_;
    std::optional<std::string> oldPath_;
};

} // namespace

TEST_F(FileActions, OpenHandsTheExactPathToTheDesktop)
{
    TempTree tree;
    const auto first = tree.file("caf\xe9/one.txt");
    const auto second = tree.file("two/one.txt");
    showPairs({ { first, second } });
    click(form2->xpButton1); // "Пусто": nothing to open
    EXPECT_TRUE(desktop().opened.empty());
    clickRow(0);
    click(form2->xpButton1);
    click(form2->xpButton4);
    EXPECT_EQ(desktop().opened, (std::vector<std::string> { first, second }));
    ::unlink(second.c_str());
    clickRow(0);
    click(form2->xpButton4); // "Файл удален": nothing
    EXPECT_EQ(desktop().opened.size(), 2u);
}

TEST_F(FileActions, AFileNothingCanOpenIsNamedInABox)
{
    TempTree tree;
    const auto first = tree.file("caf\xe9/one.txt");
    const auto second = tree.file("two/one.txt");
    showPairs({ { first, second } });
    clickRow(0);
    desktop().failing = true;
    click(form2->xpButton1);
    click(form2->xpButton4);
    EXPECT_EQ(boxes().messages,
        (std::vector<QString> {
            QStringLiteral("Не удалось открыть файл: ") + QFile::decodeName(first.c_str()),
            QStringLiteral("Не удалось открыть файл: ") + QString::fromStdString(second) }));
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(FileActions, TheRealOpenerRunsWithoutBeingWaitedForAndOnlyItsFailureIsTold)
{
    TempTree tree;
    const auto first = tree.file("a/one.txt", "1");
    const auto second = tree.file("b/one \xff.txt", "1");
    FakeOpener opener(tree);
    // An editor on the program's own desktop actions.
    platform::Services real(fileSystem, boxes(), folders(), platform::realServices().desktop);
    showPairs({ { first, second } });
    TForm2 editor(form1->results, nullptr, real);
    editor.appendRowNames();
    editor.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&editor));
    QTest::mouseClick(editor.fsListBox1->viewport(), Qt::LeftButton, {},
        editor.fsListBox1->visualRect(0).center());
    ASSERT_EQ(editor.Label4->path(), second);

    // It opened the file: nothing to tell.
    click(editor.xpButton4);
    ASSERT_TRUE(QTest::qWaitFor([&] { return opener.argument() == second; }, 10000));

    // It fails a second later: the press has long returned, and the box
    // comes when it ends.
    opener.exitWith(4, true);
    click(editor.xpButton1);
    EXPECT_TRUE(boxes().messages.empty());
    ASSERT_TRUE(QTest::qWaitFor([] { return !boxes().messages.empty(); }, 10000));
    EXPECT_EQ(opener.argument(), first);
    EXPECT_EQ(boxes().messages,
        std::vector<QString> {
            QStringLiteral("Не удалось открыть файл: ") + QString::fromStdString(first) });

    // None to start: told at once.
    boxes().messages.clear();
    opener.remove();
    click(editor.xpButton4);
    EXPECT_EQ(boxes().messages,
        std::vector<QString> { kOpenFailed + ": " + QFile::decodeName(second.c_str()) });
}

TEST_F(FileActions, DeleteClearsReadOnlyRemovesTheFileAndMarksTheColumn)
{
    TempTree tree;
    const auto first = tree.file("a/x.txt", "same");
    const auto second = tree.file("b/x.txt", "same");
    ::chmod(first.c_str(), 0444);
    showPairs({ { first, second } });
    click(form2->xpButton2); // no pair shown: nothing is deleted
    EXPECT_EQ(::access(first.c_str(), F_OK), 0);

    clickRow(0);
    click(form2->xpButton2);
    EXPECT_NE(::access(first.c_str(), F_OK), 0);
    EXPECT_EQ(::access(second.c_str(), F_OK), 0);
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));
    EXPECT_TRUE(form2->Image1->isHidden());
    EXPECT_FALSE(form2->Image2->isHidden());
    click(form2->xpButton2); // a second press does nothing
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));

    // A file that cannot be deleted keeps its label and picture box.
    fileSystem.undeletable.insert(second);
    click(form2->xpButton5);
    EXPECT_EQ(form2->Label4->path(), second);
    EXPECT_FALSE(form2->Image2->isHidden());
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(FileActions, DeleteAllNeverDeletesTheLastCopyOfANamePair)
{
    TempTree tree;
    const auto a = tree.file("d1/same.txt");
    const auto b = tree.file("d2/same.txt");
    const auto c = tree.file("d3/same.txt");
    // The name pass lists every pair both ways: (b,a) (c,a) (a,b) (c,b) (a,c) (b,c).
    showRows({ a, b, c }, { { 1, 0 }, { 2, 0 }, { 0, 1 }, { 2, 1 }, { 0, 2 }, { 1, 2 } });
    click(form2->xpButton3);
    // b and c went; a, whose partners were gone by then, stays.
    EXPECT_EQ(::access(a.c_str(), F_OK), 0);
    EXPECT_NE(::access(b.c_str(), F_OK), 0);
    EXPECT_NE(::access(c.c_str(), F_OK), 0);
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));
    EXPECT_TRUE(form2->Image1->isHidden());
    EXPECT_EQ(label4(), QStringLiteral("Пусто")); // the other column is untouched
    EXPECT_EQ(form2->fsListBox1->rowCount(), 6u); // the pairs stay listed
}

TEST_F(FileActions, DeleteAllOnASizeGroupDeletesEveryFirstCopy)
{
    TempTree tree;
    const auto f0 = tree.file("f0", "abc");
    const auto f1 = tree.file("f1", "abc");
    const auto f2 = tree.file("f2", "abc");
    const auto lonely = tree.file("g", "other");
    ::chmod(f1.c_str(), 0444);
    showRows({ f0, f1, f2, lonely }, { { 0, 1 }, { 0, 2 }, { 1, 2 } }, Criterion::Size);
    click(form2->xpButton3);
    EXPECT_NE(::access(f0.c_str(), F_OK), 0);
    EXPECT_NE(::access(f1.c_str(), F_OK), 0);
    EXPECT_EQ(::access(f2.c_str(), F_OK), 0);
    EXPECT_EQ(::access(lonely.c_str(), F_OK), 0);

    // Column 2 now finds every partner gone: nothing more is deleted.
    click(form2->xpButton6);
    EXPECT_EQ(::access(f2.c_str(), F_OK), 0);
    EXPECT_EQ(label4(), QStringLiteral("Пусто"));
}

TEST_F(FileActions, DeleteAllGoesOnPastAFileThatCannotBeDeleted)
{
    TempTree tree;
    const auto a1 = tree.file("a1");
    const auto a2 = tree.file("a2");
    const auto b1 = tree.file("b1", "xy");
    const auto b2 = tree.file("b2", "xy");
    showRows({ a1, a2, b1, b2 }, { { 0, 1 }, { 2, 3 } });
    clickRow(0);
    fileSystem.undeletable.insert(a1);
    click(form2->xpButton3);
    EXPECT_EQ(::access(a1.c_str(), F_OK), 0);
    EXPECT_NE(::access(b1.c_str(), F_OK), 0);
    // The label marks the column as soon as any of its files went.
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));

    // With no pairs, delete all does nothing.
    showRows({}, {});
    click(form2->xpButton3);
    click(form2->xpButton6);
    EXPECT_EQ(label3(), QStringLiteral("Файл удален"));
}

using KeyboardFocus = Editor;

namespace {

bool beyondItsWindowsEdge(const QWidget* widget)
{
    const QWidget* window = widget->window();
    return !QRect(widget->mapTo(window, QPoint(0, 0)), widget->size()).intersects(window->rect());
}

// Presses Tab (Shift+Tab backwards) as the window system delivers it, round
// the editor's controls several times; what took the focus, each checked to
// lie within the window.
std::set<QWidget*> tabRound(TForm2* editor, bool backwards = false)
{
    std::set<QWidget*> focused;
    for (int i = 0; i < 40; ++i) {
        QTest::keyClick(
            editor->windowHandle(), Qt::Key_Tab, backwards ? Qt::ShiftModifier : Qt::NoModifier);
        QWidget* now = QApplication::focusWidget();
        if (!now) {
            ADD_FAILURE() << "no focus after " << i + 1 << " presses";
            break;
        }
        EXPECT_EQ(now->window(), editor);
        EXPECT_FALSE(beyondItsWindowsEdge(now))
            << now->metaObject()->className() << " at x " << now->x() << " took the focus";
        focused.insert(now);
    }
    return focused;
}

} // namespace

TEST_F(KeyboardFocus, TabSkipsThePreviewPanelsButtonsWhileThePanelIsClosed)
{
    TempTree tree;
    showPairs({ { tree.file("a/x.wav"), tree.file("b/x.wav") } });
    form2->Label6->setCaption("mus");
    form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    form2->fsListBox1->setFocus(Qt::TabFocusReason);
    const std::vector<QWidget*> panel { form2->Button3, form2->Button1, form2->Button6,
        form2->Button5 };

    for (const bool backwards : { false, true }) {
        const std::set<QWidget*> focused = tabRound(form2, backwards);
        for (QWidget* reached : std::initializer_list<QWidget*> {
                 form2->fsListBox1, form2->xpButton1, form2->xpButton6, form2->fsbitbtn4 })
            EXPECT_EQ(focused.count(reached), 1u);
        for (QWidget* beyond : panel)
            EXPECT_EQ(focused.count(beyond), 0u);
    }

    // Space on the toggle opens the panel: its buttons take the focus in turn.
    form2->fsbitbtn4->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form2->windowHandle(), Qt::Key_Space);
    ASSERT_EQ(form2->width(), 830);
    std::set<QWidget*> focused = tabRound(form2);
    for (QWidget* inPanel : panel)
        EXPECT_EQ(focused.count(inPanel), 1u);

    // Closed again while one of them has the focus: it passes on, and Tab
    // skips them again.
    form2->Button5->setFocus(Qt::TabFocusReason);
    form2->fsbitbtn4Click();
    ASSERT_EQ(form2->width(), 654);
    ASSERT_NE(QApplication::focusWidget(), nullptr);
    EXPECT_FALSE(beyondItsWindowsEdge(QApplication::focusWidget()));
    focused = tabRound(form2, true);
    for (QWidget* beyond : panel)
        EXPECT_EQ(focused.count(beyond), 0u);
    EXPECT_EQ(focused.count(form2->fsbitbtn4), 1u);
}

TEST_F(KeyboardFocus, ThePanelsButtonsAreReportedShowingOnlyWhileTheyLieInTheWindow)
{
    showPairs({});
    form2->Label6->setCaption("mus");
    QAccessibleInterface* play = QAccessible::queryAccessibleInterface(form2->Button5);
    QAccessibleInterface* deleteAll = QAccessible::queryAccessibleInterface(form2->xpButton6);
    ASSERT_TRUE(play && deleteAll);
    const auto expectShowing = [](QAccessibleInterface* control, bool showing) {
        const QAccessible::State state = control->state();
        EXPECT_EQ(bool(state.invisible), !showing)
            << control->text(QAccessible::Name).toStdString();
        EXPECT_EQ(bool(state.offscreen), !showing);
        EXPECT_EQ(bool(state.focusable), showing);
    };
    expectShowing(play, false);
    expectShowing(deleteAll, true);
    click(form2->fsbitbtn4);
    expectShowing(play, true);
    click(form2->fsbitbtn4);
    expectShowing(play, false);
    expectShowing(deleteAll, true);
}

using PreviewToggle = Editor;

TEST_F(PreviewToggle, PicturesKindWidensTheWindowAndShowsThePictureBoxes)
{
    showPairs({});
    form2->Label6->setCaption("graf");
    const int startWidth = form2->width();
    click(form2->fsbitbtn4);
    QCoreApplication::processEvents();
    EXPECT_EQ(startWidth, 654);
    EXPECT_EQ(form2->width(), 830);
    EXPECT_EQ(form2->fsbitbtn4->text(), "<<<");
    EXPECT_FALSE(form2->Label9->isHidden());
    EXPECT_EQ(form2->Label9->text(), kCloseHint);
    for (QWidget* button : { form2->Button1, form2->Button3, form2->Button5, form2->Button6 })
        EXPECT_TRUE(button->isHidden());
    for (QWidget* picture : std::initializer_list<QWidget*> {
             form2->Image1, form2->Image2, form2->RxGIFAnimator1, form2->RxGIFAnimator2 })
        EXPECT_FALSE(picture->isHidden());

    click(form2->fsbitbtn4);
    QCoreApplication::processEvents();
    EXPECT_EQ(form2->width(), 654);
    EXPECT_EQ(form2->fsbitbtn4->text(), ">>>");
    EXPECT_EQ(form2->Label9->text(), kOpenHint);

    // Closing keeps the panel's state for the next showing.
    click(form2->fsbitbtn4);
    form2->close();
    showPairs({});
    EXPECT_EQ(form2->width(), 830);
    EXPECT_EQ(form2->fsbitbtn4->text(), "<<<");
    EXPECT_TRUE(form2->Label9->isHidden());
}

TEST_F(PreviewToggle, MediaKindShowsThePlayButtonsAndHidesThePictures)
{
    showPairs({});
    form2->Label6->setCaption("mus");
    form2->RxGIFAnimator1->hide();
    click(form2->fsbitbtn4);
    for (QWidget* button : { form2->Button1, form2->Button3, form2->Button5, form2->Button6 })
        EXPECT_FALSE(button->isHidden());
    EXPECT_TRUE(form2->Image1->isHidden());
    EXPECT_TRUE(form2->Image2->isHidden());
    EXPECT_TRUE(form2->RxGIFAnimator1->isHidden()); // the animators keep their state
    EXPECT_EQ(form2->width(), 830);
}

TEST_F(PreviewToggle, WithoutAKindNothingChanges)
{
    showPairs({});
    click(form2->fsbitbtn4);
    EXPECT_EQ(form2->width(), 654);
    EXPECT_EQ(form2->fsbitbtn4->text(), ">>>");
    EXPECT_TRUE(form2->Label9->isHidden());
}

using PreviewContent = Editor;

namespace {

QImage solid(int width, int height, QColor colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

} // namespace

TEST_F(PreviewContent, ChoosingAPairLoadsBothPicturesEvenWithThePanelClosed)
{
    TempTree tree;
    const auto a = tree.file("a.jpg", encoded(solid(40, 30, Qt::red), "JPG"));
    const auto b = tree.file("b.bmp", encoded(solid(20, 10, Qt::blue), "BMP"));
    const auto c = tree.file("c.gif", gifBytes(2, 2, { 1, 1, 1, 1 }));
    const auto d = tree.file("d.giff", gifBytes(3, 2, { 2, 2, 2, 2, 2, 2 }));
    form2->Label6->setCaption("graf");
    showRows({ a, b, c, d }, { { 0, 1 }, { 2, 3 } });

    clickRow(0);
    EXPECT_EQ(form2->Image1->picture().size(), QSize(40, 30));
    EXPECT_EQ(form2->Image2->picture().size(), QSize(20, 10));
    EXPECT_EQ(form2->width(), 654);

    // ".gif" goes to the picture box; a name ending in "gif" and one more
    // character goes to the animator, which takes the picture's size.
    clickRow(1);
    EXPECT_EQ(form2->Image1->picture().size(), QSize(2, 2));
    EXPECT_EQ(form2->Image1->picture().pixelColor(0, 0), QColor(0, 255, 0));
    EXPECT_EQ(form2->Image2->picture().size(), QSize(20, 10)); // kept
    EXPECT_EQ(form2->RxGIFAnimator2->size(), QSize(3, 2));
    EXPECT_EQ(form2->RxGIFAnimator2->pos(), QPoint(658, 208));
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(PreviewContent, LargePicturesAreKeptAtTheSizeOfTheirBox)
{
    TempTree tree;
    const auto a = tree.file("a.jpg", encoded(solid(1600, 1000, Qt::red), "JPG"));
    const auto b = tree.file("b.bmp", encoded(solid(400, 100, Qt::blue), "BMP"));
    form2->Label6->setCaption("graf");
    showRows({ a, b }, { { 0, 1 } });
    clickRow(0);
    EXPECT_EQ(form2->Image1->picture().size(), QSize(161, 145));
    EXPECT_EQ(form2->Image2->picture().size(), QSize(159, 100));
    EXPECT_EQ(form2->Image2->picture().pixelColor(80, 50), QColor(Qt::blue));
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(PreviewContent, APictureThatCannotBeLoadedGoesToTheErrorBoxAndKeepsThePreviousOne)
{
    TempTree tree;
    const auto good1 = tree.file("g1.jpg", encoded(solid(8, 8, Qt::red), "JPG"));
    const auto good2 = tree.file("g2.jpg", encoded(solid(9, 9, Qt::red), "JPG"));
    const auto broken = tree.file("broken.jpg", "hello, not a picture");
    const auto other = tree.file("other.jpg", encoded(solid(5, 5, Qt::red), "JPG"));
    const auto text1 = tree.file("t1.txt", "x");
    const auto text2 = tree.file("t2.txt", "x");
    form2->Label6->setCaption("graf");
    showRows({ good1, good2, broken, other, text1, text2 }, { { 0, 1 }, { 2, 3 }, { 4, 5 } });
    clickRow(0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
    clickRow(1);
    ASSERT_EQ(boxes().errors.size(), 1u);
    EXPECT_TRUE(boxes().errors[0].startsWith("Not a JPEG file")) << boxes().errors[0].toStdString();
    // Both boxes keep the first pair's pictures: column 2 was not loaded.
    EXPECT_EQ(form2->Image1->picture().size(), QSize(8, 8));
    EXPECT_EQ(form2->Image2->picture().size(), QSize(9, 9));
    // The labels were set before the loading failed.
    EXPECT_EQ(form2->Label3->path(), broken);
    EXPECT_EQ(position(), QStringLiteral("Просмотр 2 из 3"));

    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
    clickRow(2);
    EXPECT_EQ(boxes().errors.back(), "Unknown picture file extension (.txt)");

    // A GIF cut short fails the same way and leaves the picture in place.
    const std::string gif = gifBytes(2, 2, { 0, 1, 2, 3 });
    const auto truncated = tree.file("cut.gif", gif.substr(0, gif.size() / 2));
    showRows({ good1, good2, truncated, good2 }, { { 0, 1 }, { 2, 3 } });
    clickRow(0);
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
    clickRow(1);
    EXPECT_EQ(boxes().errors.size(), 3u);
    EXPECT_EQ(form2->Image1->picture().size(), QSize(8, 8));
}

TEST_F(PreviewContent, ADeletedFilesPictureBoxIsHidden)
{
    TempTree tree;
    const auto a = tree.file("a.jpg", encoded(solid(6, 6, Qt::red), "JPG"));
    const auto b = tree.file("b.jpg", encoded(solid(7, 7, Qt::red), "JPG"));
    form2->Label6->setCaption("graf");
    showRows({ a, b }, { { 0, 1 } });
    ::unlink(b.c_str());
    clickRow(0);
    EXPECT_EQ(form2->Image1->picture().size(), QSize(6, 6));
    EXPECT_FALSE(form2->Image1->isHidden());
    EXPECT_TRUE(form2->Image2->isHidden());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(PreviewContent, PlayAndStopDriveTheOnePlayer)
{
    TempTree tree;
    const auto a = tree.file("a.wav", wavContent(2));
    const auto b = tree.file("b.wav", wavContent(2));
    form2->MediaPlayer1->setSinksForTesting("fakesink", "fakesink");
    form2->Label6->setCaption("mus");
    showRows({ a, b }, { { 0, 1 } });

    // Nothing open yet: stopping fails and closing is not attempted.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
    click(form2->Button6);
    EXPECT_EQ(boxes().errors, std::vector<QString> { "No MCI device open." });

    // "Пусто" names no file the player can open.
    QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
    click(form2->Button5);
    ASSERT_EQ(boxes().errors.size(), 2u);
    EXPECT_FALSE(form2->MediaPlayer1->isOpen());

    clickRow(0);
    click(form2->Button5);
    EXPECT_TRUE(form2->MediaPlayer1->isPlaying());
    EXPECT_EQ(form2->MediaPlayer1->fileName(), a);
    click(form2->Button1); // the second column's file takes over
    EXPECT_EQ(form2->MediaPlayer1->fileName(), b);
    EXPECT_TRUE(form2->MediaPlayer1->isPlaying());

    // Closing the editor does not stop the playback.
    form2->close();
    EXPECT_TRUE(form2->MediaPlayer1->isPlaying());
    showRows({ a, b }, { { 0, 1 } });
    click(form2->Button3);
    EXPECT_FALSE(form2->MediaPlayer1->isOpen());
    EXPECT_EQ(boxes().errors.size(), 2u);

    // A deleted file is not played.
    clickRow(0);
    ::unlink(a.c_str());
    clickRow(0);
    click(form2->Button5);
    EXPECT_FALSE(form2->MediaPlayer1->isOpen());
    EXPECT_EQ(boxes().errors.size(), 2u);
}
