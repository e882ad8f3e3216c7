// Leaving the preview: "< Back" returns to the main window, closing the window
// ends the program. Both delete the filled document first.

#include "preview/form2.h"

#include "app/errortrap.h"
#include "app/files.h"
#include "app/form1.h"
#include "app/procnames.h"
#include "app/shell.h"

#include <QCloseEvent>
#include <QCoreApplication>

using app::ErrorTrap;

void Form2::PushButton8_Click() {
    ErrorTrap trap(app::proc::Form2_PushButton8_Click);
    trap.at(102, [&] { app::DeleteFileQuietly(mWordFile); });
    trap.at(104, [&] {
        // The main window lives for the whole run; should it be gone, showing
        // it loads it again, as the first reference to it would.
        Form1* main = Form1::instance();
        if (!main)
            main = Form1::create();
        if (!app::programEnded())
            main->show();
    });
    trap.at(106, [&] { hide(); });
}

// The close always goes ahead, whatever its reason.
void Form2::Form_QueryUnload(int& Cancel, int UnloadMode) {
    Q_UNUSED(Cancel);
    Q_UNUSED(UnloadMode);
    ErrorTrap trap(app::proc::Form2_Form_QueryUnload);
    trap.at(100, [&] { app::DeleteFileQuietly(mWordFile); });
    trap.at(102, [&] { QCoreApplication::processEvents(); });
    trap.at(104, [&] { QCoreApplication::processEvents(); });
}

void Form2::Form_Unload() {
    app::EndProgram(0);
}

void Form2::closeEvent(QCloseEvent* e) {
    int cancel = 0;
    // 0: closed by the user from the window's own controls; 1: by code.
    Form_QueryUnload(cancel, e->spontaneous() ? 0 : 1);
    e->accept();
    Form_Unload();
}
