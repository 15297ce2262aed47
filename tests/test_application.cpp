// The event loop's error handling, the boxes' texts and the windows'
// lifecycle.
#include "about/about_box.h"
#include "app/startup.h"
#include "app/stop_flag.h"
#include "base/exceptions.h"
#include "controls/progress_bar.h"
#include "platform/services.h"
#include "support/doubles.h"

#include <QApplication>
#include <QFontDatabase>
#include <QFontInfo>
#include <QMessageBox>
#include <QMouseEvent>
#include <QPushButton>
#include <QScreen>
#include <QTest>
#include <QTimer>
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
    doubleServices().setEnding(true);
    doubleServices().ShowMessage("ignored");
    window.onPress = [] { throw Exception("also ignored"); };
    press();
    EXPECT_TRUE(boxes().messages.empty());
    EXPECT_TRUE(boxes().errors.empty());
    doubleServices().setEnding(false);
    doubleServices().ShowMessage("shown");
    EXPECT_EQ(boxes().messages, std::vector<QString> { "shown" });
}

TEST(AboutBoxWindow, ShowsItsTextsAndHandsTheLinksToTheDesktop)
{
    resetDoubles();
    TAboutBox box(doubleServices());
    EXPECT_EQ(box.Label5->text(), "Qevra");
    EXPECT_EQ(box.Label5->pos(), QPoint(16, 8));
    EXPECT_EQ(box.Label5->font().pixelSize(), 21);
    EXPECT_EQ(box.Label5->palette().color(QPalette::WindowText), QColor(255, 0, 0));
    EXPECT_EQ(box.Label7->text(), "0.4");
    EXPECT_EQ(box.Label9->text(), QStringLiteral("Домашняя страница"));
    EXPECT_EQ(box.Label4->pos(), QPoint(144, 128));
    EXPECT_EQ(box.Label3->text(), TAboutBox::kEmail);
    EXPECT_EQ(box.Label3->cursor().shape(), Qt::PointingHandCursor);
    EXPECT_EQ(box.font().pixelSize(), 16);
    EXPECT_EQ(box.Label1->text(), QStringLiteral("Команда Qevra"));
    // The home page shows without its scheme; the link opens the full address.
    EXPECT_EQ(box.Label4->text(), "example.org/qevra");
    EXPECT_EQ(box.Label10->text(), QStringLiteral("2026, Москва"));
    EXPECT_EQ(box.Label10->pos(), QPoint(56, 152));
    // One font for the whole box, and it has Cyrillic letters.
    EXPECT_TRUE(QFontDatabase::writingSystems(QFontInfo(box.font()).family())
                    .contains(QFontDatabase::Cyrillic));
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QTest::mouseClick(box.Label3, Qt::LeftButton);
    QTest::mouseClick(box.Label4, Qt::LeftButton);
    QTest::mouseClick(box.Label4, Qt::LeftButton);
    QTest::mouseClick(box.Label1, Qt::LeftButton); // not a link
    EXPECT_EQ(desktop().opened,
        (std::vector<std::string> { "mailto:" + TAboutBox::kEmail.toStdString(),
            TAboutBox::kHomePage.toStdString(), TAboutBox::kHomePage.toStdString() }));
    EXPECT_TRUE(box.isVisible());
}

TEST(AboutBoxWindow, EveryLabelFitsInsideTheWindow)
{
    TAboutBox box(doubleServices());
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    for (controls::Label* label : box.findChildren<controls::Label*>()) {
        EXPECT_LE(label->geometry().right(), box.width() - 1) << label->text().toStdString();
        EXPECT_LE(label->geometry().bottom(), box.height() - 1) << label->text().toStdString();
        EXPECT_GE(label->width(), label->sizeHint().width()) << label->text().toStdString();
    }
}

