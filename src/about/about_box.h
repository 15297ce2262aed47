#pragma once

#include "platform/services.h"

#include "controls/basic_controls.h"

#include <QWidget>
#include <string>

namespace qevra {

// The About box: the program's title, author, e-mail address, version and
// home page, two of them links for the desktop, which a click, or Tab and
// Enter or Space, or an assistive tool's press action opens. Shown without being modal,
// hidden on close; centred on the screen the first time, later where it was
// left.
class TAboutBox : public QWidget {
    Q_OBJECT
public:
    explicit TAboutBox(platform::Services& services, QWidget* parent = nullptr);

    static const QString kAuthor;
    static const QString kEmail;
    static const QString kHomePage;
    static const QString kFooter;

    controls::Label* Label5;
    controls::Label* Label8;
    controls::Label* Label1;
    controls::Label* Label2;
    controls::Label* Label3;
    controls::Label* Label6;
    controls::Label* Label7;
    controls::Label* Label9;
    controls::Label* Label4;
    controls::Label* Label10;

    // The two links.
    void Label3Click();
    void Label4Click();

protected:
    void showEvent(QShowEvent* event) override;
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    platform::Services& services_;
    bool placed_ = false;
};

// The About box's font: "Comic Sans MS" where it is installed with Cyrillic
// letters, else an installed font that has them.
QFont aboutFont(int pixelSize);

} // namespace qevra
