// The name lists' menu of the copies editor, driven with real input: it
// opens on the row it chooses first, moves files to a test trash
// (XDG_DATA_HOME) and back, copies paths, and shows a file in its folder.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QClipboard>
#include <QContextMenuEvent>
#include <QGuiApplication>
#include <QMenu>
#include <cstdlib>
#include <set>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

bool exists(const std::string& path)
{
    return ::access(path.c_str(), F_OK) == 0;
}

class NameListMenu : public FormsTest {
protected:
    void SetUp() override
    {
        FormsTest::SetUp();
        dataHome_.point(tree.path("data"));
    }

    void TearDown() override
    {
        if (QMenu* menu = form2 ? form2->nameListMenu : nullptr)
            menu->close();
        FormsTest::TearDown();
    }

    // Shows rows of candidate indexes in the editor, stamped as the search
    // would have seen the candidates now.
    void showRows(const std::vector<std::string>& candidates,
        const std::vector<std::pair<std::uint32_t, std::uint32_t>>& rows,
        Criterion criterion = Criterion::Content)
    {
        form2->clearNameLists();
        form1->ListBox1.clear();
        form1->ListBox2.clear();
        form1->ListBox3.clear();
        form1->candidateStamps.clear();
        for (const std::string& path : candidates) {
            form1->ListBox1.append(path);
            form1->candidateStamps.push_back(fs::realFileSystem()
                                                 .examine(path, fs::Resolve::NoFinalLink)
                                                 .value_or(fs::FileStamp()));
        }
        for (const auto& [first, second] : rows) {
            form1->ListBox2.append(first);
            form1->ListBox3.append(second);
        }
        form1->rowsCriterion = criterion;
        form2->appendRowNames();
        form1->hide();
        form2->show();
        form2->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    }

    // Pairs (a, b) of files in folders "one" and "two", one pair a row.
    std::vector<std::string> pairsOf(const std::vector<std::string>& names)
    {
        std::vector<std::string> candidates;
        for (const std::string& name : names) {
            candidates.push_back(tree.file("one/" + name, "same " + name));
            candidates.push_back(tree.file("two/" + name, "same " + name));
        }
        return candidates;
    }
    static std::vector<std::pair<std::uint32_t, std::uint32_t>> adjacentRows(std::size_t count)
    {
        std::vector<std::pair<std::uint32_t, std::uint32_t>> rows;
        for (std::uint32_t i = 0; i < count; ++i)
            rows.emplace_back(2 * i, 2 * i + 1);
        return rows;
    }

    // A right click as the window system delivers it: press (the list
    // chooses the row), the menu event, release.
    void rightClick(controls::TfsListBox* list, QPoint inViewport)
    {
        const QPoint inWindow = list->viewport()->mapTo(form2, inViewport);
        QTest::mouseClick(form2->windowHandle(), Qt::RightButton, {}, inWindow);
    }
    void rightClickRow(controls::TfsListBox* list, int row)
    {
        rightClick(list, list->visualRect(row).center());
    }
    void leftClickRow(int row)
    {
        auto* list = form2->fsListBox1;
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(row).center());
    }

    QMenu* menu() const { return form2->nameListMenu; }

    // Clicks an item of the open menu.
    void choose(QAction* item)
    {
        ASSERT_TRUE(menu()->isVisible());
        ASSERT_TRUE(item->isEnabled()) << item->text().toStdString();
        QTest::mouseClick(menu(), Qt::LeftButton, {}, menu()->actionGeometry(item).center());
        EXPECT_FALSE(menu()->isVisible());
    }
    // Opens the menu on a row of fsListBox1 and clicks an item.
    void chooseOnRow(int row, QAction* item)
    {
        rightClickRow(form2->fsListBox1, row);
        choose(item);
    }

    void closeMenu()
    {
        QTest::keyClick(menu(), Qt::Key_Escape);
        EXPECT_FALSE(menu()->isVisible());
    }

    void pressUndo() { QTest::keyClick(form2, Qt::Key_Z, Qt::ControlModifier); }

    // The menu's items, and which of them are enabled.
    std::vector<QString> itemTexts(std::vector<bool>* enabled = nullptr) const
    {
        std::vector<QString> texts;
        for (QAction* action : menu()->actions()) {
            if (action->isSeparator())
                continue;
            texts.push_back(action->text());
            if (enabled)
                enabled->push_back(action->isEnabled());
        }
        return texts;
    }
    std::vector<bool> enabledItems() const
    {
        std::vector<bool> enabled;
        itemTexts(&enabled);
        return enabled;
    }

    std::string trashFiles() const { return tree.path("data/Trash/files"); }
    std::string trashInfo() const { return tree.path("data/Trash/info"); }
    QString label3() const { return form2->Label3->text(); }
    QString label4() const { return form2->Label4->text(); }

    TempTree tree;

