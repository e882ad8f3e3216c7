#pragma once
// Printing a PDF through CUPS, as document viewers do: the file goes to the
// chosen queue whole, with the print dialog's choices as job options, and the
// printing system lays it onto paper. Every exchange with CUPS is bounded in
// time, so a printing system that does not answer never holds the window.

#include "platform/automation/automation.h"
#include "platform/ui/printdialog.h"

#include <QString>
#include <QStringList>

namespace exporting {

// The printing system is not running, cannot be reached or does not answer:
// nothing the user did wrong, and nothing a report to support would mend.
class PrintingUnreachable : public automation::Error {
  public:
    using automation::Error::Error;
};

struct Printers {
    QStringList names;   // queues, and instances as "queue/instance"
    QString defaultName; // may be empty
};

// The printers CUPS offers. Throws PrintingUnreachable when CUPS cannot be
// reached or does not answer.
Printers listPrinters();

// Sends the PDF to the chosen printer; returns the job's number. Throws
// PrintingUnreachable when CUPS cannot be reached, automation::Error when the
// printer refuses the job.
int printPdfFile(const QString& pdfPath, const QString& title, const ui::PrintChoice& choice);

} // namespace exporting
