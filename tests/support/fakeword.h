#pragma once
// A recording stand-in for "Word.Application": a tiny document model (stories
// and shape text frames as plain strings) that does literal replace-all, and a
// log of every member call with its arguments and their widths.

#include "platform/automation/automation.h"

#include <QImage>
#include <QMap>
#include <QStringList>
#include <functional>
#include <memory>

namespace testsupport {

struct FakeWordState {
    // What the next opened document holds: story texts and shape frame texts.
    QStringList stories{QStringLiteral("[EmployeeName] [Manager]")};
    QStringList shapeTexts;
    QList<bool> shapeHasText; // parallel to shapeTexts; missing entries count as true

    QStringList log; // "Application.Documents.Get()", ...
    int instancesCreated = 0;
    int instancesQuit = 0;
    int liveInstances = 0; // created and not yet destroyed
    bool failCreate = false;

    // Throw an automation::Error from the call whose log line starts with this
    // text (after "failAfter" matching calls have gone through).
    QString failOn;
    int failAfter = 0;
    int failTimes = 1 << 30; // how many matching calls fail

    // The picture CopyAsPicture puts on the clipboard.
    QImage picture;

    // Called on every logged call (after logging, before failing); tests use it
    // to act in the middle of a run, e.g. click again.
    std::function<void(const QString&)> onCall;

    // Documents saved: path -> story texts joined with "\n----\n", and the
    // shapes' frame texts.
    QMap<QString, QString> saved;
    QMap<QString, QStringList> savedShapes;
    // Documents opened: path -> whether read-only (the last opening).
    QMap<QString, bool> openedReadOnly;
};

// Registers the fake under "Word.Application" and returns its shared state.
std::shared_ptr<FakeWordState> installFakeWord();
// Removes it again.
void uninstallFakeWord();

} // namespace testsupport
