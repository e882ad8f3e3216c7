#pragma once
// The command-line options: each answers in the terminal and exits, before
// anything of the window, the settings or the word processor starts.

namespace app {

// Handles --help, --version and --write-template FILE [--force]. Returns the
// exit status when one of them was given (the program then ends), or -1 when
// the program should start as usual. Other arguments (Qt's own, such as
// -platform) are left to the application.
int runCommandLine(int argc, char** argv);

} // namespace app
