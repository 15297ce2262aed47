#include "controls/gradient.h"
#include "controls/xp_check_box.h"
#include "platform/fonts.h"

#include <QApplication>
#include <QCursor>
#include <QFontMetrics>
#include <QImage>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <vector>

using qevra::controls::gradientComponent;
using qevra::controls::TCheckBoxAlignment;
using qevra::controls::TxpCheckBox;

namespace {

const QColor kBackground(240, 251, 255);
const QColor kOutline(28, 81, 128);

// Band i of the box face's 10-band fill from `top` to `bottom`.
QColor band(QColor top, QColor bottom, int i)
{
    return QColor(gradientComponent(top.red(), bottom.red() - top.red(), i, 10),
        gradientComponent(top.green(), bottom.green() - top.green(), i, 10),
        gradientComponent(top.blue(), bottom.blue() - top.blue(), i, 10));
}

// Counts the paint events a widget receives.
class PaintCounter : public QObject {
public:
    int paints = 0;
    bool eventFilter(QObject*, QEvent* event) override
    {
        paints += event->type() == QEvent::Paint;
        return false;
    }
};

class XpCheckBox : public ::testing::Test {
protected:
    void SetUp() override
    {
        // The pointer starts away from the window, wherever an earlier test
        // left it.
        QCursor::setPos(2000, 2000);
        QCoreApplication::processEvents();
        window = std::make_unique<QWidget>();
        window->resize(300, 60);
        box = new TxpCheckBox(QStringLiteral("По содержанию"), window.get());
        box->move(10, 10);
        box->setBoxFont(qevra::platform::windowFont());
        box->setColor(kBackground);
        box->OnClick = [this](QObject* sender) {
            EXPECT_EQ(sender, box);
            seen.push_back(box->isChecked());
        };
        window->show();
        window->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
        // The window's first control gets the focus on activation.
        box->clearFocus();
    }

    void click(QWidget* w, Qt::MouseButton button = Qt::LeftButton)
    {
        QTest::mouseClick(w, button, {}, QPoint(7, 7));
    }
    QImage image() const { return box->grab().toImage(); }
    int textWidth() const { return QFontMetrics(box->font()).horizontalAdvance(box->caption()); }
    // Columns in [from, to) holding pixels other than the background.
    std::vector<int> inkColumns(const QImage& img, int from, int to) const
    {
        std::vector<int> columns;
        for (int x = from; x < to; ++x) {
            for (int y = 0; y < img.height(); ++y) {
                if (img.pixelColor(x, y) != kBackground) {
                    columns.push_back(x);
                    break;
                }
            }
        }
        return columns;
    }

