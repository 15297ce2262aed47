#include "app/startup.h"

#include "platform/application.h"

#include <QIcon>
#include <QLibraryInfo>
#include <QLocale>
#include <QTranslator>

#include <climits>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <string_view>
#include <sys/stat.h>
#include <vector>

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
    for (const int size : { 16, 24, 32, 48, 64, 128, 256 })
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

std::string programUsage()
{
    return R"(Usage: qevra [DIR...]

Finds duplicate files on the desktop: choose directories, an extension and
a criterion (the same name, size or content), then step through the pairs
found in the copies editor, where copies can be opened, deleted or moved to
the trash. The window is in Russian.

  DIR...        directories to search, chosen as "Выбрать каталог" (the
                first) and "Добавить каталог" (the others) would choose them
  -h, --help    this text
  --version     the version

For the search on a terminal, see qevra-find(1).
)";
}

std::vector<std::string> directoriesFromArguments(const std::vector<std::string>& arguments,
    std::vector<std::string>& leftOut, std::string& wrong)
{
    std::vector<std::string> dirs;
    bool optionsEnded = false;
    for (const std::string& argument : arguments) {
        if (!optionsEnded && argument == "--") {
            optionsEnded = true;
            continue;
        }
        if (!optionsEnded && argument.starts_with('-')) {
            wrong = argument;
            return {};
        }
        char resolved[PATH_MAX];
        struct stat status;
        if (!::realpath(argument.c_str(), resolved) || ::stat(resolved, &status) != 0
            || !S_ISDIR(status.st_mode)) {
            leftOut.push_back(argument);
            continue;
        }
        dirs.emplace_back(resolved);
    }
    return dirs;
}

void chooseDirectories(TForm1& form, const std::vector<std::string>& dirs)
{
    for (std::size_t i = 0; i < dirs.size(); ++i) {
        if (i == 0)
            form.chooseMainDirectory(dirs[i]);
        else
            form.addDirectory(dirs[i]);
    }
}

int runProgram(int argc, char** argv)
{
    // Answered before anything needs a display.
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == "--")
            break;
        if (argument == "--help" || argument == "-h") {
            std::fputs(programUsage().c_str(), stdout);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
        if (argument == "--version") {
            std::printf("qevra %s\n", QEVRA_VERSION);
            return std::fflush(stdout) == 0 ? 0 : 1;
        }
    }
    Application application(argc, argv);
    Application::setWindowIcon(programIcon());
    // Lets the desktop match the windows with qevra.desktop and its icon.
    Application::setDesktopFileName(QStringLiteral("org.qevra.Qevra"));

    // The platform's own dialog texts in Russian, like the program's.
    QTranslator qtTexts;
    if (qtTexts.load(QLocale(QLocale::Russian), QStringLiteral("qtbase"), QStringLiteral("_"),
            QLibraryInfo::path(QLibraryInfo::TranslationsPath)))
        Application::installTranslator(&qtTexts);

    // What is left once Qt took its own options: directories to search.
    std::vector<std::string> leftOut;
    std::string wrong;
    const std::vector<std::string> dirs
        = directoriesFromArguments(std::vector<std::string>(argv + 1, argv + argc), leftOut, wrong);
    if (!wrong.empty()) {
        std::fprintf(
            stderr, "qevra: unknown option %s\nTry 'qevra --help' for more.\n", wrong.c_str());
        return 2;
    }
    for (const std::string& path : leftOut)
        std::fprintf(stderr, "qevra: %s: not a directory, left out\n", path.c_str());

    Program program;
    chooseDirectories(program.Form1, dirs);
    program.Form1.show();
    return Application::exec();
}

} // namespace qevra
