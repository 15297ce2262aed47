// The three windows under a dark desktop colour scheme and under application
// style sheets: they keep their own light colours, so every text stands out
// from the ground it is drawn on, and the empty progress bar stands out from
// the window.
#include "controls/palette.h"
#include "support/form_fixture.h"

#include <QApplication>
#include <QLineEdit>
#include <algorithm>
#include <cmath>
#include <map>
#include <ostream>
#include <string>

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

// A dark theme's scheme: near-white text on dark grounds.
QPalette darkPalette()
{
    return QPalette(QColor(60, 60, 60), QColor(53, 53, 53));
}

// The windows made under a desktop's colours (set before they are made, as
// start-up finds them), with the checks of what a person sees in them.
class ThemeTest : public FormsTest {
protected:
    void SetUp() override
    {
        savedPalette_ = QApplication::palette();
        savedSheet_ = qApp->styleSheet();
        applyTheme();
        FormsTest::SetUp();
    }

    void TearDown() override
    {
        FormsTest::TearDown();
        qApp->setStyleSheet(savedSheet_);
        QApplication::setPalette(savedPalette_);
    }

    virtual void applyTheme() = 0;

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

    // The window's picture is taken again at the next check.
    void changed() { shotOf_ = nullptr; }

    static QRect faceOf(QWidget* button) { return button->rect().adjusted(4, 4, -4, -4); }

    // The captions of the main window's owner-drawn controls and labels, the
    // typed extension and the status text.
    void expectReadableMainWindow()
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
        // A disabled criterion's grey caption.
        click(f.checkbox1);
        changed();
        expectReadable(f.CheckBox2,
            QRect(QPoint(20, 2), QPoint(f.CheckBox2->width() - 3, f.CheckBox2->height() - 1)),
            kDesignedColour);
        click(f.checkbox1);
        // The typed extension, inside the frame of the box.
        QLineEdit* edit = f.proComboBox1->lineEdit();
        expectReadable(edit,
            edit->rect().intersected(QRect(edit->mapFrom(f.proComboBox1, QPoint(3, 3)),
                f.proComboBox1->size() - QSize(6, 6))));
        expectReadable(f.StatusBar1, f.StatusBar1->textArea());
    }

    // The copies editor with two pairs, the first chosen.
    void expectReadableCopiesEditor()
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
        // A chosen row: white on the selection's blue, the designed colours.
        e.fsListBox1->selectRow(1);
        changed();
        const QRect chosen = e.fsListBox1->visualRect(1);
        expectReadable(e.fsListBox1->viewport(), chosen.adjusted(1, 1, -1, -1), kDesignedColour);
    }

    void expectReadableAboutBox()
    {
        about->show();
        ASSERT_TRUE(QTest::qWaitForWindowExposed(about));
        for (controls::Label* label : about->findChildren<controls::Label*>()) {
            const bool red = label->textColour() == QColor(255, 0, 0);
            expectReadable(label, label->rect(), red ? kDesignedColour : kText);
        }
    }

    void expectProgressBarStandsOut()
    {
        controls::ProgressBar* bar = form1->ProgressBar1;
        const auto colourAt = [&](int x) {
            QCoreApplication::processEvents();
            return form1->grab().toImage().pixelColor(bar->mapTo(form1, QPoint(x, 7)));
        };
        const QColor window = form1->grab().toImage().pixelColor(bar->x() + 10, bar->y() - 2);
        EXPECT_EQ(window, controls::windowColour());
        const QColor empty = colourAt(bar->width() / 2);
        EXPECT_GE(contrast(empty, window), 2.0) << "an empty bar is a visible bar";
        ASSERT_TRUE(bar->setPosition(50));
        EXPECT_EQ(colourAt(bar->width() * 3 / 4), empty);
        const QColor filled = colourAt(bar->width() / 4);
        EXPECT_NE(filled, empty);
        EXPECT_GE(contrast(filled, window), 2.0);
    }

private:
    QPalette savedPalette_;
    QString savedSheet_;
    QImage shot_;
    QWidget* shotOf_ = nullptr;
};

class DarkDesktop : public ThemeTest {
protected:
    void applyTheme() override { QApplication::setPalette(darkPalette()); }
};

// An application style sheet, as `-stylesheet FILE` or a theming tool
// applies one, over the desktop's palette or over a dark one.
struct Sheet {
    const char* name;
    const char* text;
    bool darkPalette;
};

void PrintTo(const Sheet& sheet, std::ostream* out)
{
    *out << sheet.name;
}

class StyleSheet : public ThemeTest, public ::testing::WithParamInterface<Sheet> {
protected:
    void applyTheme() override
    {
        if (GetParam().darkPalette)
            QApplication::setPalette(darkPalette());
        qApp->setStyleSheet(QString::fromUtf8(GetParam().text));
    }
};

} // namespace

TEST_F(DarkDesktop, MainWindowKeepsItsLightColoursAndReadableTexts)
{
    expectReadableMainWindow();
    expectReadablePalettes(form1);
}

TEST_F(DarkDesktop, CopiesEditorKeepsItsLightColoursAndReadableTexts)
{
    expectReadableCopiesEditor();
    expectReadablePalettes(form2);
}

TEST_F(DarkDesktop, AboutBoxKeepsItsLightColoursAndReadableTexts)
{
    expectReadableAboutBox();
    expectReadablePalettes(about);
}

TEST_F(DarkDesktop, EmptyAndFilledProgressBarStandOutFromTheWindow)
{
    expectProgressBarStandsOut();
}

// Qt's standard widgets in the windows (the extension box, scroll bars) may
// take the sheet's colours, as long as their text stays readable; the
// windows' own grounds and every caption keep the program's colours.
TEST_P(StyleSheet, MainWindowKeepsReadableTexts)
{
    expectReadableMainWindow();
}

TEST_P(StyleSheet, CopiesEditorKeepsReadableTexts)
{
    expectReadableCopiesEditor();
}

TEST_P(StyleSheet, AboutBoxKeepsReadableTexts)
{
    expectReadableAboutBox();
}

TEST_P(StyleSheet, ProgressBarStandsOutFromTheWindow)
{
    expectProgressBarStandsOut();
}

INSTANTIATE_TEST_SUITE_P(Sheets, StyleSheet,
    ::testing::Values(
        Sheet { "DarkEverywhere", "* { color: #eee; background-color: #222; }", false },
        Sheet { "DarkWidgets", "QWidget { color: white; background: #333 }", true },
        // Only the text colour, written for a dark palette: light text that
        // would land on the program's light grounds.
        Sheet { "LightTextOnly", "* { color: #f4f4f4; }", true },
        Sheet { "DarkLabelsAndButtons",
            "QLabel, QPushButton, QComboBox, QLineEdit, QAbstractScrollArea "
            "{ color: #ddd; background-color: #303030; border: 1px solid #555; padding: 2px }",
            false }),
    [](const ::testing::TestParamInfo<Sheet>& sheet) { return std::string(sheet.param.name); });
