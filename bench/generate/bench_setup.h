#pragma once
// What both generation benchmarks do before their first run: a private TEMP
// and settings store, the plugin this build made, and message boxes printed
// instead of waiting for a person.

#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <cstdio>

inline void prepareBenchEnvironment(const QTemporaryDir& sandbox) {
    qputenv("TEMP", QFile::encodeName(sandbox.path() + QStringLiteral("/tmp")));
    qputenv("XDG_CONFIG_HOME", QFile::encodeName(sandbox.path() + QStringLiteral("/config")));
    QDir().mkpath(sandbox.path() + QStringLiteral("/tmp"));
}

inline void answerBenchBoxes() {
#ifdef VELTRANE_OFFICE_PLUGIN
    automation::setOfficePluginPath(QStringLiteral(VELTRANE_OFFICE_PLUGIN));
#endif
    ui::setMsgBoxHandler([](const ui::MsgBoxRequest& r) {
        std::fprintf(stderr, "box: %s\n", qPrintable(ui::displayText(r.prompt)));
        return int(ui::vbOK);
    });
}
