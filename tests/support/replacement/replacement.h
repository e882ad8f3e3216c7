#pragma once
// The program's own replacement of one placeholder in every story, for the
// tests that drive the real office. A step the program would report is a
// test failure here, not a message box.

#include "common/errortrap.h"
#include "generate/generation.h"
#include "platform/automation/automation.h"
#include "tests/support/testenv.h"

#include <QString>
#include <QTest>

namespace testsupport {

inline void replaceInStories(const automation::Object& doc, const QString& find,
                             const QString& with) {
    MsgBoxRecorder reports;
    common::ErrorTrap trap("replacement in every story");
    generate::replaceInStories(trap, doc, find, with);
    QVERIFY2(reports.seen.isEmpty(), qPrintable(reports.prompts().join(QStringLiteral("\n"))));
}

} // namespace testsupport
