// The push button: its face pixel by pixel, and the mouse and keys that
// press and click it.
#include "controls/xp_button.h"
#include "support/doubles.h"

#include <QDialog>
#include <QLineEdit>
#include <QTest>
#include <gtest/gtest.h>
#include <initializer_list>
#include <memory>
#include <ostream>
#include <stdexcept>

using qevra::controls::TxpButton;

// Readable colours in failure messages.
inline void PrintTo(const QColor& colour, std::ostream* out)
{
    *out << "rgb(" << colour.red() << ", " << colour.green() << ", " << colour.blue() << ")";
}

namespace {

const QColor kLight(253, 253, 253);
const QColor kDark(205, 204, 223);
const QColor kWhite(255, 255, 255);
const QColor kHoverFrame(248, 179, 48);

// Counts the paints of a widget and notes whether it was pressed at the last one.
class PaintProbe : public QObject {
public:
    explicit PaintProbe(TxpButton* button)
        : QObject(button)
    {
        button->installEventFilter(this);
    }
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() == QEvent::Paint) {
            ++paints;
            pressedAtLastPaint = static_cast<TxpButton*>(watched)->pressed();
        }
        return false;
    }
    int paints = 0;
    bool pressedAtLastPaint = false;
};

// The bounding box of the caption's pixels (the window-text colour).
QRect inkBox(const QImage& image, QColor ink)
{
    QRect box;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == ink)
                box |= QRect(x, y, 1, 1);
    return box;
}

void expectAt(const QImage& image, QColor colour, std::initializer_list<QPoint> points)
{
    for (const QPoint point : points)
        EXPECT_EQ(image.pixelColor(point), colour) << "at " << point.x() << "," << point.y();
}

class XpButton : public ::testing::Test {
protected:
    void SetUp() override
    {
        qevra::testing::resetDoubles();
        // The pointer starts outside every window.
        QCursor::setPos(QPoint(2000, 2000));
        QCoreApplication::processEvents();
        window = std::make_unique<QWidget>();
        window->resize(300, 120);
        button = new TxpButton(QStringLiteral("Искать"), window.get());
        button->setGeometry(10, 10, 100, 25);
        button->OnClick = [this](QObject* sender) {
            EXPECT_EQ(sender, button);
            ++clicks;
        };
        other = new TxpButton(QStringLiteral("Другая"), window.get());
        other->setGeometry(10, 60, 100, 25);
        window->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
        other->setFocus();
    }

    QImage face() const { return button->grab().toImage(); }
    QColor ink() const { return button->palette().color(QPalette::Active, QPalette::WindowText); }
    QRect caption() const { return inkBox(face(), ink()); }
    void hoverOnto() { QTest::mouseMove(button, QPoint(50, 12)); }
    void hoverOff() { QTest::mouseMove(window.get(), QPoint(250, 100)); }

    std::unique_ptr<QWidget> window;
    TxpButton* button = nullptr;
    TxpButton* other = nullptr;
    int clicks = 0;
};

TEST_F(XpButton, ClickRunsOnReleaseAfterTheReleasedLookIsDrawn)
{
    const QRect released = caption();
    ASSERT_FALSE(released.isEmpty());
    PaintProbe probe(button);
    button->OnClick = [&](QObject*) {
        ++clicks;
        EXPECT_FALSE(button->pressed());
        EXPECT_FALSE(probe.pressedAtLastPaint);
        EXPECT_EQ(caption(), released);
    };
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_TRUE(button->pressed());
    EXPECT_TRUE(button->hasFocus());
    EXPECT_TRUE(probe.pressedAtLastPaint); // drawn at once, pressed
    EXPECT_EQ(caption(), released.translated(1, 1));
    EXPECT_EQ(clicks, 0);
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
}

TEST_F(XpButton, DoubleClickRunsTwiceAndLeavesItReleased)
{
    QTest::mouseClick(button, Qt::LeftButton);
    QTest::mouseDClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
    EXPECT_FALSE(button->pressed());
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 2);
}

