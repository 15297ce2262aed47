#include "app/startup.h"

#include "platform/application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

// The icon's resources live in the static library; naming their initializer
// here links them in. Q_INIT_RESOURCE cannot be used inside a namespace.
static void initIconResources()
{
    Q_INIT_RESOURCE(qevra);
}

namespace qevra {

namespace {

// The program's icon in every drawn size, for the title bars and the task bar.
QIcon programIcon()
{
    initIconResources();
    QIcon icon;
    for (const int size : { 16, 32, 48, 64, 128, 256 })
        icon.addFile(QStringLiteral(":/icons/qevra-%1.png").arg(size), QSize(size, size));
    return icon;
}

} // namespace

Program::Program(platform::Services& services)
    : Form1(services)
    , Form2(Form1.results, &Form1, services)
    , AboutBox(services)
{
    Form1.setPeers(&Form2, &AboutBox);
}

int runProgram(int argc, char** argv)
{
    Application application(argc, argv);
    Application::setWindowIcon(programIcon());
    // Lets the desktop match the windows with qevra.desktop and its icon.
    Application::setDesktopFileName(QStringLiteral("qevra"));

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
