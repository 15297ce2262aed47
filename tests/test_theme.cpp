// The three windows under a dark desktop colour scheme: they keep their own
// light palette, so every text stands out from the ground it is drawn on,
// and the empty progress bar stands out from the window.
#include "controls/palette.h"
#include "support/form_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <map>

using namespace qevra;
using namespace qevra::testing;

namespace {

// Relative luminance and contrast ratio as the accessibility guidelines
// define them: 1 for equal colours, 21 for black on white.
double luminance(QColor colour)
{
    const auto channel = [](int value) {
        const double v = value / 255.0;
        return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    };
    return 0.2126 * channel(colour.red()) + 0.7152 * channel(colour.green())
        + 0.0722 * channel(colour.blue());
}

double contrast(QColor a, QColor b)
{
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// A dark scheme as a desktop theme gives it: near-white text on dark grounds.
QPalette darkScheme()
{
    QPalette dark(QColor(53, 53, 53));
    for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled }) {
        dark.setColor(group, QPalette::Window, QColor(53, 53, 53));
        dark.setColor(group, QPalette::WindowText, QColor(238, 238, 238));
        dark.setColor(group, QPalette::Base, QColor(30, 30, 30));
        dark.setColor(group, QPalette::AlternateBase, QColor(45, 45, 45));
        dark.setColor(group, QPalette::Text, QColor(238, 238, 238));
        dark.setColor(group, QPalette::Button, QColor(60, 60, 60));
        dark.setColor(group, QPalette::ButtonText, QColor(238, 238, 238));
        dark.setColor(group, QPalette::Highlight, QColor(21, 83, 158));
        dark.setColor(group, QPalette::HighlightedText, QColor(255, 255, 255));
        dark.setColor(group, QPalette::Light, QColor(90, 90, 90));
        dark.setColor(group, QPalette::Midlight, QColor(70, 70, 70));
        dark.setColor(group, QPalette::Mid, QColor(40, 40, 40));
        dark.setColor(group, QPalette::Dark, QColor(20, 20, 20));
        dark.setColor(group, QPalette::Shadow, QColor(0, 0, 0));
    }
    return dark;
}

// What a person sees of a rectangle of a control: the colour that covers
// most of it is the ground; the ink is the pixel that stands out most from
// it. Returns their contrast ratio (1 for an area of one colour).
double inkContrast(const QImage& shot, QWidget* window, QWidget* control, QRect area)
{
    const QRect onShot(control->mapTo(window, area.topLeft()), area.size());
    const QImage part = shot.copy(onShot);
    std::map<QRgb, int> counts;
    for (int y = 0; y < part.height(); ++y)
        for (int x = 0; x < part.width(); ++x)
            ++counts[part.pixel(x, y) | 0xff000000u];
    if (counts.empty())
        return 1;
    const QColor ground(std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
        return a.second < b.second;
    })->first);
    double best = 1;
    for (const auto& [rgb, count] : counts)
        best = std::max(best, contrast(QColor(rgb), ground));
    return best;
}

// The ratio the guidelines ask of ordinary text; the designed red links and
// titles of the About box and the greyed second name list reach the ratio
// asked of large text.
constexpr double kText = 4.5;
constexpr double kDesignedColour = 3.0;

class DarkDesktop : public FormsTest {
protected:
    void SetUp() override
    {
        saved_ = QApplication::palette();
        QApplication::setPalette(darkScheme());
        FormsTest::SetUp();
    }

    void TearDown() override
    {
        FormsTest::TearDown();
        QApplication::setPalette(saved_);
    }

    static QImage shotOf(QWidget* window)
    {
        QCoreApplication::processEvents();
        return window->grab().toImage();
    }

    // Each pair of colours a control draws text with stands out in every
    // state the control can be in.
    static void expectReadablePalettes(QWidget* window)
    {
        const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
            { QPalette::WindowText, QPalette::Window },
            { QPalette::Text, QPalette::Base },
            { QPalette::ButtonText, QPalette::Button },
            { QPalette::HighlightedText, QPalette::Highlight },
        };
        auto widgets = window->findChildren<QWidget*>();
        widgets.prepend(window);
        for (QWidget* widget : widgets) {
            const QPalette colours = widget->palette();
            for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
                for (const auto& [text, ground] : pairs)
                    EXPECT_GE(contrast(colours.color(group, text), colours.color(group, ground)),
                        kDesignedColour)
                        << widget->metaObject()->className() << " "
                        << widget->objectName().toStdString() << " group " << group << " roles "
                        << text << "/" << ground;
        }
    }

    QPalette saved_;
};

QRect faceOf(QWidget* button)
{
    return button->rect().adjusted(4, 4, -4, -4);
}

// The caption beside a check box's box.
QRect captionOf(controls::TxpCheckBox* box)
{
    return QRect(QPoint(20, 2), QPoint(box->width() - 3, box->height() - 1));
}

} // namespace

