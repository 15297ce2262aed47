// The copies editor: its layout, showing, stepping through the pairs with
// the mouse and the keyboard, the deleted marker and closing.
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QTimer>
#include <unistd.h>

using namespace qevra;
using namespace qevra::testing;

namespace {

class Editor : public FormsTest {
protected:
    // Puts pairs into the hidden lists as a pass would, then shows the
    // editor in place of the main window.
    void showPairs(const std::vector<std::pair<std::string, std::string>>& pairs)
    {
        form2->clearNameLists();
        form1->ListBox1.clear();
        form1->ListBox2.clear();
        form1->ListBox3.clear();
        for (const auto& [first, second] : pairs) {
            form1->ListBox1.append(first);
            form1->ListBox2.append(std::uint32_t(form1->ListBox1.size() - 1));
            form1->ListBox1.append(second);
            form1->ListBox3.append(std::uint32_t(form1->ListBox1.size() - 1));
        }
        form2->fsListBox1->names()->appendFromColumn();
        form2->fsListBox2->names()->appendFromColumn();
        form1->hide();
        form2->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form2.get()));
    }

    void clickRow(int row)
    {
        auto* list = form2->fsListBox1;
        const QRect rect = list->visualRect(list->model()->index(row, 0));
        QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, rect.center());
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
    EXPECT_EQ(e.fsListBox1->geometry(), QRect(16, 104, 297, 199));
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
    ASSERT_TRUE(QTest::qWaitForWindowActive(form2.get()));
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
    EXPECT_EQ(form2->fsListBox1->model()->rowCount(), 0);
    EXPECT_EQ(form2->fsListBox2->model()->rowCount(), 1); // kept until the next search

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
    form2->fsListBox1->names()->appendFromColumn();
    form2->fsListBox2->names()->appendFromColumn();
    form1->hide();
    form2->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(form2.get()));
    EXPECT_EQ(position(), QStringLiteral("Просмотр 1 из 2000000"));
    form2->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form2.get()));
    clickRow(0);
    QTest::keyClick(form2->fsListBox1, Qt::Key_End);
    EXPECT_EQ(position(), QStringLiteral("Просмотр 2000000 из 2000000"));
    EXPECT_EQ(form2->Label3->path(), two);
    EXPECT_EQ(form2->Label4->path(), one);
    EXPECT_EQ(form2->fsListBox2->selectedRow(), int(rowsWanted - 1));
}
