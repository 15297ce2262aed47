#include "about/about_box.h"

#include "controls/accessibility.h"
#include "controls/palette.h"
#include "controls/placement.h"
#include "platform/fonts.h"
#include "platform/services.h"

#include <QFontDatabase>
#include <QGuiApplication>
#include <QMouseEvent>
#include <QScreen>
#include <QUrl>

namespace qevra {

const QString TAboutBox::kAuthor = QStringLiteral("Команда Qevra");
const QString TAboutBox::kEmail = QStringLiteral("qevra@example.org");
const QString TAboutBox::kHomePage = QStringLiteral("https://example.org/qevra");
const QString TAboutBox::kFooter = QStringLiteral("2026, Москва");

namespace {

// "https://example.org/qevra" shows as "example.org/qevra".
QString withoutScheme(const QString& address)
{
    QString shown = QUrl(address).toDisplayString(QUrl::RemoveScheme);
    if (shown.startsWith(QLatin1String("//")))
        shown.remove(0, 2);
    return shown;
}

} // namespace

QFont aboutFont(int pixelSize)
{
    // A font without Cyrillic letters would make Qt mix two fonts in one
    // label, so only fonts that have them qualify.
    static const QString family = [] {
        for (const QString& candidate : { QStringLiteral("Comic Sans MS"),
                 QStringLiteral("Liberation Sans"), QStringLiteral("DejaVu Sans") }) {
            if (QFontDatabase::families().contains(candidate, Qt::CaseInsensitive)
                && QFontDatabase::writingSystems(candidate).contains(QFontDatabase::Cyrillic))
                return candidate;
        }
        return platform::windowFont().family();
    }();
    QFont font(family);
    font.setPixelSize(pixelSize);
    return font;
}

TAboutBox::TAboutBox(platform::Services& services, QWidget* parent)
    : QWidget(parent,
        Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint
            | Qt::WindowCloseButtonHint)
    , services_(services)
{
    setWindowTitle(QStringLiteral("О программе"));
    setFixedSize(309, 177);
    controls::keepOnScreen(*this);
    controls::keepProgramColours(*this);
    setFont(aboutFont(16));

    auto label = [this](const QString& text, int left, int top) {
        auto* made = new controls::Label(text, this);
        made->move(left, top);
        return made;
    };
    auto red = [](controls::Label* made) { made->setTextColour(QColor(255, 0, 0)); };
    Label5 = label(QStringLiteral("Qevra"), 16, 8);
    Label5->setFont(aboutFont(21));
    Label5->resize(Label5->sizeHint());
    red(Label5);
    Label8 = label(QStringLiteral("Автор"), 16, 40);
    Label1 = label(kAuthor, 144, 40);
    Label2 = label(QStringLiteral("E-mail:"), 16, 64);
    Label3 = label(kEmail, 144, 64);
    red(Label3);
    Label6 = label(QStringLiteral("Версия"), 16, 88);
    Label7 = label(QStringLiteral("0.4"), 144, 88);
    Label9 = label(QStringLiteral("Домашняя страница"), 8, 112);
    // The address is shown without its scheme so that it fits the window;
    // the link opens the full address.
    Label4 = label(withoutScheme(kHomePage), 144, 128);
    Label4->setAccessibleDescription(kHomePage);
    red(Label4);
    Label10 = label(kFooter, 56, 152);
    for (controls::Label* link : { Label3, Label4 }) {
        link->setCursor(Qt::PointingHandCursor);
        link->installEventFilter(this);
    }
    // The keyboard and assistive tools reach the links too: Tab, then Enter
    // or Space (or the link's action) does what a click does.
    controls::makeLink(Label3, [this] { Label3Click(); });
    controls::makeLink(Label4, [this] { Label4Click(); });
}

void TAboutBox::Label3Click()
{
    services_.desktop.open((QStringLiteral("mailto:") + kEmail).toStdString());
}

void TAboutBox::Label4Click()
{
    services_.desktop.open(kHomePage.toStdString());
}

bool TAboutBox::eventFilter(QObject* watched, QEvent* event)
{
    // A click is a left press and release over the label.
    if (event->type() == QEvent::MouseButtonRelease) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        auto* label = static_cast<QWidget*>(watched);
        if (mouse->button() == Qt::LeftButton
            && label->rect().contains(mouse->position().toPoint())) {
            if (watched == Label3)
                Label3Click();
            else if (watched == Label4)
                Label4Click();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    if (!placed_) {
        placed_ = true;
        if (QScreen* screen = QGuiApplication::primaryScreen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(controls::placedInside(frame, screen->availableGeometry()));
        }
    }
    QWidget::showEvent(event);
}

} // namespace qevra
