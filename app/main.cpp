// Veltrane: employee warning notices, filled in by a real word processor.

#include "app/commandline.h"
#include "app/mainwindow.h"
#include "app/singleinstance.h"
#include "app/stopsignals.h"
#include "common/heap.h"
#include "common/programend.h"

#include <QApplication>

int main(int argc, char** argv) {
    common::restartWithHugePageHeap(argv);
    common::useOneHeapForAllThreads();
    if (const int status = app::runCommandLine(argc, argv); status >= 0)
        return status;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Veltrane"));
    QApplication::setDesktopFileName(QStringLiteral("veltrane"));

    if (const auto handedOver = app::handOverToRunningProgram())
        return *handedOver;

    app::CloseOnStopSignals stopSignals;
    MainWindow* form = MainWindow::create();
    if (common::programEnded()) {
        app::stopAnsweringLaterStarts();
        return stopSignals.exitStatus(common::programExitCode());
    }
    form->show();
    // Once the event loop is over, later starts are no longer answered
    // (they wait for the claim); the office's end may take a few seconds.
    return stopSignals.exitStatus(QApplication::exec());
}
