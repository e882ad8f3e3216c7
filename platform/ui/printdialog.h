#pragma once
// The system print dialog: which printer, how many copies, which pages. It
// only asks; printing itself is done by whoever asked.

#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace ui {

struct PrintDialogRequest {
    QString title;
    QStringList printers;   // as the printing system names them
    QString defaultPrinter; // preselected; may be empty
    int pageCount = 0;      // the pages a range may name (0: unknown)
};

struct PrintChoice {
    enum class Sides { OneSided, LongEdge, ShortEdge };
    bool accepted = false; // false: the user cancelled
    QString printer;
    int copies = 1;
    bool collate = true;
    QString pageRanges; // "1-2,4"; empty for every page
    Sides sides = Sides::OneSided;
};

// Shows the dialog, modal to owner. Printing to a file is not offered there:
// saving as PDF does that.
PrintChoice ShowPrintDialog(QWidget* owner, const PrintDialogRequest& request);

// Test seam: while set, the dialog is answered by the handler.
using PrintDialogHandler = std::function<PrintChoice(const PrintDialogRequest&)>;
void setPrintDialogHandler(PrintDialogHandler handler);

} // namespace ui
