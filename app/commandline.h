#pragma once
// The command-line options: each answers in the terminal and exits without
// the window or the settings store.

namespace app {

// Handles --help, --version, --write-template FILE, --fill and --fill-list
// (with --output, --output-dir, --format, --jobs, --force). Returns the exit status when
// one of them was given (the program then ends), or -1 when
// the program should start as usual. Other arguments (Qt's own, such as
// -platform) are left to the application.
int runCommandLine(int argc, char** argv);

} // namespace app
