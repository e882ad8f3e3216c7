// "Start Creating Template": the whole road of one generation, from the
// template to the preview window.

#include "app/mainwindow.h"
#include "common/errortrap.h"
#include "common/files.h"
#include "common/procnames.h"
#include "common/programend.h"
#include "generate/generation.h"
#include "platform/automation/stageclock.h"
#include "platform/ui/picture.h"
#include "preview/previewwindow.h"

#include <QApplication>
#include <QPointer>

using automation::StageClock;
using common::ErrorTrap;

void MainWindow::createClicked() {
    ErrorTrap trap(common::proc::createClicked);
    bool busy = false;
    trap.at(100, [&] { busy = mBusy; });
    if (busy)
        return;
    trap.at(102, [&] { mBusy = true; });
    trap.at(104, [&] { pointer.SetMousePointer(ui::vbHourglass); });

    // Steps 106 to 196: the template filled, saved and rendered.
    const generate::Notice notice = generate::makeNotice(trap, fieldValues());

    trap.at(198, [&] { pointer.SetMousePointer(ui::vbDefault); });
    // Hand-over to the preview window.
    trap.at(200, [&] {
        PreviewWindow* preview = previewWindow();
        QImage picture;
        try {
            StageClock clock("temp.bmp read");
            picture = ui::LoadPicture(notice.picture);
        } catch (...) {
            // Never leave the last document's picture beside this document's path.
            preview->setPicture(QImage());
            throw;
        }
        StageClock clock("picture handed to the preview");
        preview->setPicture(picture);
    });
    trap.at(202, [&] { previewWindow()->mWordFile = notice.document; });
    trap.at(204, [&] {
        StageClock clock("preview shown");
        previewWindow()->show();
    });
    trap.at(206, [&] { hide(); });
    trap.at(208, [&] { common::deleteFileQuietly(notice.picture); });
    trap.at(210, [&] { mBusy = false; });
}

// The preview window, loaded at its first use; its Back brings this window
// back, or loads it again should it be gone.
PreviewWindow* MainWindow::previewWindow() {
    static QPointer<PreviewWindow> wired;
    PreviewWindow* preview = PreviewWindow::instance();
    if (wired != preview) {
        // Not this window's slot: Back must work even should this window be gone.
        connect(preview, &PreviewWindow::backRequested, qApp, &MainWindow::showAgain);
        wired = preview;
    }
    return preview;
}

void MainWindow::showAgain() {
    MainWindow* main = instance();
    if (!main)
        main = create();
    if (!common::programEnded())
        main->show();
}
