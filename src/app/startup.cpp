#include "app/startup.h"

#include "about/about_box.h"
#include "app/main_window.h"
#include "editor/copies_editor.h"
#include "platform/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qevra {

int runProgram(int argc, char** argv)
{
    Application application(argc, argv);

    // The platform's own dialog texts in Russian, like the program's.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        Application::installTranslator(&qtTexts);

    TForm1 form1;
    TForm2 form2(&form1);
    TAboutBox aboutBox;
    form1.setPeers(&form2, &aboutBox);

    form1.show();
    return Application::exec();
}

} // namespace qevra
