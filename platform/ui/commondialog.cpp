#include "commondialog.h"

#include <QFileDialog>
#include <QRegularExpression>

namespace ui {

namespace {
SaveDialogHandler& handlerStore() {
    static SaveDialogHandler h;
    return h;
}
// "doc" for "*.doc" (the first of several patterns); "" where the pattern
// names no single extension.
QString suffixOf(const QString& patterns) {
    const QString first = patterns.section(QRegularExpression(QStringLiteral("[;\\s]+")), 0, 0,
                                           QString::SectionSkipEmpty);
    if (!first.startsWith(QLatin1String("*.")))
        return QString();
    const QString suffix = first.mid(2);
    static const QRegularExpression plain(QStringLiteral("^[^*?\\[\\]./]+$"));
    return plain.match(suffix).hasMatch() ? suffix : QString();
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
    req.defaultSuffix = suffixOf(req.filterPattern);

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
    dlg.setDefaultSuffix(req.defaultSuffix);
    if (!req.initialName.isEmpty())
        dlg.selectFile(req.initialName);
    FileName = dlg.exec() == QDialog::Accepted && !dlg.selectedFiles().isEmpty()
                   ? dlg.selectedFiles().constFirst()
                   : QString();
}

} // namespace ui
