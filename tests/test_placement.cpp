// Windows on screens smaller than their designed places: a window that would
// run off its screen is moved onto the screen's available area, and one that
// fits stays where it was designed to be. test_placement_scaled runs these at
// twice the scale on a 1600 × 1000 screen (support/screen-1600x1000.json).
#include "controls/placement.h"
#include "support/form_fixture.h"

#include <QScreen>

using namespace qevra;
using namespace qevra::testing;
using controls::placedInside;

TEST(PlacedInside, FrameInsideTheAreaStaysWhereItIs)
{
    const QRect area(0, 0, 800, 600);
    EXPECT_EQ(placedInside(QRect(100, 50, 300, 200), area), QPoint(100, 50));
    // Touching every edge is inside.
    EXPECT_EQ(placedInside(QRect(0, 0, 800, 600), area), QPoint(0, 0));
    EXPECT_EQ(placedInside(QRect(500, 400, 300, 200), area), QPoint(500, 400));
}

TEST(PlacedInside, FrameRunningOffMovesInNoFurtherThanNeeded)
{
    const QRect area(0, 0, 800, 500);
    // The copies editor's frame at its designed place, at twice the scale
    // of a 1600 × 1000 screen: off the right and the bottom edge.
    EXPECT_EQ(placedInside(QRect(219, 152, 656, 358), area), QPoint(144, 142));
    EXPECT_EQ(placedInside(QRect(700, 20, 200, 100), area), QPoint(600, 20));
    EXPECT_EQ(placedInside(QRect(20, 450, 200, 100), area), QPoint(20, 400));
    EXPECT_EQ(placedInside(QRect(-30, -5, 200, 100), area), QPoint(0, 0));
}

TEST(PlacedInside, FrameLargerThanTheAreaGoesToItsTopLeft)
{
    const QRect area(0, 0, 800, 500);
    EXPECT_EQ(placedInside(QRect(219, 152, 900, 600), area), QPoint(0, 0));
    EXPECT_EQ(placedInside(QRect(-40, -40, 900, 600), area), QPoint(0, 0));
    // Each direction on its own: wider only keeps its row if that fits.
    EXPECT_EQ(placedInside(QRect(219, 152, 832, 358), area), QPoint(0, 142));
    EXPECT_EQ(placedInside(QRect(100, 100, 300, 501), area), QPoint(100, 0));
}

TEST(PlacedInside, AreaLeftByPanelsAndOnASecondScreen)
{
    // A panel along the top and one along the left take their share.
    const QRect area(48, 32, 752, 568);
    EXPECT_EQ(placedInside(QRect(10, 0, 200, 100), area), QPoint(48, 32));
    EXPECT_EQ(placedInside(QRect(100, 100, 800, 700), area), QPoint(48, 32));
    // The screen to the right of a first one.
    const QRect second(1600, 0, 1280, 1024);
    EXPECT_EQ(placedInside(QRect(1500, 100, 400, 300), second), QPoint(1600, 100));
    EXPECT_EQ(placedInside(QRect(2800, 900, 400, 300), second), QPoint(2480, 724));
}

namespace {

class Placement : public FormsTest {
protected:
    static QRect areaOf(const QWidget* window) { return window->screen()->availableGeometry(); }

    static void expectOnScreen(const QWidget* window)
    {
        const QRect area = areaOf(window);
        const QRect frame = window->frameGeometry();
        if (frame.width() <= area.width() && frame.height() <= area.height()) {
            EXPECT_TRUE(area.contains(frame))
                << window->metaObject()->className() << " frame " << frame.x() << "," << frame.y()
                << " " << frame.width() << "x" << frame.height();
        }
        // A side larger than the area starts at the area's edge.
        if (frame.width() > area.width()) {
            EXPECT_EQ(frame.left(), area.left());
        }
        if (frame.height() > area.height()) {
            EXPECT_EQ(frame.top(), area.top());
        }
    }

    void showEditor()
    {
        showPairs({ { "/home/user/Фото/море.jpg", "/home/user/Архив/море.jpg" } });
        ASSERT_TRUE(QTest::qWaitForWindowExposed(form2));
    }
};

} // namespace

TEST_F(Placement, WindowThatFitsStaysAtItsDesignedPlace)
{
    // The main window, 495 × 140 at (252, 141), fits either screen.
    ASSERT_TRUE(areaOf(form1).contains(QRect(QPoint(252, 141), form1->frameGeometry().size())));
    EXPECT_EQ(form1->pos(), QPoint(252, 141));
    expectOnScreen(form1);
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    expectOnScreen(about);
}

TEST_F(Placement, CopiesEditorRunningOffTheScreenIsShownOnIt)
{
    // Its designed place, (219, 152), runs off the right edge of an 800
    // pixels wide screen, and off the bottom at twice the scale.
    ASSERT_GT(219 + form2->frameGeometry().width(), areaOf(form2).right() + 1);
    showEditor();
    expectOnScreen(form2);
    // All of it can be reached: the last button of column 2 and the
    // preview toggle lie on the screen.
    for (const controls::TxpButton* control : { form2->xpButton6, form2->fsbitbtn4 })
        EXPECT_TRUE(
            areaOf(form2).contains(QRect(control->mapToGlobal(QPoint(0, 0)), control->size())))
            << control->metaObject()->className();
}

TEST_F(Placement, PreviewPanelWideningTheEditorKeepsItOnTheScreen)
{
    showEditor();
    form2->Label6->setCaption("graf");
    click(form2->fsbitbtn4);
    QCoreApplication::processEvents();
    ASSERT_EQ(form2->width(), 830);
    expectOnScreen(form2);
    const QPoint widened = form2->pos();
    // Narrowed again it fits where it is, and stays there.
    click(form2->fsbitbtn4);
    QCoreApplication::processEvents();
    ASSERT_EQ(form2->width(), 654);
    expectOnScreen(form2);
    EXPECT_EQ(form2->pos(), widened);
}

TEST_F(Placement, HiddenWindowIsLeftWhereItWasPut)
{
    // Only showing or resizing a shown window places it.
    form2->move(5000, 5000);
    form2->setFixedWidth(700);
    EXPECT_EQ(form2->pos(), QPoint(5000, 5000));
    form2->setFixedWidth(654);
}