private:
    DataHome dataHome_;
};

} // namespace

TEST_F(NameListMenu, ARightClickChoosesTheRowAsALeftClickThenOpensTheMenu)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    rightClickRow(form2->fsListBox1, 1);
    EXPECT_EQ(form2->Label3->path(), files[2]);
    EXPECT_EQ(form2->Label4->path(), files[3]);
    EXPECT_EQ(form2->Label5->text(), QStringLiteral("Просмотр 2 из 3"));
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 1);
    ASSERT_TRUE(menu()->isVisible());
    EXPECT_EQ(form2->menuColumn(), 1);
    EXPECT_EQ(itemTexts(),
        (std::vector<QString> { "Открыть", "Показать в папке", "Переместить в корзину",
            "Переместить все в корзину", "Копировать путь", "Копировать все пары",
            "Вернуть из корзины" }));
    EXPECT_EQ(enabledItems(), (std::vector<bool> { true, true, true, true, true, true, false }));
    EXPECT_EQ(form2->menuTrash->shortcut(), QKeySequence(Qt::Key_Delete));
    EXPECT_EQ(form2->menuRestore->shortcut(), QKeySequence(Qt::CTRL | Qt::Key_Z));
    closeMenu();

    // On the row already chosen the selection step runs again, as for a
    // left click: a file gone meanwhile is marked, and nothing can act on it.
    ::unlink(files[2].c_str());
    rightClickRow(form2->fsListBox1, 1);
    EXPECT_EQ(label3(), kDeletedMarker);
    EXPECT_EQ(
        enabledItems(), (std::vector<bool> { false, false, false, true, false, true, false }));
    closeMenu();

    // Below the last row: the choice stays, the menu is the column's.
    rightClick(form2->fsListBox1, QPoint(20, form2->fsListBox1->viewport()->height() - 4));
    EXPECT_EQ(form2->fsListBox1->selectedRow(), 1);
    EXPECT_TRUE(menu()->isVisible());
    closeMenu();
}

TEST_F(NameListMenu, TheSecondListChoosesItsPairThroughTheFirstAndServesItsOwnColumn)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    leftClickRow(0);
    // A left click there does nothing: the list is not for the user.
    QTest::mouseClick(form2->windowHandle(), Qt::LeftButton, {},
        form2->fsListBox2->viewport()->mapTo(form2, form2->fsListBox2->visualRect(2).center()));
    EXPECT_EQ(form2->fsListBox1->selectedRow(), 0);

    rightClickRow(form2->fsListBox2, 2);
    EXPECT_EQ(form2->fsListBox1->selectedRow(), 2);
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 2);
    EXPECT_EQ(form2->Label4->path(), files[5]);
    EXPECT_EQ(form2->Label5->text(), QStringLiteral("Просмотр 3 из 3"));
    EXPECT_EQ(form2->menuColumn(), 2);
    choose(form2->menuCopyPath);
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), files[5]);
}

