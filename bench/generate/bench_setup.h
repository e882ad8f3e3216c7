#pragma once
// What both generation benchmarks do before their first run: a private TEMP
// and settings store, the plugin this build made, message boxes printed
// instead of waiting for a person, and the main window started.

#include "app/mainwindow.h"
#include "common/programend.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

inline void prepareBenchEnvironment(const QTemporaryDir& sandbox) {
    qputenv("TEMP", QFile::encodeName(sandbox.path() + QStringLiteral("/tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("/config")));
    QDir().mkpath(sandbox.path() + QStringLiteral("/tmp"));
}

#ifdef VELTRANE_OFFICE_PLUGIN
// The plugin this build made, or with BENCH_OFFICE_PLUGIN another build's, to
// compare it with this one's.
inline QString benchOfficePlugin() {
    const QString other = qEnvironmentVariable("BENCH_OFFICE_PLUGIN");
    return other.isEmpty() ? QStringLiteral(VELTRANE_OFFICE_PLUGIN) : other;
}
#endif

inline void answerBenchBoxes() {
#ifdef VELTRANE_OFFICE_PLUGIN
    automation::setOfficePluginPath(benchOfficePlugin());
#endif
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& r) {
        std::fprintf(stderr, "box: %s\n", qPrintable(ui::displayText(r.prompt)));
        return int(ui::vbOK);
    });
}

// The main window as a user first sees it; null when the program ended
// because it has no word processor.
inline MainWindow* startProgram() {
    MainWindow* form = MainWindow::create();
    if (common::programEnded()) {
        std::fprintf(stderr, "no word processor: cannot measure\n");
        return nullptr;
    }
    form->show();
    QCoreApplication::processEvents();
    return form;
}
