// "Print...": the filled document on paper, every page as the document lays
// it out, through the printing system and the print dialog's choices.

#include "export/saving.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "export/pdfexport.h"
#include "export/printing.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/pointer.h"
#include "platform/ui/printdialog.h"

#include <QTemporaryDir>

using common::ErrorTrap;

namespace {

// Said as plainly as that no printer is set up: the reason is in the log.
void tellPrintingUnreachable() {
    ui::MsgBox(QStringLiteral("The printing system (CUPS) is not running or cannot be reached, so "
                              "nothing can be printed now. Start the printing service, or ask "
                              "whoever looks after this computer, then print again."),
               ui::vbOKOnly | ui::vbExclamation);
}

// Whether there is anything to print on, said to the user when not; the
// printers when there is.
bool findPrinters(ErrorTrap& trap, exporting::Printers& printers) {
    bool reached = false;
    bool unreachable = false;
    trap.at(100, [&] {
        try {
            printers = exporting::listPrinters();
            reached = true;
        } catch (const exporting::PrintingUnreachable&) {
            unreachable = true;
        }
    });
    if (unreachable) {
        trap.at(102, [&] { tellPrintingUnreachable(); });
        return false;
    }
    if (!reached)
        return false;
    if (printers.names.isEmpty()) {
        trap.at(102, [&] {
            ui::MsgBox(QStringLiteral("No printer is set up on this computer. Add a printer in "
                                      "the system's printer settings, then print again."),
                       ui::vbOKOnly | ui::vbExclamation);
        });
        return false;
    }
    return true;
}

} // namespace

namespace exporting {

void printDocument(ErrorTrap& trap, QWidget* window, ui::WindowPointer& pointer,
                   const QString& document) {
    // First whether there is anything to print on, so that nobody fills in the
    // dialog for nothing.
    exporting::Printers printers;
    if (!findPrinters(trap, printers))
        return;

    QTemporaryDir staging(common::tempFolder() + QStringLiteral("/pdf-XXXXXX"));
    const QString pdf = staging.filePath(QStringLiteral("notice.pdf"));
    int pages = 0;
    bool exported = false;
    trap.at(104, [&] { pointer.SetMousePointer(ui::vbHourglass); });
    trap.at(106, [&] {
        if (!staging.isValid())
            throw automation::Error(staging.errorString());
        pages = exporting::exportDocumentAsPdf(document, pdf, false);
        exported = true;
    });
    trap.at(108, [&] { pointer.SetMousePointer(ui::vbDefault); });
    if (!exported)
        return;

    const QString title = QStringLiteral("Warning notice");
    ui::PrintChoice choice;
    trap.at(110, [&] {
        choice = ui::ShowPrintDialog(window,
                                     ui::PrintDialogRequest{QStringLiteral("Print"), printers.names,
                                                            printers.defaultName, pages});
    });
    if (!choice.accepted)
        return;
    trap.at(112, [&] {
        try {
            exporting::printPdfFile(pdf, title, choice);
        } catch (const exporting::PrintingUnreachable&) {
            tellPrintingUnreachable();
        }
    });
}

} // namespace exporting