    std::unique_ptr<QWidget> window;
    TxpCheckBox* box = nullptr;
    std::vector<bool> seen; // the state each OnClick saw
};

TEST_F(XpCheckBox, ClickTogglesBeforeOnClickAndRightButtonDoesNothing)
{
    click(box);
    click(box);
    EXPECT_EQ(seen, (std::vector<bool> { true, false }));
    EXPECT_TRUE(box->focused());
    click(box, Qt::RightButton);
    EXPECT_FALSE(box->isChecked() || box->pressed());
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(XpCheckBox, PropertiesFromCodeRepaintAtOnceAndRunNoOnClick)
{
    PaintCounter counter;
    box->installEventFilter(&counter);
    box->setChecked(true);
    EXPECT_EQ(counter.paints, 1);
    box->setChecked(true);
    box->setCaption(box->caption());
    box->setAlignment(TCheckBoxAlignment::cbaRight);
    EXPECT_EQ(counter.paints, 1);
    box->setCaption(QStringLiteral("По имени"));
    box->setAlignment(TCheckBoxAlignment::cbaLeft);
    EXPECT_EQ(counter.paints, 3);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(seen.empty());
}

TEST_F(XpCheckBox, DoubleClickTogglesTwice)
{
    // The widget sees press, release, double click, release; the second
    // toggle comes with the double click itself.
    click(box);
    QTest::mouseDClick(box, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(seen, (std::vector<bool> { true, false }));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(7, 7));
    EXPECT_EQ(seen.size(), 2u);

    QTest::mouseDClick(window->windowHandle(), Qt::LeftButton, {}, QPoint(17, 17));
    EXPECT_EQ(seen, (std::vector<bool> { true, false, true, false }));
    EXPECT_FALSE(box->pressed());
}

TEST_F(XpCheckBox, PressReleasedOutsideStaysPendingUntilAnyKeyRelease)
{
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseMove(window.get(), QPoint(250, 50));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(240, 40));
    EXPECT_TRUE(box->pressed());
    EXPECT_FALSE(box->isChecked());
    QImage img = image();
    EXPECT_EQ(img.pixelColor(5, 2), band(QColor(176, 176, 167), QColor(241, 239, 223), 1));
    EXPECT_EQ(img.pixelColor(5, 12), QColor(241, 239, 223));

    // A second press changes nothing; the release of any key completes it.
    QTest::mousePress(box, Qt::LeftButton, {}, QPoint(7, 7));
    QTest::mouseRelease(box, Qt::LeftButton, {}, QPoint(240, 40));
    ASSERT_TRUE(box->hasFocus());
    QTest::keyRelease(box, Qt::Key_A);
    EXPECT_EQ(seen, std::vector<bool> { true });
    EXPECT_FALSE(box->pressed());
}

TEST_F(XpCheckBox, SpaceTogglesOnReleaseEnterDoesNothing)
{
    box->setFocus();
    QTest::keyPress(box, Qt::Key_Space);
    EXPECT_TRUE(box->pressed());
    EXPECT_FALSE(box->isChecked());
    // A held key's repeated releases do not complete the press.
    QKeyEvent repeat(QEvent::KeyRelease, Qt::Key_Space, Qt::NoModifier, QStringLiteral(" "), true);
    QApplication::sendEvent(box, &repeat);
    EXPECT_TRUE(box->pressed());
    QTest::keyRelease(box, Qt::Key_Space);
    EXPECT_EQ(seen, std::vector<bool> { true });
    QTest::keyClick(box, Qt::Key_Return);
    QTest::keyClick(box, Qt::Key_Enter);
    EXPECT_FALSE(box->pressed());
    EXPECT_TRUE(box->isChecked());
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(XpCheckBox, DisabledBoxKeepsItsStateDrawsGreyAndTakesNoInput)
{
    box->setChecked(true);
    box->setEnabled(false);
    click(box);
    QTest::keyClick(box, Qt::Key_Space);
    EXPECT_TRUE(box->isChecked());
    EXPECT_TRUE(seen.empty());

    QTest::mouseMove(box, QPoint(7, 7)); // no hover ring when disabled
    const QImage img = image();
    EXPECT_EQ(img.pixelColor(1, 5), QColor(128, 128, 128));
    EXPECT_EQ(img.pixelColor(7, 14), QColor(128, 128, 128));
    EXPECT_EQ(img.pixelColor(12, 3), QColor(255, 255, 255));
    EXPECT_EQ(img.pixelColor(5, 8), QColor(192, 192, 192));
    int darkest = 255;
    for (int x = 20; x < box->width(); ++x) {
        for (int y = 0; y < box->height(); ++y) {
            const QColor c = img.pixelColor(x, y);
            if (c != kBackground)
                darkest = std::min(darkest, c.red());
        }
    }
    EXPECT_EQ(darkest, 128);

    box->setEnabled(true);
    click(box);
    EXPECT_EQ(seen, std::vector<bool> { false });
}

TEST_F(XpCheckBox, NormalFaceBandsOutlineAndCheckMark)
{
    const QImage img = image();
    // Rows 1 and 14, columns 1 and 14 are the outline; the rest is Color.
    for (int i = 1; i <= 14; ++i) {
        EXPECT_EQ(img.pixelColor(i, 1), kOutline);
        EXPECT_EQ(img.pixelColor(i, 14), kOutline);
        EXPECT_EQ(img.pixelColor(1, i), kOutline);
        EXPECT_EQ(img.pixelColor(14, i), kOutline);
        EXPECT_EQ(img.pixelColor(i, 0), kBackground);
        EXPECT_EQ(img.pixelColor(i, 15), kBackground);
        EXPECT_EQ(img.pixelColor(0, i), kBackground);
        EXPECT_EQ(img.pixelColor(15, i), kBackground);
    }
    const QColor expected[] = { { 220, 220, 215 }, { 224, 224, 219 }, { 228, 228, 224 },
        { 232, 232, 228 }, { 236, 236, 233 }, { 239, 239, 237 }, { 243, 243, 242 },
        { 247, 247, 246 }, { 251, 251, 251 }, { 255, 255, 255 } };
    for (int row = 2; row <= 13; ++row) {
        const QColor want = row <= 10 ? expected[row - 1] : QColor(255, 255, 255);
        EXPECT_EQ(img.pixelColor(row, row), want) << row; // along the diagonal
    }

    box->setChecked(true);
    const QImage checked = image();
    for (const QPoint p :
        { QPoint(4, 7), QPoint(5, 8), QPoint(6, 10), QPoint(8, 7), QPoint(10, 5) })
        EXPECT_EQ(checked.pixelColor(p), QColor(0, 160, 0)) << p.x() << "," << p.y();
    EXPECT_EQ(checked.pixelColor(11, 11), QColor(255, 255, 255));
}

TEST_F(XpCheckBox, HoverShowsARingAroundAColorInside)
{
    QTest::mouseMove(box, QPoint(7, 7));
    ASSERT_TRUE(box->hover());
    const QImage img = image();
    const QColor top(255, 240, 207);
    const QColor bottom(248, 179, 48);
    for (int y = 3; y <= 11; ++y) {
        for (int x = 3; x <= 11; ++x)
            EXPECT_EQ(img.pixelColor(x, y), kBackground) << x << "," << y;
    }
    EXPECT_EQ(img.pixelColor(5, 2), band(top, bottom, 1));
    EXPECT_EQ(img.pixelColor(2, 6), band(top, bottom, 5));
    EXPECT_EQ(img.pixelColor(12, 6), band(top, bottom, 5));
    EXPECT_EQ(img.pixelColor(13, 6), band(top, bottom, 5));
    EXPECT_EQ(img.pixelColor(6, 12), bottom);
    EXPECT_EQ(img.pixelColor(6, 13), bottom);
    EXPECT_EQ(img.pixelColor(6, 14), kOutline);

    QTest::mouseMove(window.get(), QPoint(250, 50));
    EXPECT_FALSE(box->hover());
    EXPECT_EQ(image().pixelColor(6, 6), QColor(239, 239, 237));
}

// Pixels that focusing changes must be exactly the inverted dots along the
// outline of `frame`.
void expectFocusRectangle(TxpCheckBox* box, QRect frame)
{
    box->clearFocus();
    const QImage before = box->grab().toImage();
    box->setFocus();
    ASSERT_TRUE(box->focused());
    const QImage after = box->grab().toImage();
    int dots = 0;
    for (int y = 0; y < before.height(); ++y) {
        for (int x = 0; x < before.width(); ++x) {
            const bool onOutline = frame.contains(x, y)
                && (x == frame.left() || x == frame.right() || y == frame.top()
                    || y == frame.bottom());
            const QColor was = before.pixelColor(x, y);
            const QColor now = after.pixelColor(x, y);
            if (onOutline && (x + y) % 2 == 0) {
                ++dots;
                EXPECT_EQ(now, QColor(255 - was.red(), 255 - was.green(), 255 - was.blue()))
                    << x << "," << y;
            } else {
                EXPECT_EQ(now, was) << x << "," << y;
            }
        }
    }
    EXPECT_GT(dots, 20);
}

TEST_F(XpCheckBox, CaptionRightGeometryAndFocusRectangle)
{
    const QImage img = image();
    EXPECT_TRUE(inkColumns(img, 15, 20).empty());
    const std::vector<int> ink = inkColumns(img, 20, box->width());
    ASSERT_FALSE(ink.empty());
    EXPECT_LE(ink.front(), 22);
    EXPECT_LE(ink.back(), 20 + textWidth());
    expectFocusRectangle(box, QRect(QPoint(17, 1), QPoint(textWidth() + 24, 15)));

    // A caption wider than W − 22 is cut at W − 2.
    box->setCaption(QStringLiteral("По содержанию и по размеру"));
    box->clearFocus();
    const QImage cut = image();
    EXPECT_TRUE(inkColumns(cut, box->width() - 2, box->width()).empty());
    EXPECT_FALSE(inkColumns(cut, box->width() - 6, box->width() - 2).empty());
}

TEST_F(XpCheckBox, CaptionLeftGeometryAndFocusRectangle)
{
    box->setAlignment(TCheckBoxAlignment::cbaLeft);
    box->resize(120, 25);
    const int w = box->width();
    const QImage img = image();
    // H = 25: the box is (W − 15, 5, W − 1, 19).
    EXPECT_EQ(img.pixelColor(w - 15, 10), kOutline);
    EXPECT_EQ(img.pixelColor(w - 2, 10), kOutline);
    EXPECT_EQ(img.pixelColor(w - 8, 5), kOutline);
    EXPECT_EQ(img.pixelColor(w - 8, 18), kOutline);
    EXPECT_EQ(img.pixelColor(w - 8, 4), kBackground);
    EXPECT_EQ(img.pixelColor(w - 1, 10), kBackground);
    const std::vector<int> ink = inkColumns(img, 0, w - 16);
    ASSERT_FALSE(ink.empty());
    EXPECT_GE(ink.front(), 2);
    EXPECT_LE(ink.front(), 4);
    expectFocusRectangle(box, QRect(QPoint(1, 1), QPoint(textWidth() + 7, 23)));

    box->setCaption(QStringLiteral("По содержанию и по размеру"));
    box->clearFocus();
    EXPECT_TRUE(inkColumns(image(), w - 20, w - 15).empty());
}

TEST_F(XpCheckBox, AcceleratorTakesFocusAndClicks)
{
    auto* other = new TxpCheckBox(QStringLiteral("Other"), window.get());
    other->move(10, 30);
    auto* edit = new QLineEdit(window.get());
    edit->move(150, 30);
    edit->show();
    other->show();
    box->setCaption(QStringLiteral("By &size"));
    EXPECT_EQ(box->text(), "By &size");

    // The accelerator character is underlined on row text height + 2.
    const QFontMetrics metrics(box->font());
    const int from = 20 + metrics.horizontalAdvance(QStringLiteral("By "));
    const int to = 20 + metrics.horizontalAdvance(QStringLiteral("By s"));
    const QImage img = image();
    const int row = metrics.height() + 2;
    const QColor ink = box->palette().color(QPalette::WindowText);
    EXPECT_EQ(img.pixelColor(from, row), ink);
    EXPECT_EQ(img.pixelColor(to - 1, row), ink);
    EXPECT_EQ(img.pixelColor(to, row), kBackground);

    other->setFocus();
    QTest::keyClick(other, Qt::Key_S, Qt::AltModifier);
    EXPECT_TRUE(box->hasFocus());
    EXPECT_EQ(seen, std::vector<bool> { true });

    // The character alone works unless the focused control takes text.
    other->setFocus();
    QTest::keyClick(other, Qt::Key_S);
    EXPECT_EQ(seen, (std::vector<bool> { true, false }));
    edit->setFocus();
    QTest::keyClicks(edit, QStringLiteral("s"));
    EXPECT_EQ(edit->text(), QStringLiteral("s"));
    EXPECT_EQ(seen.size(), 2u);

    box->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_S, Qt::AltModifier);
    EXPECT_EQ(seen.size(), 2u);
}

TEST_F(XpCheckBox, OnEnterAndOnExitFollowTheFocus)
{
    auto* other = new TxpCheckBox(window.get());
    other->move(10, 30);
    other->show();
    std::vector<QString> events;
    box->OnEnter = [&](QObject*) { events.push_back("enter"); };
    box->OnExit = [&](QObject*) { events.push_back("exit"); };
    other->setFocus();
    QTest::keyClick(other, Qt::Key_Backtab);
    EXPECT_TRUE(box->focused());
    // Another window taking the focus leaves the box its window's control.
    QWidget elsewhere;
    elsewhere.show();
    elsewhere.activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(&elsewhere));
    EXPECT_FALSE(box->focused());
    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    EXPECT_TRUE(box->focused());
    EXPECT_EQ(events, std::vector<QString> { "enter" });
    QTest::keyClick(box, Qt::Key_Tab);
    EXPECT_FALSE(box->focused());
    EXPECT_EQ(events, (std::vector<QString> { "enter", "exit" }));
}

} // namespace