TEST_F(NameListMenu, TheKeyboardOpensTheMenuOnTheCurrentRowChosenFirst)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    // Tabbed into, the list has a current row but no pair is chosen yet.
    form2->fsListBox1->setFocus(Qt::TabFocusReason);
    ASSERT_EQ(form2->fsListBox1->currentRow(), 0);
    ASSERT_EQ(label3(), kEmptyMarker);
    QTest::keyClick(form2->fsListBox1, Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(form2->Label3->path(), files[0]);
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 0);
    ASSERT_TRUE(menu()->isVisible());
    EXPECT_EQ(form2->menuColumn(), 1);
    // The menu opens at that row.
    const QRect row = form2->fsListBox1->visualRect(0);
    EXPECT_TRUE(QRect(form2->fsListBox1->viewport()->mapToGlobal(row.topLeft()), row.size() * 2)
                    .contains(menu()->pos()));
    closeMenu();

    // The menu key: the window system sends a keyboard menu event to the
    // list that has the focus.
    QTest::keyClick(form2->fsListBox1, Qt::Key_Down);
    ::unlink(files[3].c_str());
    QContextMenuEvent menuKey(
        QContextMenuEvent::Keyboard, QPoint(5, 5), form2->fsListBox1->mapToGlobal(QPoint(5, 5)));
    QApplication::sendEvent(form2->fsListBox1, &menuKey);
    EXPECT_EQ(form2->Label3->path(), files[2]);
    EXPECT_EQ(label4(), kDeletedMarker);
    EXPECT_TRUE(menu()->isVisible());
    // Within the menu the keys choose an item: down to "Копировать путь".
    for (int i = 0; i < 5; ++i)
        QTest::keyClick(menu(), Qt::Key_Down);
    QTest::keyClick(menu(), Qt::Key_Return);
    EXPECT_FALSE(menu()->isVisible());
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), files[2]);
}

