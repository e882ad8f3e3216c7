#include "commondialog.h"

#include <QFileDialog>

namespace ui {

namespace {
SaveDialogHandler& handlerStore() {
    static SaveDialogHandler h;
    return h;
}
} // namespace

void setSaveDialogHandler(SaveDialogHandler handler) {
    handlerStore() = std::move(handler);
}

void CommonDialog::ShowSave() {
    SaveDialogRequest req;
    req.title = DialogTitle;
    const qsizetype bar = Filter.indexOf(QLatin1Char('|'));
    req.filterDescription = bar < 0 ? Filter : Filter.left(bar);
    req.filterPattern = bar < 0 ? QString() : Filter.mid(bar + 1);
    req.initialName = FileName;

    if (handlerStore()) {
        FileName = handlerStore()(req);
        return;
    }

    QFileDialog dlg(mOwner, req.title);
    dlg.setAcceptMode(QFileDialog::AcceptSave);
    dlg.setFileMode(QFileDialog::AnyFile);
    dlg.setOption(QFileDialog::DontConfirmOverwrite, true);
    if (!req.filterPattern.isEmpty()) {
        // Qt wants "Description (pattern)"; avoid doubling a pattern the text already shows.
        QString entry = req.filterDescription;
        if (!entry.contains(req.filterPattern))
            entry += QStringLiteral(" (%1)").arg(req.filterPattern);
        else if (!entry.contains(QLatin1Char('(')))
            entry += QStringLiteral(" (%1)").arg(req.filterPattern);
        dlg.setNameFilter(entry);
    }
    if (!req.initialName.isEmpty())
        dlg.selectFile(req.initialName);
    FileName = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
                   ? dlg.selectedFiles().constFirst()
                   : QString();
}

} // namespace ui
