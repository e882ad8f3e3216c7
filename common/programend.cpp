#include "programend.h"

#include <QApplication>
#include <QWidget>

namespace common {

namespace {
bool gEnded = false;
int gExitCode = 0;
} // namespace

void endProgram(int exitCode) {
    gEnded = true;
    gExitCode = exitCode;
    // Deleting a window does not run its closing handlers; hide first so
    // nothing is seen between now and the deferred delete.
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows) {
        if (w->parentWidget() == nullptr) {
            w->hide();
            w->deleteLater();
        }
    }
    QCoreApplication::exit(exitCode);
}

bool programEnded() {
    return gEnded;
}
int programExitCode() {
    return gExitCode;
}
void resetProgramEndedForTests() {
    gEnded = false;
    gExitCode = 0;
}

} // namespace common