TEST_F(NameListMenu, OneFileGoesToTheTrashAndComesBack)
{
    const auto files = pairsOf({ "x.txt" });
    showRows(files, adjacentRows(1));
    chooseOnRow(0, form2->menuTrash);
    EXPECT_FALSE(exists(files[0]));
    EXPECT_EQ(namesIn(trashFiles()), std::set<std::string> { "x.txt" });
    EXPECT_EQ(namesIn(trashInfo()), std::set<std::string> { "x.txt.trashinfo" });
    EXPECT_EQ(label3(), kDeletedMarker);
    EXPECT_EQ(form2->Label4->path(), files[1]);
    EXPECT_TRUE(form2->Image1->isHidden());
    EXPECT_TRUE(form2->canRestore());
    EXPECT_EQ(form2->fsListBox1->rowCount(), 1u); // the lists stay

    pressUndo();
    EXPECT_EQ(readFile(files[0]), "same x.txt");
    EXPECT_TRUE(namesIn(trashFiles()).empty());
    EXPECT_TRUE(namesIn(trashInfo()).empty());
    EXPECT_EQ(form2->Label3->path(), files[0]); // the labels refreshed
    EXPECT_FALSE(form2->Image1->isHidden());
    EXPECT_FALSE(form2->canRestore());
    pressUndo(); // nothing more to put back
    EXPECT_TRUE(boxes().messages.empty());

    // The Delete key in the first list moves its shown file, and the menu
    // offers the way back.
    form2->fsListBox1->setFocus();
    QTest::keyClick(form2->fsListBox1, Qt::Key_Delete);
    EXPECT_FALSE(exists(files[0]));
    rightClickRow(form2->fsListBox1, 0);
    EXPECT_TRUE(form2->menuRestore->isEnabled());
    choose(form2->menuRestore);
    EXPECT_TRUE(exists(files[0]));
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(NameListMenu, AColumnGoesToTheTrashAsOneActionAndTheLastActionComesBackFirst)
{
    // Three copies by name, listed both ways: the batch keeps the last one,
    // as "Удалить все" does.
    const std::string a = tree.file("d1/same.txt", "1");
    const std::string b = tree.file("d2/same.txt", "2");
    const std::string c = tree.file("d3/same.txt", "3");
    const std::string p = tree.file("p/pair.txt", "p");
    const std::string q = tree.file("q/pair.txt", "p");
    showRows({ a, b, c, p, q },
        { { 1, 0 }, { 2, 0 }, { 0, 1 }, { 2, 1 }, { 0, 2 }, { 1, 2 }, { 3, 4 } }, Criterion::Name);
    rightClick(form2->fsListBox1, QPoint(20, form2->fsListBox1->viewport()->height() - 4));
    choose(form2->menuTrashAll);
    EXPECT_TRUE(exists(a));
    EXPECT_FALSE(exists(b));
    EXPECT_FALSE(exists(c));
    EXPECT_FALSE(exists(p)); // its row comes after; q stays
    EXPECT_TRUE(exists(q));
    EXPECT_EQ(
        namesIn(trashFiles()), (std::set<std::string> { "same.txt", "same.2.txt", "pair.txt" }));
    EXPECT_EQ(label3(), kDeletedMarker); // as "Удалить все" marks it, with no pair shown
    EXPECT_TRUE(boxes().messages.empty());

    // A later single move is the first to come back.
    rightClickRow(form2->fsListBox2, 6);
    EXPECT_EQ(label3(), kDeletedMarker); // p went with the column
    choose(form2->menuTrash); // q: the user was shown that its copy is gone
    EXPECT_FALSE(exists(q));
    pressUndo();
    EXPECT_TRUE(exists(q));
    EXPECT_FALSE(exists(b));
    EXPECT_EQ(form2->Label4->path(), q);

    pressUndo();
    EXPECT_EQ(readFile(b), "2");
    EXPECT_EQ(readFile(c), "3");
    EXPECT_EQ(readFile(p), "p");
    EXPECT_TRUE(namesIn(trashFiles()).empty());
    EXPECT_EQ(form2->Label3->path(), p); // the shown pair, chosen anew
    EXPECT_FALSE(form2->canRestore());
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(NameListMenu, AColumnMovedWithNoPairShownGetsItsMarkerBack)
{
    const auto files = pairsOf({ "a", "b" });
    showRows(files, adjacentRows(2));
    ASSERT_EQ(label3(), kEmptyMarker);
    pressUndo(); // nothing to put back yet
    rightClick(form2->fsListBox1, QPoint(20, form2->fsListBox1->viewport()->height() - 4));
    choose(form2->menuTrashAll);
    EXPECT_FALSE(exists(files[0]));
    EXPECT_FALSE(exists(files[2]));
    EXPECT_EQ(label3(), kDeletedMarker);
    pressUndo();
    EXPECT_TRUE(exists(files[0]));
    EXPECT_TRUE(exists(files[2]));
    EXPECT_EQ(label3(), kEmptyMarker);
}

TEST_F(NameListMenu, AFileWhosePlaceIsTakenStaysInTheTrashAndIsNamed)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    chooseOnRow(0, form2->menuTrash);
    tree.file("one/a", "a new file");
    pressUndo();
    EXPECT_EQ(boxes().messages,
        std::vector<QString> { kStayedInTrash + ": " + QString::fromStdString(files[0]) });
    EXPECT_EQ(readFile(files[0]), "a new file");
    EXPECT_EQ(namesIn(trashFiles()), std::set<std::string> { "a" });
    EXPECT_EQ(form2->Label3->path(), files[0]); // the new file is what the path holds now
    EXPECT_FALSE(form2->canRestore());
}

TEST_F(NameListMenu, TheOnlyCopyAndAChangedCopyAreNotMoved)
{
    // Rows naming one file twice, as a search that knew no identity made.
    const std::string precious = tree.file("d/precious.txt", "only copy");
    showRows({ precious, tree.root() + "/./d/precious.txt" }, { { 0, 1 }, { 1, 0 } });
    chooseOnRow(0, form2->menuTrash);
    EXPECT_EQ(boxes().messages, std::vector<QString> { kNotTrashedSameFile });
    rightClickRow(form2->fsListBox2, 1);
    choose(form2->menuTrashAll);
    EXPECT_TRUE(exists(precious));
    EXPECT_TRUE(namesIn(trashFiles()).empty());
    EXPECT_FALSE(form2->canRestore());

    // A content copy edited after the search keeps its partner.
    boxes().messages.clear();
    const auto files = pairsOf({ "e" });
    showRows(files, adjacentRows(1));
    tree.file("two/e", "other bytes now");
    chooseOnRow(0, form2->menuTrash);
    EXPECT_EQ(boxes().messages, std::vector<QString> { kNotTrashedCopyChanged });
    rightClickRow(form2->fsListBox1, 0);
    choose(form2->menuTrashAll);
    EXPECT_TRUE(exists(files[0]));
}

TEST_F(NameListMenu, AFailedMoveChangesNothingAndIsToldOnce)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    fileSystem.untrashable = { files[0], files[4] };
    chooseOnRow(0, form2->menuTrash);
    EXPECT_EQ(boxes().messages,
        std::vector<QString> { kTrashFailed + ": " + QString::fromStdString(files[0]) });
    EXPECT_EQ(form2->Label3->path(), files[0]);
    EXPECT_FALSE(form2->Image1->isHidden());
    EXPECT_FALSE(form2->canRestore());

    // The batch goes on past both and names them together at the end.
    boxes().messages.clear();
    chooseOnRow(0, form2->menuTrashAll);
    EXPECT_EQ(boxes().messages,
        std::vector<QString> { kTrashFailed + ":\n" + QString::fromStdString(files[0]) + "\n"
            + QString::fromStdString(files[4]) });
    EXPECT_TRUE(exists(files[0]));
    EXPECT_FALSE(exists(files[2]));
    EXPECT_TRUE(exists(files[4]));
    EXPECT_EQ(label3(), kDeletedMarker); // a file of the column went, as "Удалить все" marks it
    pressUndo();
    EXPECT_TRUE(exists(files[2]));
    EXPECT_EQ(form2->Label3->path(), files[0]);
}

