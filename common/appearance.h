#pragma once
// What both windows share: the system button-face colour, their place on the
// screen when first shown, and the hand pointer over their buttons.

#include <QColor>

class QWidget;

namespace ui {
class SkinFramework;
class WindowPointer;
} // namespace ui

namespace common {

class ErrorTrap;

// The skin file's look and the system colours for window; without the skin
// file nothing changes.
void applySkin(QWidget* window, ui::SkinFramework& skin);

// The system button-face colour.
QColor systemButtonFace();

// The system button-face colour on a window and its frames and labels.
void applySystemBackColors(QWidget* window);

// Centres the window on its screen the first time it is shown, and tells
// whether this was that first time; later showings keep where the user put it.
bool centreOnFirstShow(QWidget* window, bool& centred);

// Loads HAND-M.CUR from the application folder as the window's custom pointer,
// under the handler's trap: whether the file is there is step checkLine, the
// loading (only when it is there) step loadLine.
void loadHandCursor(ErrorTrap& trap, int checkLine, int loadLine, ui::WindowPointer& pointer);

} // namespace common
