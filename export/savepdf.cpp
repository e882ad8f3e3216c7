// "Save as PDF...": the filled document as an archival PDF (PDF/A-2b) where
// the user wants it, under the same rules as saving the Word file.

#include "export/saving.h"

#include "common/errortrap.h"
#include "common/files.h"
#include "export/pdfexport.h"
#include "platform/automation/automation.h"
#include "platform/ui/commondialog.h"
#include "platform/ui/msgbox.h"
#include "platform/ui/pointer.h"

#include <QTemporaryDir>

using common::ErrorTrap;

namespace exporting {

// The PDF is written apart and copied over the target only once it is whole,
// so a failed export or copy leaves an existing file exactly as it was.
void savePdfCopy(ErrorTrap& trap, ui::CommonDialog& dialog, ui::WindowPointer& pointer,
                 const QString& document) {
    QString target;
    trap.at(100, [&] { dialog.FileName = QString(); });
    trap.at(102, [&] { dialog.DialogTitle = QStringLiteral("Save as PDF"); });
    trap.at(104, [&] { dialog.Filter = QStringLiteral("PDF Files (*.pdf)|*.pdf"); });
    trap.at(106, [&] { dialog.ShowSave(); });
    trap.at(108, [&] { target = dialog.FileName; });
    if (target.isEmpty())
        return;
    // Asked the same way as the Word file: a link that points nowhere counts.
    if (askBeforeOverwrite(trap, target, {110, 112, 0}) != ui::vbYes)
        return;

    QTemporaryDir staging(common::tempFolder() + QStringLiteral("/pdf-XXXXXX"));
    const QString pdf = staging.filePath(QStringLiteral("notice.pdf"));
    bool exported = false;
    trap.at(114, [&] { pointer.SetMousePointer(ui::vbHourglass); });
    trap.at(116, [&] {
        if (!staging.isValid())
            throw automation::Error(staging.errorString());
        exporting::exportDocumentAsPdf(document, pdf, true);
        exported = true;
    });
    trap.at(118, [&] { pointer.SetMousePointer(ui::vbDefault); });
    bool saved = false;
    if (exported)
        trap.at(120, [&] {
            common::copyFileWhole(pdf, target);
            saved = true;
        });
    if (saved)
        trap.at(122, [&] { ui::MsgBox(QStringLiteral("Done."), ui::vbOKOnly); });
}

} // namespace exporting
