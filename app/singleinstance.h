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
// status when this start has handed over to a running program (0) or could
// not reach one that holds the claim (1); nothing when this process is the
// running program: it then answers later starts until it ends.
std::optional<int> handOverToRunningProgram();

// The window a later start brings to the front: an open modal box, else the
// visible window (the main window or the preview); nullptr when none is shown.
QWidget* windowToBringForward();

// Where the claim is kept: the folder, private to the user, and the name that
// two copies sharing the temporary folder would share. Empty when no private
// folder can be had.
QString singleInstanceSocketPath();

} // namespace app
