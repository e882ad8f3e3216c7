#pragma once
// Printing a PDF through CUPS, as document viewers do: the file goes to the
// chosen queue whole, with the print dialog's choices as job options, and the
// printing system lays it onto paper. Every exchange with CUPS is bounded in
// time, so a printing system that does not answer never holds the window.

#include "platform/ui/printdialog.h"

#include <QString>
#include <QStringList>

namespace exporting {

struct Printers {
    QStringList names;   // queues, and instances as "queue/instance"
    QString defaultName; // may be empty
};

// The printers CUPS offers. Throws automation::Error saying so when CUPS
// cannot be reached or does not answer.
Printers ListPrinters();

// Sends the PDF to the chosen printer; returns the job's number. Throws
// automation::Error saying so when CUPS cannot be reached or the printer
// refuses the job.
int PrintPdfFile(const QString& pdfPath, const QString& title, const ui::PrintChoice& choice);

} // namespace exporting
