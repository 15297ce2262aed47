// The name list on billions of rows: every row reachable with the keys,
// the wheel, a drag and the scroll bar, only the rows in view painted and
// told to assistive tools; and the copies editor on a group of a hundred
// thousand files, whose pairs run past the range of an int.
#include "controls/name_list.h"
#include "search/pair_groups.h"
#include "support/form_fixture.h"
#include "support/temp_tree.h"

#include <QAccessible>
#include <QApplication>
#include <QLineEdit>
#include <QScrollBar>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QWheelEvent>

#include <functional>
#include <memory>

using namespace qevra;
using namespace qevra::controls;

namespace {

constexpr std::uint64_t kFiveBillion = 5'000'000'000;
constexpr int kRowHeight = TfsListBox::kRowHeight;
constexpr int kPage = 10;

QString rowName(std::uint64_t row)
{
    return QStringLiteral("row ") + QString::number(row);
}

// Rows whose texts are computed, nothing kept; the texts asked for are
// counted.
class ComputedRows : public ListRows {
public:
    explicit ComputedRows(std::uint64_t count, std::function<QString(std::uint64_t)> text = rowName)
        : rows(count)
        , text_(std::move(text))
    {
    }
    std::uint64_t count() const override { return rows; }
    QString text(std::uint64_t row) const override
    {
        ++asked;
        return text_(row);
    }
    std::uint64_t rows;
    mutable std::uint64_t asked = 0;

private:
    std::function<QString(std::uint64_t)> text_;
};

class NameList : public ::testing::Test {
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(320, 220);
        list = new TfsListBox(window.get());
        // Ten whole rows inside the 3-pixel border.
        list->setGeometry(10, 10, 200, 6 + kPage * kRowHeight);
        list->setRows(&rows);
        other = new QLineEdit(window.get());
        other->setGeometry(220, 10, 90, 21);
        QObject::connect(list, &TfsListBox::userSelected, [this] { ++chosen; });
        QObject::connect(
            list, &TfsListBox::menuRequested, [this](QPoint at) { menus.push_back(at); });
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        list->setFocus(Qt::TabFocusReason);
    }

    void key(Qt::Key k, Qt::KeyboardModifiers modifiers = {})
    {
        QTest::keyClick(list, k, modifiers);
    }
    void typeLater(const QString& text)
    {
        QTest::qWait(QApplication::keyboardInputInterval() + 50);
        qevra::testing::typeText(list, text);
    }

    QWidget* viewport() const { return list->viewport(); }
    int viewHeight() const { return viewport()->height(); }
    QScrollBar* bar() const { return list->verticalScrollBar(); }

    // The rows' pixels once pending repaints are done.
    QImage shot() const
    {
        QCoreApplication::processEvents();
        return viewport()->grab().toImage();
    }

    void wheel(QWidget* target, int angle)
    {
        const QPointF at(target->width() / 2.0, target->height() / 2.0);
        QWheelEvent event(at, target->mapToGlobal(at), QPoint(), QPoint(0, angle), Qt::NoButton,
            Qt::NoModifier, Qt::NoScrollPhase, false);
        QApplication::sendEvent(target, &event);
    }

