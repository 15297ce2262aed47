#include "controls/basic_controls.h"
#include "controls/flat_controls.h"
#include "controls/name_list.h"

#include <QApplication>
#include <QImage>
#include <QLineEdit>
#include <QScreen>
#include <QStyle>
#include <QTest>
#include <gtest/gtest.h>

#include <memory>
#include <ostream>

using namespace qevra::controls;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QColor& colour, std::ostream* out)
{
    *out << colour.name().toStdString();
}
QT_END_NAMESPACE

namespace {

const QColor kBoxColour(240, 251, 255);

// Palette colours may carry 16-bit components; pixels are 8-bit.
QColor platform(QPalette::ColorRole role)
{
    return QColor(QApplication::palette().color(QPalette::Active, role).rgb());
}

// What the screen shows of a control once pending repaints are done, so
// a frame that is not repainted when its state changes shows stale.
QImage onScreen(QWidget* control)
{
    QCoreApplication::processEvents();
    QWidget* window = control->window();
    const QPoint at = control->mapTo(window, QPoint(0, 0));
    return window->screen()
        ->grabWindow(window->winId(), at.x(), at.y(), control->width(), control->height())
        .toImage();
}

QColor pixel(QWidget* widget, int x, int y)
{
    return onScreen(widget).pixelColor(x, y);
}

// Checks the three rings at the middle of each side of a control.
void expectFrame(QWidget* control, bool hot)
{
    const QImage image = onScreen(control);
    const int w = image.width();
    const int h = image.height();
    const QColor face = platform(QPalette::Button);
    const QColor topLeft = hot ? platform(QPalette::Dark) : face;
    const QColor bottomRight = hot ? platform(QPalette::Light) : face;
    EXPECT_EQ(image.pixelColor(w / 2, 0), topLeft) << "top of ring 0";
    EXPECT_EQ(image.pixelColor(0, h / 2), topLeft) << "left of ring 0";
    EXPECT_EQ(image.pixelColor(w / 2, h - 1), bottomRight) << "bottom of ring 0";
    EXPECT_EQ(image.pixelColor(w - 1, h / 2), bottomRight) << "right of ring 0";
    EXPECT_EQ(image.pixelColor(w - 1, 0), bottomRight) << "top-right corner";
    for (int k = 1; k <= 2; ++k) {
        const QColor ring = k == 1 ? face : flatColour();
        EXPECT_EQ(image.pixelColor(w / 2, k), ring) << "top of ring " << k;
        EXPECT_EQ(image.pixelColor(k, h / 2), ring) << "left of ring " << k;
        EXPECT_EQ(image.pixelColor(w / 2, h - 1 - k), ring) << "bottom of ring " << k;
        EXPECT_EQ(image.pixelColor(w - 1 - k, h / 2), ring) << "right of ring " << k;
    }
}

class FlatControls : public ::testing::Test {
protected:
    void SetUp() override
    {
        ASSERT_EQ(globalFlatStyle(), TFlatStyle::fsFlat);
        window = std::make_unique<QWidget>();
        window->resize(400, 260);
        list = new TfsListBox(window.get());
        list->setRows(&rows);
        list->setGeometry(10, 10, 150, 120);
        disabledList = new TfsListBox(window.get());
        disabledList->setRows(&rows);
        disabledList->setGeometry(200, 10, 150, 120);
        disabledList->setEnabled(false);
        box = new TfsComboBox(window.get());
        box->setGeometry(10, 200, 153, 21);
        box->addItems({ QStringLiteral("txt"), QStringLiteral("html") });
        QPalette colours = box->palette();
        colours.setColor(QPalette::Base, kBoxColour);
        box->setPalette(colours);
        other = new QLineEdit(window.get());
        other->setGeometry(200, 200, 100, 21);
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The window gives its first control the focus; none of the flat
        // ones may have it at rest.
        other->setFocus();
        away();
    }

