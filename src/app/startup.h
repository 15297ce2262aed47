#pragma once

#include "about/about_box.h"
#include "app/main_window.h"
#include "editor/copies_editor.h"

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
int runProgram(int argc, char** argv);

} // namespace qevra