    // Mouse input through the window system, which delivers it to the
    // widget under the pointer (or the one that grabbed it).
    void press(QWidget* widget, QPoint at)
    {
        QTest::mousePress(
            window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window.get(), at));
    }
    void moveTo(QWidget* widget, QPoint at)
    {
        QTest::mouseMove(window->windowHandle(), widget->mapTo(window.get(), at));
    }
    void release(QWidget* widget, QPoint at)
    {
        QTest::mouseRelease(
            window->windowHandle(), Qt::LeftButton, {}, widget->mapTo(window.get(), at));
    }

    QPoint barHandle() const
    {
        QStyleOptionSlider option;
        option.initFrom(bar());
        option.orientation = Qt::Vertical;
        option.minimum = bar()->minimum();
        option.maximum = bar()->maximum();
        option.sliderPosition = bar()->sliderPosition();
        option.sliderValue = bar()->value();
        option.pageStep = bar()->pageStep();
        return bar()
            ->style()
            ->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider, bar())
            .center();
    }

    void expectLastRowShownAtTheBottom()
    {
        const auto last = std::int64_t(list->rowCount() - 1);
        EXPECT_EQ(list->topRow(), list->rowCount() - kPage);
        EXPECT_EQ(list->rowAt(QPoint(5, viewHeight() - 1)), last);
        EXPECT_EQ(list->visualRect(last),
            QRect(0, viewHeight() - kRowHeight, viewport()->width(), kRowHeight));
    }

    ComputedRows rows { kFiveBillion };
    std::unique_ptr<QWidget> window;
    TfsListBox* list = nullptr;
    QLineEdit* other = nullptr;
    int chosen = 0;
    std::vector<QPoint> menus;
};

} // namespace

TEST_F(NameList, KeysReachEveryRowOfFiveBillionAndOnlyTheRowsInViewArePainted)
{
    ASSERT_EQ(list->pageRows(), kPage);
    // Tabbed into, the first row is current and nothing is chosen.
    EXPECT_EQ(list->currentRow(), 0);
    EXPECT_EQ(list->selectedRow(), -1);

    key(Qt::Key_End);
    const auto last = std::int64_t(kFiveBillion - 1);
    EXPECT_EQ(list->selectedRow(), last);
    EXPECT_EQ(chosen, 1);
    expectLastRowShownAtTheBottom();
    EXPECT_EQ(bar()->value(), bar()->maximum());
    QCoreApplication::processEvents();
    rows.asked = 0;
    const QImage image = shot();
    EXPECT_LE(rows.asked, std::uint64_t(kPage));
    // The highlight fills the bottom row only.
    const QColor highlight = list->palette().color(QPalette::Highlight);
    const int right = image.width() - 3;
    EXPECT_EQ(image.pixelColor(right, viewHeight() - kRowHeight / 2), highlight);
    EXPECT_NE(image.pixelColor(right, viewHeight() - kRowHeight - kRowHeight / 2), highlight);
    // The menu keys choose the row again and ask for the menu at it.
    key(Qt::Key_F10, Qt::ShiftModifier);
    EXPECT_EQ(chosen, 2);
    ASSERT_EQ(menus.size(), 1u);
    const QRect lastRect = list->visualRect(last);
    EXPECT_TRUE(
        QRect(viewport()->mapToGlobal(lastRect.topLeft()), lastRect.size() * 2).contains(menus[0]));
    key(Qt::Key_End); // already there: chooses nothing new
    EXPECT_EQ(chosen, 2);

    key(Qt::Key_Up);
    EXPECT_EQ(list->topRow(), kFiveBillion - kPage);
    key(Qt::Key_PageUp);
    EXPECT_EQ(list->selectedRow(), last - 1 - kPage);
    // Scrolled as little as shows the row.
    EXPECT_EQ(list->topRow(), std::uint64_t(last - 1 - kPage));
    key(Qt::Key_Down);
    EXPECT_EQ(list->topRow(), std::uint64_t(last - 1 - kPage));

    key(Qt::Key_Home);
    EXPECT_EQ(list->selectedRow(), 0);
    EXPECT_EQ(bar()->value(), 0);
    key(Qt::Key_PageDown);
    EXPECT_EQ(list->selectedRow(), kPage);
    EXPECT_EQ(list->topRow(), 1u);
    key(Qt::Key_Up);
    key(Qt::Key_Home);
    key(Qt::Key_Up);
    EXPECT_EQ(list->selectedRow(), 0);
    EXPECT_EQ(chosen, 9);
}