    void TearDown() override
    {
        window.reset();
        // A test that failed half-way must not leave the global style set.
        if (globalFlatStyle() != TFlatStyle::fsFlat) {
            TfsManager restorer(nullptr);
            restorer.setGlobalStyle(TFlatStyle::fsFlat);
        }
    }

    // Moves the pointer onto the empty part of the window.
    void away() { QTest::mouseMove(window.get(), QPoint(390, 160)); }
    void onto(QWidget* control) { QTest::mouseMove(control, control->rect().center()); }

    // The frame is what is looked at here: the lists stay empty.
    struct NoRows : ListRows {
        std::uint64_t count() const override { return 0; }
        QString text(std::uint64_t) const override { return {}; }
    } rows;
    std::unique_ptr<QWidget> window;
    TfsListBox* list = nullptr;
    TfsListBox* disabledList = nullptr;
    TfsComboBox* box = nullptr;
    QLineEdit* other = nullptr;
};

TEST(FlatColour, AddsTwentyFourToEachComponentOfThePackedValue)
{
    EXPECT_EQ(packColour(QColor(240, 200, 100)), 100u * 65536 + 200u * 256 + 240u);
    EXPECT_EQ(unpackColour(0x7b3f10u), QColor(0x10, 0x3f, 0x7b));
    const QColor window(1, 2, 3);
    EXPECT_EQ(flatColourFor(QColor(160, 160, 160), window, 32), QColor(184, 184, 184));
    // Red above 231 carries into green: 240 + 24 = 264 leaves 8 and one.
    EXPECT_EQ(flatColourFor(QColor(240, 200, 100), window, 24), QColor(8, 225, 124));
    // A carry out of green runs on into blue.
    EXPECT_EQ(flatColourFor(QColor(10, 250, 100), window, 16), QColor(34, 18, 125));
}

TEST(FlatColour, IsTheWindowColourOnEightBitDisplays)
{
    const QColor window(1, 2, 3);
    EXPECT_EQ(flatColourFor(QColor(160, 160, 160), window, 8), window);
    EXPECT_EQ(flatColourFor(QColor(160, 160, 160), window, 1), window);
    EXPECT_EQ(flatColour(),
        flatColourFor(platform(QPalette::Mid), platform(QPalette::Base),
            QGuiApplication::primaryScreen()->depth()));
}

TEST_F(FlatControls, ListIsColdAtRestAndSunkenUnderThePointer)
{
    EXPECT_EQ(list->flatStyle(), TFlatStyle::fsFlat);
    EXPECT_FALSE(list->hover());
    expectFrame(list, false);
    onto(list);
    EXPECT_TRUE(list->hover());
    expectFrame(list, true);
    away();
    EXPECT_FALSE(list->hover());
    expectFrame(list, false);
}

TEST_F(FlatControls, FocusedListStaysHotUntilItLosesTheFocus)
{
    list->setFocus();
    ASSERT_TRUE(list->hasFocus());
    EXPECT_TRUE(list->isHot());
    expectFrame(list, true);
    onto(list);
    away();
    EXPECT_FALSE(list->hover());
    expectFrame(list, true);
    other->setFocus();
    EXPECT_FALSE(list->isHot());
    expectFrame(list, false);
}

TEST_F(FlatControls, FocusCountsOnlyInTheActiveWindow)
{
    list->setFocus();
    QWidget elsewhere;
    elsewhere.setGeometry(500, 0, 50, 50);
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_EQ(window->focusWidget(), list);
    expectFrame(list, false);
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    expectFrame(list, true);
}

TEST_F(FlatControls, DisabledListTurnsHotUnderThePointer)
{
    expectFrame(disabledList, false);
    onto(disabledList);
    EXPECT_TRUE(disabledList->hover());
    expectFrame(disabledList, true);
    away();
    expectFrame(disabledList, false);
}

TEST_F(FlatControls, ListClientAreaIsThreePixelsInsideOnlyWhenFlat)
{
    EXPECT_EQ(list->viewport()->geometry(), QRect(3, 3, 144, 114));
    list->setFlatStyle(TFlatStyle::fsStandard);
    const int frame = list->style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, list);
    EXPECT_EQ(list->frameStyle(), QFrame::StyledPanel | QFrame::Sunken);
    EXPECT_EQ(list->frameWidth(), frame);
    EXPECT_EQ(list->viewport()->geometry(), list->rect().adjusted(frame, frame, -frame, -frame));
    // No frame of this control's own is painted, hot or cold.
    onto(list);
    EXPECT_FALSE(list->hover());
    EXPECT_NE(pixel(list, 75, 2), flatColour());
    away();
    list->setFlatStyle(TFlatStyle::fsFlat);
    EXPECT_EQ(list->viewport()->geometry(), QRect(3, 3, 144, 114));
    expectFrame(list, false);
}