TEST_F(XpButton, ReleaseElsewhereKeepsItPressedUntilAReleaseOverIt)
{
    const QRect released = caption();
    hoverOnto();
    QTest::mousePress(button, Qt::LeftButton);
    EXPECT_EQ(face().pixelColor(41, 4), kDark);
    QTest::mouseMove(button, QPoint(150, 40));
    EXPECT_FALSE(button->hover());
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(150, 40));
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(button->pressed());
    // Pressed away from the pointer: the normal gradient, the caption shifted.
    EXPECT_EQ(face().pixelColor(41, 4), kLight);
    EXPECT_EQ(caption(), released.translated(1, 1));
    QTest::mousePress(button, Qt::LeftButton); // already pressed: nothing
    QTest::mouseRelease(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 1);
    EXPECT_FALSE(button->pressed());
    EXPECT_EQ(caption(), released);
}

TEST_F(XpButton, SpaceAndEnterPressOnTheWayDownAndClickOnceOnTheWayUp)
{
    button->setFocus();
    const QRect released = caption();
    int expected = 0;
    for (const Qt::Key key : { Qt::Key_Space, Qt::Key_Return, Qt::Key_Enter }) {
        QTest::keyPress(button, key);
        EXPECT_TRUE(button->pressed());
        EXPECT_EQ(caption(), released.translated(1, 1));
        for (int i = 0; i < 3; ++i) { // the key held down
            QTest::simulateEvent(button, false, key, {}, QString(), true);
            QTest::simulateEvent(button, true, key, {}, QString(), true);
        }
        EXPECT_EQ(clicks, expected);
        EXPECT_TRUE(button->pressed());
        QTest::keyRelease(button, key);
        EXPECT_EQ(clicks, ++expected);
        EXPECT_FALSE(button->pressed());
    }
}

TEST_F(XpButton, OtherKeysAndTheRightButtonDoNothing)
{
    button->setFocus();
    QTest::keyClick(button, Qt::Key_A);
    QTest::keyClick(button, Qt::Key_Escape);
    EXPECT_FALSE(button->pressed());
    QTest::mouseClick(button, Qt::RightButton);
    QTest::mouseDClick(button, Qt::RightButton);
    EXPECT_FALSE(button->pressed());
    EXPECT_EQ(clicks, 0);

    QTest::mousePress(button, Qt::LeftButton);
    QTest::keyRelease(button, Qt::Key_A);
    QTest::mouseClick(button, Qt::RightButton);
    EXPECT_EQ(clicks, 0);
    EXPECT_TRUE(button->pressed());
    // Space coming up also completes a press the mouse began.
    QTest::keyRelease(button, Qt::Key_Space);
    EXPECT_EQ(clicks, 1);
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(-5, -5));
    EXPECT_EQ(clicks, 1);
}

TEST_F(XpButton, FaceEdgesAndHoverFrame)
{
    button->setCaption(QString());
    const int w = button->width();
    const int h = button->height();
    QImage image = face();
    expectAt(image, QColor(214, 211, 211), { QPoint(0, 12), QPoint(40, 0) });
    EXPECT_NE(image.pixelColor(0, 0), QColor(214, 211, 211)); // the corner is cut
    expectAt(image, QColor(0, 60, 116), { { 1, 12 }, { 40, 1 }, { w - 2, 12 }, { 40, h - 2 } });
    expectAt(image, QColor(206, 231, 255), { { 3, 2 }, { w - 4, 2 } });
    expectAt(image, QColor(105, 130, 238), { { 3, h - 3 }, { w - 4, h - 3 } });
    expectAt(image, QColor(188, 212, 246), { { 2, 12 }, { 40, 3 }, { w - 3, 12 }, { 40, h - 4 } });
    expectAt(
        image, kWhite, { { 3, 12 }, { w - 4, 12 }, { 40, h - 1 }, { w - 1, 3 }, { w - 1, h - 4 } });

    hoverOnto();
    EXPECT_TRUE(button->hover());
    expectAt(face(), kHoverFrame, { { 3, 12 }, { 40, 3 }, { w - 4, 12 }, { 40, h - 4 } });
    hoverOff();
    EXPECT_FALSE(button->hover());
    EXPECT_EQ(face().pixelColor(3, 12), kWhite);
}