TEST_F(NameList, ScrollBarMapsOntoRowsBeyondTheRangeOfAnInt)
{
    const std::uint64_t lastTop = kFiveBillion - kPage;
    bar()->setValue(bar()->maximum() / 2);
    EXPECT_NEAR(double(list->topRow()), lastTop / 2.0, double(lastTop) / bar()->maximum() + 1);
    // The arrows and the trough move by one row and one page exactly.
    const std::uint64_t middle = list->topRow();
    bar()->triggerAction(QAbstractSlider::SliderSingleStepAdd);
    EXPECT_EQ(list->topRow(), middle + 1);
    bar()->triggerAction(QAbstractSlider::SliderPageStepAdd);
    EXPECT_EQ(list->topRow(), middle + 1 + kPage);
    bar()->triggerAction(QAbstractSlider::SliderSingleStepSub);
    bar()->triggerAction(QAbstractSlider::SliderPageStepSub);
    EXPECT_EQ(list->topRow(), middle);
    // The keys set the top row exactly; the bar follows without moving it.
    list->selectRow(std::int64_t(middle + kPage - 1));
    const int before = bar()->value();
    for (int i = 1; i <= 3; ++i) {
        key(Qt::Key_Down);
        EXPECT_EQ(list->topRow(), middle + std::uint64_t(i));
    }
    EXPECT_LE(bar()->value() - before, 1);
    // Near the end the bar stands before its end until the last row shows.
    list->setTopRow(lastTop - 1);
    EXPECT_LT(bar()->value(), bar()->maximum());

    // Dragged to its end with the mouse, the last row shows; and back.
    const QPoint handle = barHandle();
    press(bar(), handle);
    moveTo(bar(), QPoint(handle.x(), bar()->height() + 40));
    release(bar(), QPoint(handle.x(), bar()->height() + 40));
    expectLastRowShownAtTheBottom();
    EXPECT_EQ(list->selectedRow(), std::int64_t(middle + kPage + 2)); // scrolling chooses nothing
    QTest::mouseClick(viewport(), Qt::LeftButton, {}, QPoint(20, viewHeight() - 3));
    EXPECT_EQ(list->selectedRow(), std::int64_t(kFiveBillion - 1));
    const QPoint back = barHandle();
    press(bar(), back);
    moveTo(bar(), QPoint(back.x(), -40));
    release(bar(), QPoint(back.x(), -40));
    EXPECT_EQ(list->topRow(), 0u);
}

TEST_F(NameList, TheWheelScrollsByLinesOverTheRowsAndTheBar)
{
    const auto lines = std::uint64_t(QApplication::wheelScrollLines());
    wheel(viewport(), -60); // half notches add up
    EXPECT_EQ(list->topRow(), 0u);
    wheel(viewport(), -60);
    EXPECT_EQ(list->topRow(), lines);
    wheel(bar(), -120);
    EXPECT_EQ(list->topRow(), 2 * lines);
    wheel(viewport(), 3 * 120);
    EXPECT_EQ(list->topRow(), 0u);
    bar()->setValue(bar()->maximum());
    wheel(viewport(), -120);
    expectLastRowShownAtTheBottom();
    wheel(viewport(), 120);
    EXPECT_EQ(list->topRow(), kFiveBillion - kPage - lines);
    EXPECT_EQ(list->selectedRow(), -1);
}

TEST_F(NameList, ADragChoosesAlongAndScrollsRowByRowBeyondTheBottom)
{
    press(viewport(), QPoint(20, 5));
    moveTo(viewport(), QPoint(20, 3 * kRowHeight + 5));
    EXPECT_EQ(list->selectedRow(), 3);
    moveTo(viewport(), QPoint(20, viewHeight() + 20));
    EXPECT_EQ(list->selectedRow(), kPage);
    EXPECT_TRUE(QTest::qWaitFor([this] { return list->topRow() >= 3; }, 2000));
    release(viewport(), QPoint(20, viewHeight() + 20));
    const std::uint64_t stopped = list->topRow();
    QTest::qWait(150);
    EXPECT_EQ(list->topRow(), stopped);
    EXPECT_EQ(list->selectedRow(), std::int64_t(stopped) + kPage - 1);

    // Below the last row of a short list the choice stays.
    ComputedRows three(3);
    list->setRows(&three);
    press(viewport(), QPoint(20, kRowHeight + 5));
    moveTo(viewport(), QPoint(20, 5 * kRowHeight));
    release(viewport(), QPoint(20, 5 * kRowHeight));
    EXPECT_EQ(list->selectedRow(), 1);
}

