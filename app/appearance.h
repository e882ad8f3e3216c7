#pragma once
// What both windows share: the system button-face colour, their place on the
// screen when first shown, and the hand pointer over their buttons.

#include <QColor>

class QWidget;

namespace ui {
class WindowPointer;
}

namespace app {

class ErrorTrap;

// The system button-face colour.
QColor systemButtonFace();

// The system button-face colour on a window and its frames and labels.
void ApplySystemBackColors(QWidget* window);

// Centres the window on its screen the first time it is shown, and tells
// whether this was that first time; later showings keep where the user put it.
bool CentreOnFirstShow(QWidget* window, bool& centred);

// Loads HAND-M.CUR from the application folder as the window's custom pointer,
// under the handler's trap: whether the file is there is step checkLine, the
// loading (only when it is there) step loadLine.
void LoadHandCursor(ErrorTrap& trap, int checkLine, int loadLine, ui::WindowPointer& pointer);

} // namespace app
