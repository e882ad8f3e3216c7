#pragma once
// One running program per user and temporary folder. Two copies would share
// the fixed file names in TEMP, so a second start hands over to the first:
// it asks the running program to bring its visible window to the front, and
// ends before it touches TEMP, the settings or the office.

#include <QString>
#include <optional>

class QWidget;

namespace app {

// Call once at start-up, with the application object made. Returns the exit
// status when this start has handed over to a running program (0); nothing
// when this process is to run: it then answers later starts until its event
// loop ends, and holds the claim until the application object goes. A
// program that is ending is waited for; one that holds the claim but never
// answers is waited for a while, then this one runs all the same.
std::optional<int> handOverToRunningProgram();

// The program ends without entering its event loop: later starts are no
// longer answered, though the claim is held until the application object goes.
void stopAnsweringLaterStarts();

// The window a later start brings to the front: an open modal box, else the
// visible window (the main window or the preview); nullptr when none is shown.
QWidget* windowToBringForward();

// Where the claim is kept: one folder per user, private to them, whatever the
// environment, and the name that two copies sharing the temporary folder
// would share. Empty when no private folder can be had.
QString singleInstanceSocketPath();

} // namespace app
