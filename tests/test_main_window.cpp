// The main window driven through real input: directory choice, criteria,
// hints, the search command's checks, the collection, Stop and the guard
// against a second search.
#include "app/startup.h"
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QAbstractItemView>
#include <QApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTimer>
#include <QToolTip>
#include <climits>
#include <cstdlib>

using namespace qevra;
using namespace qevra::testing;

namespace {

std::vector<std::string> candidates(const TForm1& form)
{
    return form.ListBox1.toVector();
}

} // namespace

using MainWindow = FormsTest;

TEST_F(MainWindow, StartsInItsDesignedState)
{
    TForm1& f = *form1;
    EXPECT_EQ(f.windowTitle(), "Qevra");
    EXPECT_EQ(f.size(), QSize(495, 140));
    EXPECT_EQ(f.palette().color(QPalette::Window), QColor(240, 251, 255));
    EXPECT_EQ(f.font().pixelSize(), 11);
    EXPECT_FALSE(f.windowFlags() & Qt::WindowMaximizeButtonHint);
    EXPECT_EQ(f.Label2->text(), "не выбран");
    EXPECT_EQ(f.xpButton3->text(), "Искать копии");
    EXPECT_EQ(f.xpButton3->geometry(), QRect(256, 8, 121, 25));
    EXPECT_EQ(f.fsBitBtn4->geometry(), QRect(280, 54, 77, 22));
    EXPECT_EQ(f.proComboBox1->geometry(), QRect(120, 56, 153, 21));
    EXPECT_EQ(f.CheckBox3->geometry(), QRect(312, 80, 97, 17));
    // Docked at the bottom edge, at least 16 pixels high, more when the
    // tooltip font needs it.
    const int statusHeight = f.StatusBar1->barHeight();
    EXPECT_GE(statusHeight, 16);
    EXPECT_EQ(f.StatusBar1->geometry(), QRect(0, 140 - statusHeight, 495, statusHeight));
    EXPECT_EQ(f.xpButton1->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(f.checkbox1->cursor().shape(), Qt::PointingHandCursor);

    QStringList items;
    for (int i = 0; i < f.proComboBox1->count(); ++i)
        items << f.proComboBox1->itemText(i);
    EXPECT_EQ(items,
        QStringList({ "avi", "bmp", "doc", "exe", "gif", "htm", "html", "jpeg", "jpg", "lnk", "mid",
            "mp3", "mpeg", "mpg", "rar", "txt", "zip", "Видео (avi,mpeg,mpg)",
            "Графика (jpg,jpeg,bmp,gif)" }));
    EXPECT_EQ(f.proComboBox1->maxVisibleItems(), 8);
    EXPECT_EQ(f.proComboBox1->currentText(), "");
    EXPECT_EQ(f.proComboBox1->currentIndex(), -1);
    for (auto* box : { f.checkbox1, f.CheckBox2, f.CheckBox3 }) {
        EXPECT_FALSE(box->isChecked());
        EXPECT_TRUE(box->isEnabled());
    }
    EXPECT_EQ(f.StatusBar1->text(), "");
    EXPECT_EQ(f.ProgressBar1->position(), 0);
    EXPECT_EQ(f.ProgressBar1->minimum(), 1);
    EXPECT_EQ(f.ProgressBar1->maximum(), 100);
    EXPECT_TRUE(f.ListBox4.empty());
    EXPECT_EQ(StopFlag, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_FALSE(about->isVisible());
}

TEST_F(MainWindow, TabWalksTheDesignedFocusOrder)
{
    TForm1& f = *form1;
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.proComboBox1->setFocus();
    const std::vector<QWidget*> order = { f.xpButton1, f.xpButton2, f.xpButton3, f.xpButton4,
        f.fsBitBtn4, f.checkbox1, f.CheckBox2, f.CheckBox3 };
    for (QWidget* next : order) {
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
        EXPECT_EQ(QApplication::focusWidget(), next) << next->metaObject()->className();
    }
}

TEST_F(MainWindow, ExtensionBoxCompletesInlineWithTheFirstMatchingItem)
{
    QLineEdit* edit = form1->proComboBox1->lineEdit();
    form1->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form1));
    form1->proComboBox1->setFocus();
    typeText(edit, "H");
    EXPECT_EQ(edit->text(), "Htm"); // first item beginning with "h", case ignored
    EXPECT_EQ(edit->selectedText(), "tm");
    typeText(edit, "tmL");
    EXPECT_EQ(form1->proComboBox1->currentText().toLower(), "html");
    QTest::keyClick(edit, Qt::Key_Return);
    // Enter never adds the typed text as an item.
    EXPECT_EQ(form1->proComboBox1->count(), 19);

    typeExtension("log");
    EXPECT_EQ(form1->proComboBox1->currentText(), "log");
    typeExtension(QStringLiteral("Гра"));
    EXPECT_EQ(form1->proComboBox1->currentText(), QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
}

TEST_F(MainWindow, AddingBeforeChoosingAsksForTheMainDirectory)
{
    click(form1->xpButton2);
    EXPECT_EQ(boxes().messages, std::vector<QString> { "Выберите основной каталог" });
    EXPECT_TRUE(folders().prompts.empty());
    EXPECT_EQ(form1->Label2->text(), "не выбран");
    EXPECT_TRUE(form1->ListBox4.empty());
}

TEST_F(MainWindow, DirectoriesOnTheCommandLineAreChosenAsTheButtonsWould)
{
    // qevra DIR...: each directory as the folder dialog answers it (its
    // canonical path), the first chosen, the others added; what is no
    // directory is left out, and an unknown option is a mistake.
    TempTree tree;
    const std::string a = tree.dir("a");
    const std::string b = tree.dir("b");
    tree.file("file.txt");
    tree.link("link", a);
    std::vector<std::string> leftOut;
    std::string wrong;
    const auto dirs
        = directoriesFromArguments({ tree.root() + "/./a", "--", tree.path("link"),
                                       tree.path("file.txt"), tree.path("none"), "-b", b },
            leftOut, wrong);
    EXPECT_TRUE(wrong.empty());
    EXPECT_EQ(
        leftOut, (std::vector<std::string> { tree.path("file.txt"), tree.path("none"), "-b" }));
    char real[PATH_MAX];
    ASSERT_TRUE(::realpath(tree.root().c_str(), real));
    const std::string root = real;
    EXPECT_EQ(dirs, (std::vector<std::string> { root + "/a", root + "/a", root + "/b" }));

    qevra::chooseDirectories(*form1, dirs);
    EXPECT_EQ(form1->ListBox4.toVector(), dirs);
    EXPECT_EQ(form1->Label2->text(),
        QString::fromStdString(root + "/a + " + root + "/a + " + root + "/b"));
    EXPECT_TRUE(boxes().messages.empty());

    leftOut.clear();
    EXPECT_TRUE(directoriesFromArguments({ a, "--bogus" }, leftOut, wrong).empty());
    EXPECT_EQ(wrong, "--bogus");
}

TEST_F(MainWindow, ChoosingAndAddingDirectoriesBuildsTheRootList)
{
    TForm1& f = *form1;
    chooseDirectories({ "/c", "/d", "/e", "/d" });
    EXPECT_EQ(f.Label2->text(), "/c + /d + /e + /d");
    EXPECT_EQ(f.ListBox4.toVector(), (std::vector<std::string> { "/c", "/d", "/e", "/d" }));
    for (const QString& prompt : folders().prompts)
        EXPECT_EQ(prompt, "Выберите папку для поиска дубликатов");

    // Cancelling either dialog changes nothing.
    click(f.xpButton1);
    click(f.xpButton2);
    EXPECT_EQ(f.Label2->text(), "/c + /d + /e + /d");
    EXPECT_EQ(f.ListBox4.size(), 4u);

    chooseDirectories({ "/" });
    EXPECT_EQ(f.Label2->text(), "/");
    EXPECT_EQ(f.ListBox4.toVector(), std::vector<std::string> { "/" });

    // A path that is not UTF-8 keeps its bytes in the root list.
    chooseDirectories({ "/caf\xe9" });
    EXPECT_EQ(f.ListBox4.toVector(), std::vector<std::string> { "/caf\xe9" });
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(MainWindow, CheckingOneCriterionDisablesTheOtherTwo)
{
    TForm1& f = *form1;
    const std::vector<controls::TxpCheckBox*> all = { f.checkbox1, f.CheckBox2, f.CheckBox3 };
    for (auto* chosen : all) {
        click(chosen);
        EXPECT_TRUE(chosen->isChecked());
        for (auto* other : all) {
            if (other == chosen)
                continue;
            EXPECT_FALSE(other->isEnabled());
            click(other); // a disabled box takes no click
            EXPECT_FALSE(other->isChecked());
        }
        click(chosen);
        EXPECT_FALSE(chosen->isChecked());
        for (auto* box : all)
            EXPECT_TRUE(box->isEnabled());
    }
    // Space toggles too, and the handler follows.
    f.CheckBox2->setFocus();
    QTest::keyClick(f.CheckBox2, Qt::Key_Space);
    EXPECT_TRUE(f.CheckBox2->isChecked());
    EXPECT_FALSE(f.checkbox1->isEnabled());
}

TEST_F(MainWindow, MouseOverHintsSetTheStatusText)
{
    TForm1& f = *form1;
    QTest::mouseMove(f.Label2, QPoint(3, 3));
    EXPECT_EQ(f.StatusBar1->text(), "   Имя каталога, в котором будет произведен поиск копий");
    QTest::mouseMove(f.ProgressBar1, QPoint(10, 5));
    EXPECT_EQ(f.StatusBar1->text(), "   Тут будет отображаться процесс поиска файлов");
    // Controls without a hint leave the text alone.
    QTest::mouseMove(f.xpButton1, QPoint(10, 10));
    QTest::mouseMove(f.Label3, QPoint(2, 2));
    QTest::mouseMove(f.checkbox1, QPoint(30, 8));
    EXPECT_EQ(f.StatusBar1->text(), "   Тут будет отображаться процесс поиска файлов");
    QTest::mouseMove(f.StatusBar1, QPoint(100, 8));
    EXPECT_EQ(f.StatusBar1->text(), "   Здесь отображаются все действия программы");
    QTest::mouseMove(&f, QPoint(450, 90)); // bare window area
    EXPECT_EQ(f.StatusBar1->text(), " ");
}

TEST_F(MainWindow, ExtensionBoxShowsTheStartOfItsTextWithoutTheFocus)
{
    TForm1& f = *form1;
    QLineEdit* edit = f.proComboBox1->lineEdit();
    const int firstLetter = edit->fontMetrics().horizontalAdvance(QStringLiteral("Г"));
    // Where the edit field draws its cursor: near its left edge when the
    // start of the text is in view.
    const auto cursorX
        = [edit] { return edit->inputMethodQuery(Qt::ImCursorRectangle).toRect().left(); };
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    f.proComboBox1->setFocus();
    // Typed to its end, the text runs past the box, and its end is in view.
    typeText(edit, QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    ASSERT_EQ(edit->cursorPosition(), edit->text().size());
    EXPECT_GT(cursorX(), edit->width() / 2);
    // Tab moves on: the start shows.
    QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
    ASSERT_EQ(QApplication::focusWidget(), f.xpButton1);
    EXPECT_EQ(edit->cursorPosition(), 0);
    EXPECT_LT(cursorX(), firstLetter);

    f.proComboBox1->setFocus();
    edit->selectAll();
    typeText(edit, QStringLiteral("Гр"));
    ASSERT_EQ(edit->text(), QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));

    // Another window takes the focus for a while: the box shows the start
    // of its text, and gets the completed rest back with the focus, so
    // that typing goes on where it was.
    about->show();
    about->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(about));
    EXPECT_EQ(edit->cursorPosition(), 0);
    EXPECT_LT(cursorX(), firstLetter);
    f.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&f));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("афика (jpg,jpeg,bmp,gif)"));
    typeText(edit, QStringLiteral("а"));
    EXPECT_EQ(edit->text(), QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    EXPECT_EQ(edit->selectedText(), QStringLiteral("фика (jpg,jpeg,bmp,gif)"));

    // A text set while the box has no focus shows from its start as well.
    f.xpButton1->setFocus();
    f.proComboBox1->setEditText(QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    EXPECT_LT(cursorX(), firstLetter);
    f.proComboBox1->setCurrentIndex(17);
    EXPECT_EQ(f.proComboBox1->currentText(), QStringLiteral("Видео (avi,mpeg,mpg)"));
    EXPECT_LT(cursorX(), firstLetter);
}

TEST_F(MainWindow, StatusTextShowsTheFullHeightOfItsLetters)
{
    TForm1& f = *form1;
    // Capitals and the letters that reach below the line.
    const QString text = QStringLiteral("   Здесь отображаются все действия программы: у, д, р");
    // Rows of the image with a dark pixel in the columns [left, right).
    const auto inkRows = [](const QImage& image, int left, int right) {
        int top = -1;
        int bottom = -1;
        for (int y = 0; y < image.height(); ++y)
            for (int x = left; x < right; ++x)
                if (qGray(image.pixel(x, y)) < 128) {
                    top = top < 0 ? y : top;
                    bottom = y;
                    break;
                }
        return top < 0 ? 0 : bottom - top + 1;
    };
    for (const int pixels : { 0, 13, 15 }) {
        QFont font = QToolTip::font();
        if (pixels > 0)
            font.setPixelSize(pixels);
        f.StatusBar1->setFont(font);
        f.StatusBar1->setText(text);
        const QFontMetrics metrics(font);
        // The same text drawn with room to spare.
        QImage free(f.width(), metrics.height() * 3, QImage::Format_RGB32);
        free.fill(f.palette().color(QPalette::Window));
        {
            QPainter painter(&free);
            painter.setFont(font);
            painter.setPen(Qt::black);
            painter.drawText(QPoint(2, metrics.height() + metrics.ascent()), text);
        }
        QCoreApplication::processEvents();
        const QImage bar = f.grab(f.StatusBar1->geometry()).toImage();
        const QRect area = f.StatusBar1->textArea();
        EXPECT_EQ(inkRows(bar, area.left() + 1, area.right() - 1),
            inkRows(free, area.left() + 1, area.right() - 1))
            << "font of " << metrics.height() << " pixels";
        EXPECT_EQ(f.StatusBar1->geometry().bottom(), f.height() - 1);
    }
    // With the platform's own tooltip font it stays clear of the progress bar.
    f.StatusBar1->setFont(QToolTip::font());
    EXPECT_GT(f.StatusBar1->y(), f.ProgressBar1->geometry().bottom());
}

TEST_F(MainWindow, AboutIsShownWithoutBeingModal)
{
    click(form1->xpButton4);
    EXPECT_TRUE(about->isVisible());
    EXPECT_FALSE(about->isModal());
    click(form1->xpButton4);
    EXPECT_TRUE(about->isVisible());
    about->close();
    EXPECT_FALSE(about->isVisible());
    // The main window stayed usable throughout.
    click(form1->xpButton2);
    EXPECT_EQ(boxes().messages.size(), 1u);
}

TEST_F(MainWindow, SearchChecksItsInputsInOrderAndChangesNothingOnFailure)
{
    TForm1& f = *form1;
    f.ListBox1.append("/kept");
    f.StatusBar1->setText("before");
    click(f.xpButton3);
    EXPECT_EQ(boxes().messages, std::vector<QString> { "Выберите каталог" });

    chooseDirectories({ "/nowhere" });
    click(f.xpButton3);
    EXPECT_EQ(boxes().messages.back(), "Выберите расширение файлов");

    typeExtension("txt");
    click(f.xpButton3);
    EXPECT_EQ(boxes().messages.back(), "Выберите критерии поиска файлов");
    EXPECT_EQ(boxes().messages.size(), 3u);

    EXPECT_EQ(candidates(f), std::vector<std::string> { "/kept" });
    EXPECT_EQ(f.StatusBar1->text(), "before");
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(MainWindow, SearchCollectsEveryRootInOrder)
{
    TempTree tree;
    tree.file("one/a.txt", "1");
    tree.file("one/B.TXT", "22");
    tree.file("one/c.log");
    tree.file("two/sub/d.txt", "333");
    TForm1& f = *form1;
    chooseDirectories({ tree.path("two"), tree.path("one/"), tree.path("two") });
    typeExtension("txt");
    click(f.CheckBox3);
    click(f.xpButton3);

    EXPECT_EQ(candidates(f),
        (std::vector<std::string> { tree.path("two/sub/d.txt"), tree.path("one/a.txt"),
            tree.path("one/B.TXT"), tree.path("two/sub/d.txt") }));
    // No two different files share a size: the pass finds nothing.
    EXPECT_TRUE(f.ListBox2.empty());
    EXPECT_EQ(boxes().messages, std::vector<QString> { "Дубликатов нету" });
    EXPECT_TRUE(form2->isVisible());
    EXPECT_TRUE(f.isVisible());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(MainWindow, UnreadableDirectoryIsSkippedSilently)
{
    TempTree tree;
    tree.file("a/x.txt");
    tree.file("b/y.txt");
    fileSystem.unreadable.insert(tree.path("a"));
    chooseDirectories({ tree.root() });
    typeExtension("txt");
    click(form1->checkbox1);
    click(form1->xpButton3);
    EXPECT_EQ(candidates(*form1), std::vector<std::string> { tree.path("b/y.txt") });
    EXPECT_EQ(boxes().messages, std::vector<QString> { "Дубликатов нету" });
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(MainWindow, StopWhileIdleEndsTheNextSearchAtItsFirstDirectory)
{
    TempTree tree;
    tree.file("a.txt");
    TForm1& f = *form1;
    chooseDirectories({ tree.root() });
    typeExtension("txt");
    click(f.CheckBox2);
    f.ListBox1.append("/previous");

    click(f.fsBitBtn4);
    EXPECT_EQ(StopFlag, -1);
    EXPECT_EQ(f.StatusBar1->text(), "");

    click(f.xpButton3);
    EXPECT_TRUE(f.ListBox1.empty());
    EXPECT_EQ(f.StatusBar1->text(), "    Идет сканирование каталога");
    EXPECT_EQ(StopFlag, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
    EXPECT_FALSE(f.searching());

    // The search after that runs normally.
    click(f.xpButton3);
    EXPECT_EQ(candidates(f), std::vector<std::string> { tree.path("a.txt") });
    EXPECT_TRUE(form2->isVisible());
}

TEST_F(MainWindow, StopDuringTheCollectionKeepsWhatWasCollected)
{
    TempTree tree;
    tree.file("a.txt");
    tree.file("s/b.txt");
    tree.file("s/t/c.txt");
    TForm1& f = *form1;
    chooseDirectories({ tree.root() });
    typeExtension("txt");
    click(f.CheckBox3);
    f.ProgressBar1->setPosition(7);
    // The user presses Stop while the search reads "s": the search ends when
    // it enters the next directory.
    fileSystem.onReadDirectory = [&](const std::string& dir) {
        if (dir == tree.path("s"))
            click(f.fsBitBtn4);
    };
    click(f.xpButton3);
    EXPECT_EQ(
        candidates(f), (std::vector<std::string> { tree.path("a.txt"), tree.path("s/b.txt") }));
    EXPECT_EQ(f.StatusBar1->text(), "    Идет сканирование каталога");
    EXPECT_EQ(f.ProgressBar1->position(), 7);
    EXPECT_EQ(StopFlag, 0);
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
}

TEST_F(MainWindow, RunningSearchKeepsItsInputsAndIgnoresASecondPress)
{
    TempTree tree;
    tree.file("first/a.txt");
    tree.file("first/sub/b.txt");
    tree.file("first/sub/b.log");
    tree.file("second/c.txt");
    TForm1& f = *form1;
    chooseDirectories({ tree.path("first") });
    typeExtension("txt");
    click(f.checkbox1);

    bool acted = false;
    fileSystem.onReadDirectory = [&](const std::string&) {
        if (acted)
            return;
        acted = true;
        // In the middle of the search the user presses "Искать копии"
        // again, chooses another directory, types another extension and
        // switches the criterion.
        click(f.xpButton3);
        chooseDirectories({ tree.path("second") });
        typeExtension("log");
        click(f.checkbox1);
        click(f.CheckBox2);
    };
    click(f.xpButton3);
    EXPECT_EQ(candidates(f),
        (std::vector<std::string> { tree.path("first/a.txt"), tree.path("first/sub/b.txt") }));
    EXPECT_EQ(fileSystem.reads.size(), 2u); // each directory read once, one search only
    EXPECT_TRUE(boxes().messages.empty());

    // The next search takes the new inputs.
    fileSystem.onReadDirectory = nullptr;
    form2->close();
    click(f.xpButton3);
    EXPECT_TRUE(candidates(f).empty()); // "second" holds no .log file
    EXPECT_EQ(f.ListBox4.toVector(), std::vector<std::string> { tree.path("second") });
}

TEST_F(MainWindow, ClosingDuringASearchEndsTheProgramWhenTheSearchReturns)
{
    TempTree tree;
    tree.file("a.txt");
    tree.file("s/b.txt");
    TForm1& f = *form1;
    chooseDirectories({ tree.root() });
    typeExtension("txt");
    click(f.CheckBox3);
    bool visibleAfterClose = false;
    fileSystem.onReadDirectory = [&](const std::string& dir) {
        if (dir != tree.root())
            return;
        f.close();
        visibleAfterClose = f.isVisible();
        // A box the search opens meanwhile closes at once.
        services->ShowMessage("while ending");
    };
    QTimer::singleShot(0, &f, [&] { click(f.xpButton3); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
    EXPECT_TRUE(visibleAfterClose);
    // The search ran to its end.
    EXPECT_EQ(
        candidates(f), (std::vector<std::string> { tree.path("a.txt"), tree.path("s/b.txt") }));
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(MainWindow, ClosingWhileIdleEndsTheProgram)
{
    form2->show();
    QTimer::singleShot(0, form1, [&] { form1->close(); });
    QTimer::singleShot(20000, [] { QCoreApplication::exit(3); });
    EXPECT_EQ(QCoreApplication::exec(), 0);
}

TEST_F(MainWindow, ClosingTheEditorHidesItAndBringsBackTheMainWindow)
{
    form1->hide();
    form2->show();
    form2->close();
    EXPECT_FALSE(form2->isVisible());
    EXPECT_TRUE(form1->isVisible());
}
