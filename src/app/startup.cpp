#include "app/startup.h"

#include "platform/application.h"

#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

namespace qevra {

Program::Program()
    : Form2(&Form1)
{
    Form1.setPeers(&Form2, &AboutBox);
}

int runProgram(int argc, char** argv)
{
    Application application(argc, argv);

    // The platform's own dialog texts in Russian, like the program's.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        Application::installTranslator(&qtTexts);

    Program program;
    program.Form1.show();
    return Application::exec();
}

} // namespace qevra