TEST_F(NameListMenu, PathsAreCopiedAsTheEditorShowsThem)
{
    const std::string first = tree.file("caf\xe9/x.txt", "same");
    const std::string second = tree.file("two/\xff.txt", "same");
    const std::string third = tree.file("three/y.txt", "other");
    const std::string fourth = tree.file("four/y.txt", "other");
    showRows({ first, second, third, fourth }, adjacentRows(2));
    chooseOnRow(0, form2->menuCopyPath);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), label3());
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QFile::decodeName(first.c_str()));
    rightClickRow(form2->fsListBox2, 0);
    choose(form2->menuCopyPath);
    EXPECT_EQ(QGuiApplication::clipboard()->text(), label4());

    chooseOnRow(1, form2->menuCopyAllPairs);
    EXPECT_EQ(QGuiApplication::clipboard()->text(),
        QFile::decodeName(first.c_str()) + "\t" + QFile::decodeName(second.c_str()) + "\n"
            + QString::fromStdString(third) + "\t" + QString::fromStdString(fourth) + "\n");
}

TEST_F(NameListMenu, OpenAndShowInFolderGoThroughTheDesktop)
{
    const auto files = pairsOf({ "a" });
    showRows(files, adjacentRows(1));
    chooseOnRow(0, form2->menuShowInFolder);
    chooseOnRow(0, form2->menuOpen);
    rightClickRow(form2->fsListBox2, 0);
    choose(form2->menuShowInFolder);
    EXPECT_EQ(desktop().shownInFolder, (std::vector<std::string> { files[0], files[1] }));
    EXPECT_EQ(desktop().opened, std::vector<std::string> { files[0] });
}