TEST_F(DarkDesktop, MainWindowKeepsItsLightColoursAndReadableTexts)
{
    TForm1& f = *form1;
    f.proComboBox1->setEditText(QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    f.StatusBar1->setText(QStringLiteral("   Здесь отображаются все действия программы"));
    const QImage shot = shotOf(&f);

    EXPECT_EQ(shot.pixelColor(2, 2), controls::windowColour());
    for (controls::Label* label : { f.Label3, f.Label2, f.Label4, f.Label5 })
        EXPECT_GE(inkContrast(shot, &f, label, label->rect()), kText)
            << label->text().toStdString();
    for (controls::TxpButton* button :
        { f.xpButton1, f.xpButton2, f.xpButton3, f.xpButton4, f.fsBitBtn4 })
        EXPECT_GE(inkContrast(shot, &f, button, faceOf(button)), kText)
            << button->text().toStdString();
    for (controls::TxpCheckBox* box : { f.checkbox1, f.CheckBox2, f.CheckBox3 })
        EXPECT_GE(inkContrast(shot, &f, box, captionOf(box)), kText)
            << box->caption().toStdString();
    // The typed extension, inside the frame of the box.
    QLineEdit* edit = f.proComboBox1->lineEdit();
    const QRect typed = edit->rect().intersected(
        QRect(edit->mapFrom(f.proComboBox1, QPoint(3, 3)), f.proComboBox1->size() - QSize(6, 6)));
    EXPECT_GE(inkContrast(shot, &f, edit, typed), kText);
    EXPECT_GE(inkContrast(shot, &f, f.StatusBar1, f.StatusBar1->textArea()), kText);
    expectReadablePalettes(&f);
}

TEST_F(DarkDesktop, CopiesEditorKeepsItsLightColoursAndReadableTexts)
{
    showPairs({ { "/home/user/Фото/море.jpg", "/home/user/Архив/море.jpg" },
        { "/home/user/Фото/лес.jpg", "/home/user/Телефон/лес.jpg" } });
    TForm2& e = *form2;
    e.Label3->setPath("/home/user/Фото/море.jpg");
    e.Label4->setPath("/home/user/Архив/море.jpg");
    const QImage shot = shotOf(&e);

    EXPECT_EQ(shot.pixelColor(2, 2), controls::windowColour());
    for (controls::Label* label : { e.Label1, e.Label5, e.Label7, e.Label8 })
        EXPECT_GE(inkContrast(shot, &e, label, label->rect()), kText)
            << label->text().toStdString();
    for (PathLabel* label : { e.Label3, e.Label4 })
        EXPECT_GE(inkContrast(shot, &e, label, label->rect()), kText)
            << label->text().toStdString();
    for (controls::TxpButton* button : { e.xpButton1, e.xpButton2, e.xpButton3, e.xpButton4,
             e.xpButton5, e.xpButton6, e.fsbitbtn4 })
        EXPECT_GE(inkContrast(shot, &e, button, faceOf(button)), kText)
            << button->text().toStdString();
    QWidget* names1 = e.fsListBox1->viewport();
    EXPECT_GE(inkContrast(shot, &e, names1, names1->rect()), kText);
    // The second list is disabled: its names are grey, still readable.
    QWidget* names2 = e.fsListBox2->viewport();
    EXPECT_GE(inkContrast(shot, &e, names2, names2->rect()), kDesignedColour);
    expectReadablePalettes(&e);
}

TEST_F(DarkDesktop, AboutBoxKeepsItsLightColoursAndReadableTexts)
{
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about.get()));
    const QImage shot = shotOf(about.get());

    EXPECT_EQ(shot.pixelColor(2, 2), controls::windowColour());
    for (controls::Label* label : about->findChildren<controls::Label*>()) {
        const bool red = label->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
        EXPECT_GE(
            inkContrast(shot, about.get(), label, label->rect()), red ? kDesignedColour : kText)
            << label->text().toStdString();
    }
    expectReadablePalettes(about.get());
}

TEST_F(DarkDesktop, EmptyAndFilledProgressBarStandOutFromTheWindow)
{
    TForm1& f = *form1;
    const QRect bar = f.ProgressBar1->rect();
    QImage shot = shotOf(&f);
    const QPoint middle = f.ProgressBar1->mapTo(&f, bar.center());
    const QColor window = shot.pixelColor(middle.x(), f.ProgressBar1->y() - 2);
    const QColor empty = shot.pixelColor(middle);
    EXPECT_GE(contrast(empty, window), 2.0) << "an empty bar is a visible bar";

    ASSERT_TRUE(f.ProgressBar1->setPosition(50));
    shot = shotOf(&f);
    const QColor filled = shot.pixelColor(f.ProgressBar1->mapTo(&f, QPoint(bar.width() / 4, 7)));
    EXPECT_EQ(shot.pixelColor(f.ProgressBar1->mapTo(&f, QPoint(bar.width() * 3 / 4, 7))), empty);
    EXPECT_NE(filled, empty);
    EXPECT_GE(contrast(filled, window), 2.0);
}