TEST_F(FlatControls, ComboBoxFrameFollowsPointerAndFocus)
{
    expectFrame(box, false);
    onto(box->lineEdit());
    EXPECT_TRUE(box->hover());
    expectFrame(box, true);
    away();
    expectFrame(box, false);
    box->setFocus();
    expectFrame(box, true);
    other->setFocus();
    expectFrame(box, false);
}

TEST_F(FlatControls, ComboBoxDrawsALineOverTheDropDownButtonEdge)
{
    const int x = box->width() - box->style()->pixelMetric(QStyle::PM_ScrollBarExtent) - 2;
    const QImage flat = onScreen(box);
    for (int y = 3; y < box->height() - 3; ++y)
        EXPECT_EQ(flat.pixelColor(x, y), kBoxColour) << "row " << y;
    box->setFlatStyle(TFlatStyle::fsStandard);
    const QImage standard = onScreen(box);
    EXPECT_NE(standard.pixelColor(x, box->height() / 2), kBoxColour);
    EXPECT_NE(standard.pixelColor(box->width() / 2, 2), flatColour());
}

TEST_F(FlatControls, GlobalStyleSwitchesEveryWindowAndLaterControls)
{
    TfsManager manager(nullptr);
    EXPECT_EQ(manager.globalStyle(), TFlatStyle::fsFlat);
    manager.setGlobalStyle(TFlatStyle::fsStandard);
    EXPECT_EQ(globalFlatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(manager.flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(list->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(disabledList->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(box->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(list->frameStyle(), QFrame::StyledPanel | QFrame::Sunken);

    auto* later = new TfsComboBox(window.get());
    EXPECT_EQ(later->flatStyle(), TFlatStyle::fsStandard);
    TfsManager second(nullptr);
    EXPECT_EQ(second.globalStyle(), TFlatStyle::fsStandard);

    manager.setGlobalStyle(TFlatStyle::fsFlat);
    EXPECT_EQ(globalFlatStyle(), TFlatStyle::fsFlat);
    EXPECT_EQ(later->flatStyle(), TFlatStyle::fsFlat);
    EXPECT_EQ(list->viewport()->geometry(), QRect(3, 3, 144, 114));
    expectFrame(list, false);
}

TEST_F(FlatControls, ControlsTakeTheStyleOfTheManagerInTheirWindow)
{
    QWidget managed;
    auto* manager = new TfsManager(&managed);
    QWidget plain;
    auto* otherManager = new TfsManager(&plain);
    auto* inside = new TfsListBox(&managed);

    manager->setFlatStyle(TFlatStyle::fsStandard);
    // Handed on to every window's controls and managers, not the global style.
    EXPECT_EQ(inside->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(list->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(otherManager->flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(globalFlatStyle(), TFlatStyle::fsFlat);
    delete otherManager;

    QWidget nested(&managed);
    EXPECT_EQ(TfsListBox(&nested).flatStyle(), TFlatStyle::fsStandard);
    EXPECT_EQ(TfsComboBox(&plain).flatStyle(), TFlatStyle::fsFlat);
    EXPECT_EQ(TfsComboBox(nullptr).flatStyle(), TFlatStyle::fsFlat);
}

} // namespace