TEST_F(NameListMenu, TheFirstListOpensTheSecondCopysMenuFromTheKeyboard)
{
    const auto files = pairsOf({ "a", "b", "c" });
    showRows(files, adjacentRows(3));
    // Far enough from the screen's right edge for the menu to open where
    // it is asked to.
    form2->move(0, form2->y());
    form2->fsListBox1->setFocus(Qt::TabFocusReason);
    QTest::keyClick(form2->windowHandle(), Qt::Key_Down);
    ASSERT_EQ(form2->fsListBox1->currentRow(), 1);

    // Ctrl+Shift+F10: the pair is chosen, the menu serves column 2 and
    // opens at the second list's row of the pair.
    QTest::keyClick(form2->windowHandle(), Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
    ASSERT_TRUE(menu()->isVisible());
    EXPECT_EQ(form2->menuColumn(), 2);
    EXPECT_EQ(form2->Label4->path(), files[3]);
    EXPECT_EQ(form2->fsListBox2->selectedRow(), 1);
    const QRect row = form2->fsListBox2->visualRect(1);
    EXPECT_TRUE(QRect(form2->fsListBox2->viewport()->mapToGlobal(row.topLeft()), row.size() * 2)
                    .contains(menu()->pos()));
    // Delete belongs to the first list: this menu neither shows nor takes it,
    // and the first list takes it not while this menu is open.
    EXPECT_TRUE(form2->menuTrash->shortcut().isEmpty());
    QTest::keyClick(menu(), Qt::Key_Delete);
    EXPECT_TRUE(exists(files[3]));
    EXPECT_TRUE(exists(files[2]));
    if (menu()->isVisible())
        choose(form2->menuCopyPath);
    else
        ADD_FAILURE() << "Delete closed the menu";
    EXPECT_EQ(QGuiApplication::clipboard()->text().toStdString(), files[3]);

    // Its trash item moves the second copy, not the first.
    QTest::keyClick(form2->windowHandle(), Qt::Key_F10, Qt::ControlModifier | Qt::ShiftModifier);
    choose(form2->menuTrash);
    EXPECT_FALSE(exists(files[3]));
    EXPECT_TRUE(exists(files[2]));
    EXPECT_EQ(namesIn(trashFiles()), std::set<std::string> { "b" });
    EXPECT_EQ(label4(), kDeletedMarker);
    EXPECT_EQ(form2->Label3->path(), files[2]);
    pressUndo();
    EXPECT_TRUE(exists(files[3]));

    // Ctrl with the menu key, as a key and as the platform's menu event.
    QTest::keyClick(form2->windowHandle(), Qt::Key_Down);
    QTest::keyClick(form2->windowHandle(), Qt::Key_Menu, Qt::ControlModifier);
    ASSERT_TRUE(menu()->isVisible());
    EXPECT_EQ(form2->menuColumn(), 2);
    EXPECT_EQ(form2->Label4->path(), files[5]);
    closeMenu();
    QContextMenuEvent menuKey(QContextMenuEvent::Keyboard, QPoint(5, 5),
        form2->fsListBox1->mapToGlobal(QPoint(5, 5)), Qt::ControlModifier);
    QApplication::sendEvent(form2->fsListBox1, &menuKey);
    ASSERT_TRUE(menu()->isVisible());
    EXPECT_EQ(form2->menuColumn(), 2);
    closeMenu();

    // The first list's own menu shows its Delete again.
    QTest::keyClick(form2->windowHandle(), Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(form2->menuColumn(), 1);
    EXPECT_EQ(form2->menuTrash->shortcut(), QKeySequence(Qt::Key_Delete));
    closeMenu();
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(NameListMenu, WhatNothingCanOpenIsNamedInABox)
{
    const auto files = pairsOf({ "caf\xe9" });
    showRows(files, adjacentRows(1));
    desktop().failing = true;
    chooseOnRow(0, form2->menuShowInFolder);
    rightClickRow(form2->fsListBox2, 0);
    choose(form2->menuOpen);
    EXPECT_EQ(boxes().messages,
        (std::vector<QString> { QStringLiteral("Не удалось показать файл в папке: ")
                + QFile::decodeName(files[0].c_str()),
            QStringLiteral("Не удалось открыть файл: ") + QFile::decodeName(files[1].c_str()) }));
}