TEST_F(NameList, TypeAheadFindsTheNextRowStartingWithTheTextWithinItsBound)
{
    const QStringList fruit { "apple", "Banana", "blueberry", "cherry", "bilberry" };
    ComputedRows named(5, [&](std::uint64_t row) { return fruit.at(qsizetype(row)); });
    list->setRows(&named);
    qevra::testing::typeText(list, "b");
    EXPECT_EQ(list->selectedRow(), 1); // whatever the case
    qevra::testing::typeText(list, "b"); // the same key again: the next one
    EXPECT_EQ(list->selectedRow(), 2);
    typeLater("bi");
    EXPECT_EQ(list->selectedRow(), 4);
    typeLater("a"); // round past the end
    EXPECT_EQ(list->selectedRow(), 0);

    // Among billions it looks no further than its bound.
    std::uint64_t match = TfsListBox::kTypeAheadRows / 2;
    ComputedRows one(kFiveBillion, [&](std::uint64_t row) {
        return row == match ? QStringLiteral("zebra") : QStringLiteral("x");
    });
    list->setRows(&one);
    typeLater("z");
    EXPECT_EQ(list->selectedRow(), std::int64_t(match));
    match = std::uint64_t(TfsListBox::kTypeAheadRows) * 3;
    list->resetRows();
    one.asked = 0;
    typeLater("z");
    EXPECT_EQ(list->selectedRow(), -1);
    EXPECT_LE(one.asked, std::uint64_t(TfsListBox::kTypeAheadRows) + 2 * kPage);
}

TEST_F(NameList, RowsAppendedKeepTheChoiceAndReplacedRowsDropIt)
{
    ComputedRows growing(3);
    list->setRows(&growing);
    key(Qt::Key_End);
    QCoreApplication::processEvents();
    EXPECT_FALSE(bar()->isVisible());
    growing.rows = kFiveBillion;
    list->rowsAppended();
    QCoreApplication::processEvents();
    EXPECT_TRUE(bar()->isVisible());
    EXPECT_EQ(list->selectedRow(), 2);
    key(Qt::Key_End);
    expectLastRowShownAtTheBottom();
    // Fewer rows: a choice beyond them goes, the view follows.
    growing.rows = 4;
    list->rowsAppended();
    EXPECT_EQ(list->selectedRow(), -1);
    EXPECT_EQ(list->topRow(), 0u);
    list->selectRow(2);
    list->resetRows();
    EXPECT_EQ(list->selectedRow(), -1);
    EXPECT_EQ(list->currentRow(), -1);
    EXPECT_EQ(chosen, 2); // selectRow and the changes told nothing
}

