// "Save as PDF...": the filled document as an archival PDF (PDF/A-2b) where
// the user wants it, under the same rules as saving the Word file.

#include "preview/form2.h"

#include "app/errortrap.h"
#include "app/files.h"
#include "app/procnames.h"
#include "export/pdfexport.h"
#include "platform/automation/automation.h"
#include "platform/ui/msgbox.h"

#include <QTemporaryDir>

using app::ErrorTrap;

// The PDF is written apart and copied over the target only once it is whole,
// so a failed export or copy leaves an existing file exactly as it was.
void Form2::mnuSaveAsPdf_Click() {
    ErrorTrap trap(app::proc::Form2_mnuSaveAsPdf_Click);
    QString target;
    int16_t answer = 0;
    trap.at(100, [&] { CommonDialog1.FileName = QString(); });
    trap.at(102, [&] { CommonDialog1.DialogTitle = QStringLiteral("Save as PDF"); });
    trap.at(104, [&] { CommonDialog1.Filter = QStringLiteral("PDF Files (*.pdf)|*.pdf"); });
    trap.at(106, [&] { CommonDialog1.ShowSave(); });
    trap.at(108, [&] { target = CommonDialog1.FileName; });
    if (target.isEmpty())
        return;
    bool exists = false;
    // Asked the same way as the Word file: a link that points nowhere counts.
    trap.at(110, [&] { exists = app::NameTaken(target); });
    if (exists) {
        trap.at(112, [&] {
            answer = static_cast<int16_t>(
                ui::MsgBox(QStringLiteral("Are you sure you wish to overwrite ") + target +
                               QStringLiteral(" ?"),
                           ui::vbYesNo));
        });
    } else {
        answer = ui::vbYes;
    }
    if (answer != ui::vbYes)
        return;

    QTemporaryDir staging(app::TempFolder() + QStringLiteral("/pdf-XXXXXX"));
    const QString pdf = staging.filePath(QStringLiteral("notice.pdf"));
    bool exported = false;
    trap.at(114, [&] { Pointer.SetMousePointer(ui::vbHourglass); });
    trap.at(116, [&] {
        if (!staging.isValid())
            throw automation::Error(staging.errorString());
        exporting::ExportDocumentAsPdf(mWordFile, pdf, true);
        exported = true;
    });
    trap.at(118, [&] { Pointer.SetMousePointer(ui::vbDefault); });
    bool saved = false;
    if (exported)
        trap.at(120, [&] {
            app::CopyFileWhole(pdf, target);
            saved = true;
        });
    if (saved)
        trap.at(122, [&] { ui::MsgBox(QStringLiteral("Done."), ui::vbOKOnly); });
}
