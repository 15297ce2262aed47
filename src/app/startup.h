#pragma once

namespace qevra {

// Starts the program: the application and its title, the main window, the
// copies editor, the About box, then the event loop. Returns the exit code.
int runProgram(int argc, char** argv);

} // namespace qevra