TEST_F(XpButton, HidingClearsTheHoverLook)
{
    const int h = button->height();
    // The window hidden with the pointer over the button (as a search
    // hides the main window), and shown again with the pointer elsewhere.
    hoverOnto();
    ASSERT_TRUE(button->hover());
    window->hide();
    // Hidden, the button is under no pointer, before any pointer event.
    EXPECT_FALSE(button->hover());
    QCursor::setPos(QPoint(2000, 2000));
    QCoreApplication::processEvents();
    window->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(window.get()));
    EXPECT_FALSE(button->hover());
    expectAt(face(), kWhite, { { 3, 12 }, { 3, h / 2 } });
    // The button itself hidden under the pointer has no hover either.
    hoverOnto();
    ASSERT_TRUE(button->hover());
    button->hide();
    EXPECT_FALSE(button->hover());
    button->show();
    // The pointer coming over it brings the frame back.
    hoverOff();
    hoverOnto();
    EXPECT_TRUE(button->hover());
    EXPECT_EQ(face().pixelColor(3, 12), kHoverFrame);
}

TEST_F(XpButton, GradientBandsOfA25PixelButtonNormalAndPressedOverIt)
{
    button->setCaption(QString());
    const QColor bands[]
        = { { 253, 253, 253 }, { 246, 246, 249 }, { 239, 239, 244 }, { 232, 232, 240 },
              { 226, 225, 236 }, { 219, 218, 232 }, { 212, 211, 227 }, { 205, 204, 223 } };
    // Whole rows of the face, but for the dots of the focus mark a press leaves.
    const auto rowIs = [this](const QImage& image, int y, QColor colour) {
        const int w = image.width();
        const int h = image.height();
        for (int x = 4; x < w - 4; ++x) {
            const bool outline = x == 4 || x == w - 5 || y == 4 || y == h - 5;
            if (button->focused() && outline && (x + y) % 2 == 0)
                continue;
            if (image.pixelColor(x, y) != colour)
                return false;
        }
        return true;
    };
    // An empty caption leaves the face alone: whole rows of band colour.
    QImage image = face();
    for (int i = 0; i < 8; ++i) {
        EXPECT_TRUE(rowIs(image, 4 + 2 * i, bands[i])) << "band " << i;
        EXPECT_TRUE(rowIs(image, 5 + 2 * i, bands[i])) << "band " << i;
    }
    EXPECT_TRUE(rowIs(image, 20, kDark));

    // Pressed from the keyboard, away from the pointer: the same gradient.
    button->setFocus();
    QTest::keyPress(button, Qt::Key_Space);
    EXPECT_EQ(face().pixelColor(40, 5), kLight);
    QTest::keyRelease(button, Qt::Key_Space);

    hoverOnto();
    QTest::mousePress(button, Qt::LeftButton, {}, QPoint(50, 12));
    image = face();
    EXPECT_TRUE(rowIs(image, 4, kDark));
    EXPECT_TRUE(rowIs(image, 5, QColor(209, 208, 226)));
    EXPECT_TRUE(rowIs(image, 15, kLight));
    for (int y = 16; y <= 20; ++y)
        EXPECT_TRUE(rowIs(image, y, kLight)) << "row " << y;
    QTest::mouseRelease(button, Qt::LeftButton, {}, QPoint(50, 12));
}

TEST_F(XpButton, A22PixelButtonDrawsSevenBandsOfTwoRows)
{
    button->setCaption(QString());
    button->resize(77, 22);
    const QImage image = face();
    expectAt(image, kLight, { { 10, 4 }, { 10, 5 } });
    expectAt(image, QColor(245, 245, 248), { { 10, 6 }, { 10, 7 } });
    expectAt(image, QColor(213, 212, 228), { { 10, 14 }, { 10, 15 } });
    expectAt(image, kDark, { { 10, 16 }, { 10, 17 } });
    expectAt(image, QColor(188, 212, 246), { { 10, 18 } }); // the inner outline, no rest
}

