#include "wordcheck.h"

#include "common/programend.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <cstdio>

namespace generate {

void checkWordAvailable() {
    automation::Object wordApp;
    QString why;
    try {
        wordApp = automation::createObject(QStringLiteral("Word.Application"));
    } catch (const std::exception& e) {
        why = QString::fromUtf8(e.what());
    } catch (...) {
        why = QStringLiteral("unexpected failure");
    }
    if (wordApp.isNothing()) {
        // The box speaks of Word; say here what is really missing.
        std::fprintf(stderr,
                     "veltrane: no word processor could be started (%s). Veltrane needs "
                     "LibreOffice Writer: install the Debian package libreoffice-writer-nogui.\n",
                     why.toLocal8Bit().constData());
        const QString gap = QStringLiteral("\r\n\r\n");
        ui::MsgBox(
            QStringLiteral("Error 842001. A normal instance of Word could not be created.") + gap +
                QStringLiteral("1. Please make sure Word is installed on this computer.") + gap +
                QStringLiteral("2. Please open Word normally and make sure a blank document "
                               "opens immediately without any interrupting window (such as "
                               "an Word file recovery window).") +
                gap +
                QStringLiteral("3. Please make sure that when you double-click on a DOC or "
                               "DOCX file that Word opens normally without any interrupting "
                               "messages.") +
                gap +
                QStringLiteral("4. All versions of Word are supported by this software "
                               "except for the rare Word Starter and Student editions."),
            ui::vbOKOnly);
        common::endProgram(1);
        return;
    }
    try {
        wordApp.call(QStringLiteral("quit"));
    } catch (...) {
        // A failing quit is of no concern here; releasing ends the instance anyway.
    }
    wordApp.release();
}

} // namespace generate