TEST(AboutBoxWindow, OpensCentredFirstAndWhereLeftLater)
{
    TAboutBox box(doubleServices());
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

namespace {

// Runs `act` on the modal box as soon as it is open.
void whenModalOpens(std::function<void(QWidget*)> act)
{
    QTimer::singleShot(0, [act] {
        QWidget* modal = QApplication::activeModalWidget();
        ASSERT_NE(modal, nullptr);
        act(modal);
    });
}

} // namespace

TEST(RealBoxes, MessageBoxHasTheTitleOneOkAndNoIconAndEnterOrEscCloseIt)
{
    for (const Qt::Key key : { Qt::Key_Return, Qt::Key_Escape }) {
        bool checked = false;
        whenModalOpens([&](QWidget* modal) {
            auto* box = qobject_cast<QMessageBox*>(modal);
            ASSERT_NE(box, nullptr);
            EXPECT_EQ(box->windowTitle(), "Qevra");
            EXPECT_EQ(box->text(), QStringLiteral("Выберите каталог"));
            EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
            ASSERT_EQ(box->buttons().size(), 1);
            EXPECT_EQ(box->buttons().front()->text(), "OK");
            const QPoint screenCentre = box->screen()->availableGeometry().center();
            EXPECT_LE((box->frameGeometry().center() - screenCentre).manhattanLength(), 2);
            checked = true;
            QTest::keyClick(box, key);
        });
        platform::realServices().ShowMessage(QStringLiteral("Выберите каталог"));
        EXPECT_TRUE(checked);
    }
}

TEST(RealBoxes, ErrorBoxHasTheStopIcon)
{
    bool checked = false;
    whenModalOpens([&](QWidget* modal) {
        auto* box = qobject_cast<QMessageBox*>(modal);
        ASSERT_NE(box, nullptr);
        EXPECT_EQ(box->windowTitle(), "Qevra");
        EXPECT_EQ(box->icon(), QMessageBox::Critical);
        EXPECT_EQ(box->text(), "I/O error 5.");
        checked = true;
        QTest::keyClick(box, Qt::Key_Return);
    });
    platform::realServices().showError("I/O error 5.");
    EXPECT_TRUE(checked);
}

TEST(ProgressBarDrawing, FilledPartFollowsPositionOverMaximum)
{
    using controls::ProgressBar;
    EXPECT_EQ(ProgressBar::filledWidth(473, 0, 100), 0);
    EXPECT_EQ(ProgressBar::filledWidth(473, 100, 100), 473);
    EXPECT_EQ(ProgressBar::filledWidth(473, 1, 100), 5); // 4.73 rounds up
    EXPECT_EQ(ProgressBar::filledWidth(473, 1, 3), 158); // 157.67
    EXPECT_EQ(ProgressBar::filledWidth(10, 1, 4), 3); // 2.5 rounds half up
    EXPECT_EQ(ProgressBar::filledWidth(473, 5, 0), 0); // no maximum: empty, no division
    EXPECT_EQ(ProgressBar::filledWidth(473, 3000000, 3000000), 473); // no overflow

    QWidget window;
    ProgressBar bar(&window);
    bar.setGeometry(0, 0, 100, 15);
    EXPECT_FALSE(bar.setPosition(101)); // refused
    EXPECT_EQ(bar.position(), 0);
    EXPECT_TRUE(bar.setPosition(30));
    bar.setMaximum(0);
    EXPECT_EQ(bar.position(), 0);
    EXPECT_TRUE(bar.setPosition(0));
    bar.setMaximum(4);
    EXPECT_TRUE(bar.setPosition(1));
    const QImage image = bar.grab().toImage();
    // Palette colours may carry 16-bit components; pixels are 8-bit.
    const QColor filled(bar.palette().color(QPalette::Highlight).rgb());
    const QColor empty(bar.palette().color(QPalette::Dark).rgb());
    EXPECT_EQ(image.pixelColor(24, 7), filled);
    EXPECT_EQ(image.pixelColor(25, 7), empty);
    EXPECT_EQ(image.pixelColor(99, 7), empty);
}

TEST(StartUp, CreatesTheMainWindowThenTheHiddenEditorAndAboutBox)
{
    resetDoubles();
    Program program(doubleServices());
    EXPECT_EQ(program.Form1.windowTitle(), "Qevra");
    EXPECT_EQ(program.Form2.windowTitle(), QStringLiteral("Редактор копий"));
    EXPECT_EQ(program.Form2.size(), QSize(654, 356));
    EXPECT_EQ(program.AboutBox.windowTitle(), QStringLiteral("О программе"));
    EXPECT_EQ(program.Form1.form2(), &program.Form2);
    EXPECT_EQ(program.Form1.aboutBox(), &program.AboutBox);
    EXPECT_FALSE(program.Form2.isVisible());
    EXPECT_FALSE(program.AboutBox.isVisible());
    EXPECT_EQ(StopFlag, 0);
}