TEST_F(XpButton, CaptionAndFontChangesRepaintAtOnceUnlessNothingChanged)
{
    QCoreApplication::processEvents();
    PaintProbe probe(button);
    button->setCaption(QStringLiteral("Искать"));
    QCoreApplication::processEvents();
    EXPECT_EQ(probe.paints, 0);
    button->setCaption(QStringLiteral("Стоп"));
    EXPECT_EQ(probe.paints, 1);
    EXPECT_EQ(button->text(), QStringLiteral("Стоп"));

    QFont big = button->font();
    big.setPixelSize(20);
    button->setButtonFont(big);
    EXPECT_EQ(probe.paints, 2);
    EXPECT_EQ(button->font().pixelSize(), 20);
    const QRect large = caption(); // grabbing paints too
    const int before = probe.paints;

    QFont small = button->font();
    small.setPixelSize(9);
    button->setFont(small);
    EXPECT_EQ(probe.paints, before);
    QCoreApplication::processEvents();
    EXPECT_GT(probe.paints, before);
    EXPECT_LT(caption().height(), large.height());
}

TEST_F(XpButton, AWideCaptionIsCutAtTheFaceEdges)
{
    button->resize(40, 25);
    button->setCaption(QStringLiteral("Очень длинная надпись кнопки"));
    const QImage image = face();
    ASSERT_GT(QFontMetrics(button->font()).horizontalAdvance(button->text()), 100);
    const QRect box = inkBox(image, ink());
    EXPECT_GE(box.left(), 4);
    EXPECT_LE(box.right(), 40 - 5);
    EXPECT_GE(box.width(), 28);
    for (int y = 4; y < 21; ++y) {
        EXPECT_EQ(image.pixelColor(3, y), kWhite) << y;
        EXPECT_EQ(image.pixelColor(36, y), kWhite) << y;
    }
}

TEST_F(XpButton, FocusMarkInvertsEveryOtherPixelOfTheInnerRectangleOnlyWhileFocused)
{
    button->setCaption(QString());
    QCoreApplication::processEvents();
    const QImage plain = face();
    button->setFocus();
    EXPECT_TRUE(button->focused());
    const QImage marked = face();
    const auto inverted
        = [](QColor c) { return QColor(255 - c.red(), 255 - c.green(), 255 - c.blue()); };
    for (const QPoint p :
        { QPoint(4, 4), QPoint(5, 4), QPoint(50, 20), QPoint(95, 11), QPoint(4, 12) }) {
        const bool dotted = (p.x() + p.y()) % 2 == 0;
        EXPECT_EQ(
            marked.pixelColor(p), dotted ? inverted(plain.pixelColor(p)) : plain.pixelColor(p))
            << p.x() << "," << p.y();
    }
    EXPECT_EQ(marked.pixelColor(6, 6), plain.pixelColor(6, 6));
    other->setFocus();
    EXPECT_FALSE(button->focused());
    EXPECT_EQ(face(), plain);
}

TEST_F(XpButton, DisabledLookIgnoresStateAndInput)
{
    hoverOnto();
    button->setFocus();
    button->setEnabled(false);
    const QImage image = face();
    // No gradient, hover frame or focus mark.
    expectAt(image, QColor(241, 241, 237), { { 20, 6 }, { 3, 12 }, { 4, 4 }, { 40, 20 } });
    expectAt(image, QColor(214, 211, 211), { { 0, 12 }, { 40, 24 } });
    expectAt(image, QColor(196, 195, 191), { { 1, 12 }, { 40, 1 } });
    expectAt(image, button->palette().color(QPalette::Button), { { 0, 0 }, { 99, 24 } });
    EXPECT_TRUE(inkBox(image, ink()).isEmpty());
    EXPECT_FALSE(inkBox(image, QColor(161, 161, 146)).isEmpty());
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->pressed());
}

