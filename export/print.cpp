// "Print...": the filled document on paper, every page as the document lays
// it out, through the printing system and the print dialog's choices.

#include "preview/form2.h"

#include "app/errortrap.h"
#include "app/files.h"
#include "app/procnames.h"
#include "export/pdfexport.h"
#include "export/printing.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/printdialog.h"

#include <QTemporaryDir>

using app::ErrorTrap;

namespace {

// Said as plainly as that no printer is set up: the reason is in the log.
void tellPrintingUnreachable() {
    ui::MsgBox(QStringLiteral("The printing system (CUPS) is not running or cannot be reached, so "
                              "nothing can be printed now. Start the printing service, or ask "
                              "whoever looks after this computer, then print again."),
               ui::vbOKOnly | ui::vbExclamation);
}

} // namespace

void Form2::mnuPrint_Click() {
    ErrorTrap trap(app::proc::Form2_mnuPrint_Click);
    // First whether there is anything to print on, so that nobody fills in the
    // dialog for nothing.
    exporting::Printers printers;
    bool reached = false;
    bool unreachable = false;
    trap.at(100, [&] {
        try {
            printers = exporting::ListPrinters();
            reached = true;
        } catch (const exporting::PrintingUnreachable&) {
            unreachable = true;
        }
    });
    if (unreachable) {
        trap.at(102, [&] { tellPrintingUnreachable(); });
        return;
    }
    if (!reached)
        return;
    if (printers.names.isEmpty()) {
        trap.at(102, [&] {
            ui::MsgBox(QStringLiteral("No printer is set up on this computer. Add a printer in "
                                      "the system's printer settings, then print again."),
                       ui::vbOKOnly | ui::vbExclamation);
        });
        return;
    }

    QTemporaryDir staging(app::TempFolder() + QStringLiteral("/pdf-XXXXXX"));
    const QString pdf = staging.filePath(QStringLiteral("notice.pdf"));
    int pages = 0;
    bool exported = false;
    trap.at(104, [&] { Pointer.SetMousePointer(ui::vbHourglass); });
    trap.at(106, [&] {
        if (!staging.isValid())
            throw automation::Error(staging.errorString());
        pages = exporting::ExportDocumentAsPdf(mWordFile, pdf, false);
        exported = true;
    });
    trap.at(108, [&] { Pointer.SetMousePointer(ui::vbDefault); });
    if (!exported)
        return;

    const QString title = QStringLiteral("Warning notice");
    ui::PrintChoice choice;
    trap.at(110, [&] {
        choice = ui::ShowPrintDialog(this,
                                     ui::PrintDialogRequest{QStringLiteral("Print"), printers.names,
                                                            printers.defaultName, pages});
    });
    if (!choice.accepted)
        return;
    trap.at(112, [&] {
        try {
            exporting::PrintPdfFile(pdf, title, choice);
        } catch (const exporting::PrintingUnreachable&) {
            tellPrintingUnreachable();
        }
    });
}
