#include "printdialog.h"

#include <QPageRanges>
#include <QPrintDialog>
#include <QPrinter>

namespace ui {

namespace {
PrintDialogHandler& handlerStore() {
    static PrintDialogHandler h;
    return h;
}
} // namespace

void setPrintDialogHandler(PrintDialogHandler handler) {
    handlerStore() = std::move(handler);
}

PrintChoice ShowPrintDialog(QWidget* owner, const PrintDialogRequest& request) {
    if (handlerStore())
        return handlerStore()(request);

    QPrinter printer(QPrinter::HighResolution);
    if (!request.defaultPrinter.isEmpty())
        printer.setPrinterName(request.defaultPrinter);
    printer.setDocName(request.title);
    QPrintDialog dlg(&printer, owner);
    dlg.setWindowTitle(request.title);
    dlg.setOptions(QAbstractPrintDialog::PrintPageRange | QAbstractPrintDialog::PrintCollateCopies);
    if (request.pageCount > 0)
        dlg.setMinMax(1, request.pageCount);

    PrintChoice choice;
    if (dlg.exec() != QDialog::Accepted)
        return choice;
    choice.accepted = true;
    choice.printer = printer.printerName();
    choice.copies = std::max(1, printer.copyCount());
    choice.collate = printer.collateCopies();
    if (printer.printRange() == QPrinter::PageRange && !printer.pageRanges().isEmpty())
        choice.pageRanges = printer.pageRanges().toString();
    switch (printer.duplex()) {
    case QPrinter::DuplexLongSide:
        choice.sides = PrintChoice::Sides::LongEdge;
        break;
    case QPrinter::DuplexShortSide:
        choice.sides = PrintChoice::Sides::ShortEdge;
        break;
    default:
        choice.sides = PrintChoice::Sides::OneSided;
    }
    return choice;
}

} // namespace ui
