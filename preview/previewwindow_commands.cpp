// The preview window's commands: saving, the PDF and printing (done by
// export/), and leaving: "< Back" asks for the main window, closing the window
// ends the program. Both delete the filled document first.

#include "common/programend.h"
#include "preview/previewwindow.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "common/procnames.h"
#include "export/saving.h"

#include <QCloseEvent>
#include <QCoreApplication>

using common::ErrorTrap;

void PreviewWindow::saveClicked() {
    ErrorTrap trap(common::proc::saveClicked);
    exporting::saveWordCopy(trap, saveDialog, mWordFile);
}

void PreviewWindow::savePdfClicked() {
    ErrorTrap trap(common::proc::savePdfClicked);
    exporting::savePdfCopy(trap, saveDialog, pointer, mWordFile);
}

void PreviewWindow::printClicked() {
    ErrorTrap trap(common::proc::printClicked);
    exporting::printDocument(trap, this, pointer, mWordFile);
}

void PreviewWindow::backClicked() {
    ErrorTrap trap(common::proc::backClicked);
    trap.at(102, [&] { common::deleteFileQuietly(mWordFile); });
    trap.at(104, [&] { emit backRequested(); });
    trap.at(106, [&] { hide(); });
}

// The close always goes ahead, whatever its reason.
void PreviewWindow::queryUnload(int& cancel, int unloadMode) {
    Q_UNUSED(cancel);
    Q_UNUSED(unloadMode);
    ErrorTrap trap(common::proc::queryUnload);
    trap.at(100, [&] { common::deleteFileQuietly(mWordFile); });
    trap.at(102, [&] { QCoreApplication::processEvents(); });
    trap.at(104, [&] { QCoreApplication::processEvents(); });
}

void PreviewWindow::unload() {
    common::endProgram(0);
}

void PreviewWindow::closeEvent(QCloseEvent* e) {
    int cancel = 0;
    // 0: closed by the user from the window's own controls; 1: by code.
    queryUnload(cancel, e->spontaneous() ? 0 : 1);
    e->accept();
    unload();
}