TEST_F(XpButton, AcceleratorIsUnderlinedAndItsKeyClicks)
{
    button->setCaption(QStringLiteral("Open"));
    const QImage bare = face();
    button->setCaption(QStringLiteral("&Open"));
    const QImage marked = face();
    const QFontMetrics metrics(button->font());
    const int x = (100 - metrics.horizontalAdvance(QStringLiteral("Open"))) / 2;
    const int underline = (25 - metrics.height()) / 2 + metrics.height();
    for (int y = 0; y < 25; ++y)
        for (int i = 0; i < 100; ++i) {
            const bool under = y == underline && i >= x
                && i < x + metrics.horizontalAdvance(QStringLiteral("O"));
            EXPECT_EQ(marked.pixelColor(i, y), under ? ink() : bare.pixelColor(i, y))
                << i << "," << y;
        }

    window->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(window.get()));
    other->setFocus();
    QTest::keyClick(other, Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(clicks, 1);
    QTest::keyClick(other, Qt::Key_O); // the focused button takes no typed text
    EXPECT_EQ(clicks, 2);
    auto* edit = new QLineEdit(window.get());
    edit->show();
    edit->setFocus();
    QTest::keyClick(edit, Qt::Key_O);
    EXPECT_EQ(edit->text(), QStringLiteral("o"));
    EXPECT_EQ(clicks, 2);
    QTest::keyClick(edit, Qt::Key_O, Qt::AltModifier);
    EXPECT_EQ(clicks, 3);
    button->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_O, Qt::AltModifier);
    other->setFocus();
    QTest::keyClick(other, Qt::Key_O);
    EXPECT_EQ(clicks, 3);
}

TEST_F(XpButton, CancelAndDefaultAnswerEscAndEnterAnywhereInTheWindow)
{
    auto* edit = new QLineEdit(window.get());
    edit->show();
    edit->setFocus();
    int otherClicks = 0;
    other->OnClick = [&](QObject*) { ++otherClicks; };
    button->Cancel = true;
    other->Cancel = true; // the key is left unhandled: both see it
    QTest::keyClick(edit, Qt::Key_Escape);
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(otherClicks, 1);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks, 1);

    button->Cancel = false;
    button->Default = true;
    QTest::keyClick(edit, Qt::Key_Return);
    QTest::keyClick(edit, Qt::Key_Enter);
    EXPECT_EQ(clicks, 3);
    button->setEnabled(false);
    QTest::keyClick(edit, Qt::Key_Return);
    EXPECT_EQ(clicks, 3);
}

TEST(XpButtonDialog, ModalResultClosesTheDialogAfterOnClickUnlessOnClickThrows)
{
    qevra::testing::resetDoubles();
    QDialog dialog;
    auto* button = new TxpButton(&dialog);
    EXPECT_EQ(button->size(), QSize(75, 25));
    EXPECT_EQ(button->caption(), QStringLiteral("XP Button"));
    button->ModalResult = 7;
    bool shownDuringClick = false;
    button->OnClick = [&](QObject*) { shownDuringClick = dialog.isVisible(); };
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_TRUE(shownDuringClick);
    EXPECT_EQ(dialog.result(), 7);
    EXPECT_FALSE(dialog.isVisible());

    dialog.setResult(0);
    dialog.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&dialog));
    button->OnClick = [](QObject*) { throw std::runtime_error("broken"); };
    QTest::mouseClick(button, Qt::LeftButton);
    EXPECT_FALSE(button->pressed());
    EXPECT_EQ(dialog.result(), 0);
    EXPECT_TRUE(dialog.isVisible());
    EXPECT_EQ(qevra::testing::boxes().errors.size(), 1u);
}

TEST_F(XpButton, EnterAndExitFollowTheFocus)
{
    QStringList seen;
    button->OnEnter = [&](QObject*) { seen << QStringLiteral("enter"); };
    button->OnExit = [&](QObject*) { seen << QStringLiteral("exit"); };
    button->setFocus();
    other->setFocus();
    EXPECT_EQ(seen, QStringList({ QStringLiteral("enter"), QStringLiteral("exit") }));
}

} // namespace
