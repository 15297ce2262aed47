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

// Contrast ratio of two colours as the accessibility guidelines define it:
// 1 for equal colours, 21 for black on white.
double contrast(QColor a, QColor b)
{
    const auto luminance = [](QColor c) {
        const auto channel = [](int value) {
            const double v = value / 255.0;
            return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        };
        return 0.2126 * channel(c.red()) + 0.7152 * channel(c.green()) + 0.0722 * channel(c.blue());
    };
    const double la = luminance(a);
    const double lb = luminance(b);
    return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

// The ratio asked of ordinary text; the designed red links and title of the
// About box and the greyed second name list reach the one asked of large text.
constexpr double kText = 4.5;
constexpr double kDesignedColour = 3.0;

class DarkDesktop : public FormsTest {
protected:
    void SetUp() override
    {
        saved_ = QApplication::palette();
        // A dark theme's scheme: near-white text on dark grounds.
        QApplication::setPalette(QPalette(QColor(60, 60, 60), QColor(53, 53, 53)));
        FormsTest::SetUp();
    }

    void TearDown() override
    {
        FormsTest::TearDown();
        QApplication::setPalette(saved_);
    }

    // Checks what a person sees of an area of a control in the window's
    // picture: the colour covering most of it is the ground, and the pixel
    // standing out most from it must reach `ratio`.
    void expectReadable(QWidget* control, QRect area, double ratio = kText)
    {
        QWidget* window = control->window();
        if (shotOf_ != window) {
            QCoreApplication::processEvents();
            shot_ = window->grab().toImage();
            shotOf_ = window;
        }
        const QImage part = shot_.copy(QRect(control->mapTo(window, area.topLeft()), area.size()));
        std::map<QRgb, int> counts;
        for (int y = 0; y < part.height(); ++y)
            for (int x = 0; x < part.width(); ++x)
                ++counts[part.pixel(x, y)];
        ASSERT_FALSE(counts.empty());
        const QColor ground = std::max_element(counts.begin(), counts.end(), [](auto a, auto b) {
            return a.second < b.second;
        })->first;
        double best = 1;
        for (const auto& [rgb, count] : counts)
            best = std::max(best, contrast(QColor(rgb), ground));
        EXPECT_GE(best, ratio) << control->metaObject()->className() << " "
                               << control->property("text").toString().toStdString();
    }

    // Every pair of colours a control of the window draws text with stands
    // out in every state, and the window has its own light ground.
    static void expectReadablePalettes(QWidget* window)
    {
        EXPECT_EQ(window->palette().color(QPalette::Window), controls::windowColour());
        const std::pair<QPalette::ColorRole, QPalette::ColorRole> pairs[] = {
            { QPalette::WindowText, QPalette::Window },
            { QPalette::Text, QPalette::Base },
            { QPalette::ButtonText, QPalette::Button },
            { QPalette::HighlightedText, QPalette::Highlight },
        };
        QList<QWidget*> widgets = window->findChildren<QWidget*>();
        widgets << window;
        for (QWidget* widget : widgets)
            for (const auto group : { QPalette::Active, QPalette::Inactive, QPalette::Disabled })
                for (const auto& [text, ground] : pairs)
                    EXPECT_GE(contrast(widget->palette().color(group, text),
                                  widget->palette().color(group, ground)),
                        kDesignedColour)
                        << widget->metaObject()->className() << " group " << group << " roles "
                        << text << "/" << ground;
    }

    static QRect faceOf(QWidget* button) { return button->rect().adjusted(4, 4, -4, -4); }

private:
    QPalette saved_;
    QImage shot_;
    QWidget* shotOf_ = nullptr;
};

} // namespace

TEST_F(DarkDesktop, MainWindowKeepsItsLightColoursAndReadableTexts)
{
    TForm1& f = *form1;
    f.proComboBox1->setEditText(QStringLiteral("Графика (jpg,jpeg,bmp,gif)"));
    f.StatusBar1->setText(QStringLiteral("   Здесь отображаются все действия программы"));
    for (controls::Label* label : { f.Label3, f.Label2, f.Label4, f.Label5 })
        expectReadable(label, label->rect());
    for (controls::TxpButton* button :
        { f.xpButton1, f.xpButton2, f.xpButton3, f.xpButton4, f.fsBitBtn4 })
        expectReadable(button, faceOf(button));
    // A check box's caption, beside its box.
    for (controls::TxpCheckBox* box : { f.checkbox1, f.CheckBox2, f.CheckBox3 })
        expectReadable(box, QRect(QPoint(20, 2), QPoint(box->width() - 3, box->height() - 1)));
    // The typed extension, inside the frame of the box.
    QLineEdit* edit = f.proComboBox1->lineEdit();
    expectReadable(edit,
        edit->rect().intersected(QRect(
            edit->mapFrom(f.proComboBox1, QPoint(3, 3)), f.proComboBox1->size() - QSize(6, 6))));
    expectReadable(f.StatusBar1, f.StatusBar1->textArea());
    expectReadablePalettes(&f);
}

TEST_F(DarkDesktop, CopiesEditorKeepsItsLightColoursAndReadableTexts)
{
    showPairs({ { "/home/user/Фото/море.jpg", "/home/user/Архив/море.jpg" },
        { "/home/user/Фото/лес.jpg", "/home/user/Телефон/лес.jpg" } });
    TForm2& e = *form2;
    e.Label3->setPath("/home/user/Фото/море.jpg");
    for (controls::Label* label : { e.Label1, e.Label5, e.Label7, e.Label8 })
        expectReadable(label, label->rect());
    expectReadable(e.Label3, e.Label3->rect());
    for (controls::TxpButton* button : { e.xpButton1, e.xpButton3, e.xpButton5, e.fsbitbtn4 })
        expectReadable(button, faceOf(button));
    expectReadable(e.fsListBox1->viewport(), e.fsListBox1->viewport()->rect());
    // The second list is disabled: its names are grey, still readable.
    expectReadable(e.fsListBox2->viewport(), e.fsListBox2->viewport()->rect(), kDesignedColour);
    expectReadablePalettes(&e);
}

TEST_F(DarkDesktop, AboutBoxKeepsItsLightColoursAndReadableTexts)
{
    about->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
    for (controls::Label* label : about->findChildren<controls::Label*>()) {
        const bool red = label->palette().color(QPalette::WindowText) == QColor(255, 0, 0);
        expectReadable(label, label->rect(), red ? kDesignedColour : kText);
    }
    expectReadablePalettes(about);
}

TEST_F(DarkDesktop, EmptyAndFilledProgressBarStandOutFromTheWindow)
{
    controls::ProgressBar* bar = form1->ProgressBar1;
    const auto colourAt = [&](int x) {
        QCoreApplication::processEvents();
        return form1->grab().toImage().pixelColor(bar->mapTo(form1, QPoint(x, 7)));
    };
    const QColor window = form1->grab().toImage().pixelColor(bar->x() + 10, bar->y() - 2);
    const QColor empty = colourAt(bar->width() / 2);
    EXPECT_GE(contrast(empty, window), 2.0) << "an empty bar is a visible bar";
    ASSERT_TRUE(bar->setPosition(50));
    EXPECT_EQ(colourAt(bar->width() * 3 / 4), empty);
    const QColor filled = colourAt(bar->width() / 4);
    EXPECT_NE(filled, empty);
    EXPECT_GE(contrast(filled, window), 2.0);
}
