#pragma once
// Ending the program at once, from any window or handler.

namespace common {

// Ends the program at once: every window is destroyed without its closing
// handlers, and the event loop is left (or never entered).
void endProgram(int exitCode = 0);
bool programEnded();
int programExitCode();
void resetProgramEndedForTests();

} // namespace common
