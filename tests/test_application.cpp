// The event loop's error handling, the boxes' texts and the windows'
// lifecycle.
#include "about/about_box.h"
#include "platform/exceptions.h"
#include "platform/services.h"
#include "support/doubles.h"

#include <QMouseEvent>
#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <stdexcept>

using namespace qevra;
using namespace qevra::testing;

namespace {

// A window whose press handler throws what the test asks for.
class Thrower : public QWidget {
public:
    std::function<void()> onPress;
    bool grabOnPress = false;

protected:
    void mousePressEvent(QMouseEvent*) override
    {
        if (grabOnPress)
            grabMouse();
        onPress();
    }
};

class EventLoop : public ::testing::Test {
protected:
    void SetUp() override
    {
        resetDoubles();
        window.resize(100, 100);
        window.show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(&window));
    }
    void press()
    {
        QTest::ignoreMessage(QtWarningMsg, QRegularExpression("Mouse event.*not accepted"));
        QTest::mousePress(&window, Qt::LeftButton, {}, QPoint(10, 10));
        QTest::mouseRelease(&window, Qt::LeftButton, {}, QPoint(10, 10));
    }
    Thrower window;
};

} // namespace

TEST(ErrorBoxText, FullStopFollowsTheLastCharacterRule)
{
    using platform::errorBoxText;
    EXPECT_EQ(errorBoxText("I/O error 13"), "I/O error 13.");
    EXPECT_EQ(errorBoxText("Bad thing"), "Bad thing.");
    EXPECT_EQ(errorBoxText("Done."), "Done.");
    EXPECT_EQ(errorBoxText("Stop!"), "Stop!");
    EXPECT_EQ(errorBoxText("(see above)"), "(see above)");
    EXPECT_EQ(errorBoxText("dash -"), "dash -"); // "-" comes before "."
    EXPECT_EQ(errorBoxText("slash /"), "slash /."); // "/" comes after "."
    EXPECT_EQ(errorBoxText(QStringLiteral("Файл")), QStringLiteral("Файл."));
    EXPECT_EQ(errorBoxText(""), "");
}

TEST_F(EventLoop, ProgramErrorsGoToTheErrorBoxAndTheLoopGoesOn)
{
    window.onPress = [] { throw EInOutError(13); };
    press();
    window.onPress = [] { throw std::runtime_error("plain failure"); };
    press();
    window.onPress = [] { throw Exception("Picture is broken."); };
    press();
    EXPECT_EQ(boxes().errors,
        (std::vector<QString> { "I/O error 13.", "plain failure.", "Picture is broken." }));
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(EventLoop, SilentAbortShowsNothing)
{
    window.onPress = [] { Abort(); };
    press();
    EXPECT_TRUE(boxes().errors.empty());
    EXPECT_TRUE(boxes().messages.empty());
}

TEST_F(EventLoop, MouseCaptureIsReleasedBeforeTheErrorBox)
{
    window.grabOnPress = true;
    QWidget* grabberDuringBox = &window;
    boxes().whileShown = [&](const QString&) { grabberDuringBox = QWidget::mouseGrabber(); };
    window.onPress = [] { throw Exception("x"); };
    press();
    EXPECT_EQ(grabberDuringBox, nullptr);
    EXPECT_EQ(boxes().errors.size(), 1u);
}

TEST_F(EventLoop, BoxesCloseAtOnceWhileTheProgramEnds)
{
    platform::setEnding(true);
    platform::ShowMessage("ignored");
    window.onPress = [] { throw Exception("also ignored"); };
    press();
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
    platform::setEnding(false);
    platform::ShowMessage("shown");
    EXPECT_EQ(boxes().messages, std::vector<QString> { "shown" });
}

TEST(AboutBoxWindow, OpensCentredFirstAndWhereLeftLater)
{
    TAboutBox box;
    EXPECT_EQ(box.windowTitle(), "О программе");
    EXPECT_EQ(box.size(), QSize(309, 177));
    EXPECT_FALSE(box.windowFlags() & Qt::WindowMinimizeButtonHint);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    box.move(10, 20);
    box.close();
    EXPECT_FALSE(box.isVisible());
    box.show();
    EXPECT_EQ(box.pos(), QPoint(10, 20));
}
