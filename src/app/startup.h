#pragma once

#include "about/about_box.h"
#include "app/main_window.h"
#include "editor/copies_editor.h"

#include <string>
#include <vector>

namespace qevra {

// The program's three windows, created in start-up order: the main window
// first (closing it ends the program), then the copies editor and the About
// box, both hidden. They live until the program ends.
class Program {
public:
    // The windows share `services`: the real ones, or a test's doubles.
    explicit Program(platform::Services& services = platform::realServices());

    TForm1 Form1;
    TForm2 Form2;
    TAboutBox AboutBox;
};

// Starts the program: the application and its title, the three windows,
// then the event loop with the main window shown. Returns the exit code.
// "--help" and "--version" answer on standard output without a display;
// directories given on the command line are chosen as "Выбрать каталог"
// (the first) and "Добавить каталог" (the others) would choose them.
int runProgram(int argc, char** argv);

// The text of "qevra --help".
std::string programUsage();

// The directories a command line names (what Qt left of it), each as the
// folder dialog answers it (its canonical path); what is no directory goes
// to `leftOut`. An option other than "--" is a mistake, named in `wrong`.
std::vector<std::string> directoriesFromArguments(const std::vector<std::string>& arguments,
    std::vector<std::string>& leftOut, std::string& wrong);

// Chooses the directories in the main window as its two buttons would: the
// first as the main directory, the others added.
void chooseDirectories(TForm1& form, const std::vector<std::string>& dirs);

} // namespace qevra