TEST_F(NameList, DrawsFromItsPaletteAndMarksTheCurrentRowWhileFocused)
{
    QPalette colours = list->palette();
    colours.setColor(QPalette::Base, QColor(20, 20, 60));
    colours.setColor(QPalette::Text, QColor(250, 250, 0));
    colours.setColor(QPalette::Highlight, QColor(0, 160, 0));
    colours.setColor(QPalette::HighlightedText, QColor(255, 255, 255));
    colours.setColor(QPalette::Disabled, QPalette::Base, QColor(90, 90, 90));
    colours.setColor(QPalette::Disabled, QPalette::Text, QColor(200, 200, 200));
    colours.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0, 0, 160));
    list->setPalette(colours);
    list->selectRow(1);

    // Whether a row shows its ground, and somewhere a pixel nearer the text
    // colour than the ground.
    const auto shows = [this](const QImage& image, int row, QColor ground, QColor text) {
        const QRect area = list->visualRect(row).adjusted(1, 1, -1, -1);
        const auto distance = [](QColor a, QColor b) {
            return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green())
                + std::abs(a.blue() - b.blue());
        };
        bool inked = false;
        for (int y = area.top(); y <= area.bottom(); ++y)
            for (int x = area.left(); x <= area.right(); ++x) {
                const QColor pixel = image.pixelColor(x, y);
                inked = inked || distance(pixel, text) < distance(pixel, ground);
            }
        return image.pixelColor(area.right(), area.center().y()) == ground && inked;
    };
    // The dotted outline of the current row runs along its top edge.
    const auto outlined = [this](const QImage& image, int row, QColor text) {
        int inked = 0;
        for (int x = 0; x < image.width(); ++x)
            inked += image.pixelColor(x, list->visualRect(row).top()) == text;
        return inked > image.width() / 4;
    };
    const QImage enabled = shot();
    EXPECT_TRUE(shows(enabled, 0, QColor(20, 20, 60), QColor(250, 250, 0)));
    EXPECT_TRUE(shows(enabled, 1, QColor(0, 160, 0), QColor(255, 255, 255)));
    EXPECT_TRUE(outlined(enabled, 1, QColor(255, 255, 255)));
    other->setFocus();
    EXPECT_FALSE(outlined(shot(), 1, QColor(255, 255, 255)));
    list->setEnabled(false);
    const QImage disabled = shot();
    EXPECT_TRUE(shows(disabled, 0, QColor(90, 90, 90), QColor(200, 200, 200)));
    EXPECT_EQ(disabled.pixelColor(disabled.width() - 3, list->visualRect(1).center().y()),
        QColor(0, 0, 160));
}

TEST_F(NameList, AccessibleAsAListOfTheRowsInView)
{
    list->setAccessibleName(QStringLiteral("Имена"));
    QAccessibleInterface* node = QAccessible::queryAccessibleInterface(list);
    ASSERT_NE(node, nullptr);
    EXPECT_EQ(node->role(), QAccessible::List);
    EXPECT_EQ(node->text(QAccessible::Name), QStringLiteral("Имена"));
    EXPECT_TRUE(node->state().focused);
    EXPECT_EQ(node->childCount(), kPage);
    QAccessibleInterface* first = node->child(0);
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->role(), QAccessible::ListItem);
    EXPECT_EQ(first->text(QAccessible::Name), rowName(0));
    EXPECT_EQ(first->parent(), node);
    EXPECT_TRUE(first->state().focused); // current, not chosen
    EXPECT_FALSE(first->state().selected);
    EXPECT_EQ(node->child(kPage), nullptr);

    key(Qt::Key_End);
    QAccessibleInterface* last = node->child(kPage - 1);
    ASSERT_NE(last, nullptr);
    EXPECT_EQ(last->text(QAccessible::Name), rowName(kFiveBillion - 1));
    EXPECT_TRUE(last->state().selected);
    EXPECT_EQ(node->indexOfChild(last), kPage - 1);
    EXPECT_EQ(node->focusChild(), last);
    const QRect place = last->rect();
    EXPECT_EQ(place.size(), QSize(viewport()->width(), kRowHeight));
    EXPECT_TRUE(QRect(list->mapToGlobal(QPoint(0, 0)), list->size()).contains(place));
    EXPECT_EQ(node->childAt(place.center().x(), place.center().y()), last);
    EXPECT_EQ(node->child(0)->text(QAccessible::Name), rowName(kFiveBillion - kPage));

    // A row scrolled away is no child any more, and says it is off screen.
    key(Qt::Key_Home);
    EXPECT_EQ(node->indexOfChild(last), -1);
    EXPECT_TRUE(last->state().offscreen);
    list->setEnabled(false);
    EXPECT_TRUE(node->state().disabled);
    EXPECT_TRUE(node->child(0)->state().disabled);
}

// The copies editor on the pairs of one group of a hundred thousand files
// of one size: 4,999,950,000 rows, computed from the group as they are
// shown.
class EditorOnAGroup : public qevra::testing::FormsTest {
protected:
    static constexpr std::uint32_t kFiles = 100'000;
    static constexpr std::uint64_t kPairs = std::uint64_t(kFiles) * (kFiles - 1) / 2;

    void SetUp() override
    {
        FormsTest::SetUp();
        search::Results& results = form1->results;
        form2->clearNameLists();
        results.candidates.clear();
        std::vector<std::uint32_t> members;
        for (std::uint32_t i = 0; i < kFiles; ++i) {
            results.candidates.append(name(i));
            members.push_back(i);
            fs::FileStamp stamp;
            stamp.device = 1;
            stamp.inode = i + 1;
            stamp.size = 4;
            results.stamps.push_back(stamp);
        }
        // The files the test shows exist; the rest are names only.
        for (std::uint32_t i : { 0u, 1u, 4u, 5u, kFiles - 2, kFiles - 1 })
            tree.file(std::string("f").append(std::to_string(i)), "same");
        results.pairs = search::PairGroups::make(search::PartnerOrder::Earlier, std::move(members),
            { 0, kFiles }, results.candidates, results.stamps);
        results.criterion = Criterion::Size;
        results.first.release();
        results.second.release();
        // As the size pass hands its rows over.
        form2->showResults(results.first.size(), std::nullopt, false);
        form1->hide();
        form2->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form2));
        form2->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form2));
    }

    std::string name(std::uint32_t i) const
    {
        return tree.path(std::string("f").append(std::to_string(i)));
    }
    void expectPair(std::uint64_t row, std::uint32_t first, std::uint32_t second)
    {
        EXPECT_EQ(form2->fsListBox1->selectedRow(), std::int64_t(row));
        EXPECT_EQ(form2->fsListBox2->selectedRow(), std::int64_t(row));
        EXPECT_EQ(form2->Label3->path(), name(first));
        EXPECT_EQ(form2->Label4->path(), name(second));
        EXPECT_EQ(form2->Label5->text(),
            QStringLiteral("Просмотр %1 из 4999950000").arg(QString::number(row + 1)));
    }

    qevra::testing::TempTree tree;
};

TEST_F(EditorOnAGroup, EveryPairIsReachableAndTheCountsAreExact)
{
    ASSERT_EQ(kPairs, 4'999'950'000u);
    EXPECT_EQ(form2->Label1->text(), QStringLiteral("Всего найденных дубликатов - 4999950000"));
    EXPECT_EQ(form2->Label5->text(), QStringLiteral("Просмотр 1 из 4999950000"));
    auto* list = form2->fsListBox1;
    EXPECT_EQ(form2->fsListBox2->rowCount(), kPairs);
    QTest::mouseClick(list->viewport(), Qt::LeftButton, {}, list->visualRect(0).center());
    expectPair(0, 0, 1);
    // Each file's pairs with the files before it come together: row 14 is
    // (4, 5), the last of file 5's.
    QTest::keyClick(list, Qt::Key_PageDown);
    expectPair(14, 4, 5);
    EXPECT_EQ(form2->fsListBox2->rowText(14), QStringLiteral("f5"));

    QTest::keyClick(list, Qt::Key_End);
    const auto last = std::int64_t(kPairs - 1);
    expectPair(kPairs - 1, kFiles - 2, kFiles - 1);
    EXPECT_EQ(list->rowAt(QPoint(5, list->viewport()->height() - 1)), last);
    EXPECT_EQ(list->rowText(last), QStringLiteral("f99998"));
    EXPECT_FALSE(form2->fsListBox2->visualRect(last).isEmpty());

    QTest::keyClick(list, Qt::Key_Home);
    expectPair(0, 0, 1);
    // The scroll bar dragged to its end shows the last pair to click.
    QScrollBar* bar = list->verticalScrollBar();
    bar->setSliderDown(true);
    bar->setSliderPosition(bar->maximum());
    bar->setSliderDown(false);
    QTest::mouseClick(
        list->viewport(), Qt::LeftButton, {}, QPoint(20, list->viewport()->height() - 3));
    expectPair(kPairs - 1, kFiles - 2, kFiles - 1);
}
